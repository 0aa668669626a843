#pragma once
// What the reader learns from the compressed video chunks of an AVI on their
// way from the demuxer to the decoder.
//
// avidemux stamps each chunk with its chunk number x period, which is the
// decode order: with B-frames that is not the order pictures are shown in,
// and the decoder's reordering of those stamps goes wrong at every open
// group of pictures and in packed bitstreams. So the reader takes the
// stamps away before the decoder (it then stamps nothing) and numbers the
// decoded pictures itself: pictures leave the decoder in display order, so
// counting them from one whose display number is known gives every display
// number. That one is the keyframe a playback starts from (chunk 0, or the
// keyframe a seek lands on): its display number is its chunk number, plus,
// in a plain MPEG-4 Part 2 stream and an open MPEG-1/2 group, the
// B-pictures that follow it in the file but are shown before it, which
// reference the previous group and are not decoded after a seek. (In a packed bitstream each reference picture sits
// in the chunk of its own display slot. With H.264, after an IDR keyframe as
// after an open group's intra keyframe, the first picture the decoder
// delivers is shown at the keyframe's chunk slot.)
//
// Two more things happen on the way. The segment a flushing seek sends is
// made to start at 0, since the decoder would drop the pictures before the
// seek position by times it guesses for them; the reader drops what lies
// before its target itself. And chunks before the first real keyframe after
// a start or a seek (told from the bitstream: without an index the demuxer
// cannot tell) never reach the decoder. The demuxer's streaming thread and
// the reader's thread meet in this object, under its mutex.

#include <gst/gst.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>

namespace qsVideoReader {

class ChunkTrack : public std::enable_shared_from_this<ChunkTrack> {
public:
    // Watches `pipeline` (a playbin) for its AVI demuxer and tracks the
    // video chunks of the file from then on.
    static std::shared_ptr<ChunkTrack> attach(GstElement* pipeline);
    void detach();
    ~ChunkTrack();

    // Whether the stream's pictures are numbered by the reader (an AVI video
    // stream whose decoder may reorder pictures).
    bool numbered() const;
    // The display time, in nanoseconds, of the first picture the decoder
    // delivers after the last start or flush that is not skipped (see
    // watchDecoded); false before the keyframe passed. `periodNs` is one frame period.
    bool anchor(std::uint64_t periodNs, std::uint64_t& timeNs) const;
    // In a packed MPEG-4 bitstream: the display time, in nanoseconds, of the
    // next picture the decoder delivers, taken from the list the chunks make
    // (see below); false when the stream is not packed or the list is empty.
    bool nextShown(std::uint64_t& timeNs);

    // After a seek, the pictures shown well before the reader's target are
    // of no use to it; converting them to RGB costs about as much as
    // decoding them. `pad` carries the decoded pictures of the video stream
    // played; from then on the first pictures after a flush that are shown
    // before `timeNs` (see skipBefore) stop there, and anchor() counts them.
    void watchDecoded(GstPad* pad);
    // `periodNs` is the frame period the reader counts with; 0 for either:
    // nothing is skipped.
    void skipBefore(std::uint64_t timeNs, std::uint64_t periodNs);
    // What the probe on that pad calls: false for a picture to skip.
    bool decoded();
    void decodedFlushed();

    // What the probes on the demuxer's video pad call; claimPad answers true
    // for the first video pad only.
    bool claimPad();
    void streamCaps(const GstCaps* caps);
    // False for a chunk the decoder must not see: one before the keyframe
    // decoding starts from.
    bool chunk(GstBuffer* buffer);
    void flushed();
    void ended();

private:
    ChunkTrack() = default;

    enum class Codec { Other, Mpeg4Part2, Mpeg12, H264 };

    GstElement* pipeline_ = nullptr;
    gulong setupHandler_ = 0;

    mutable std::mutex mutex_;
    bool havePad_ = false;
    Codec codec_ = Codec::Other;
    int lengthSize_ = 0;  // H.264 in length-prefixed units, else 0
    static constexpr unsigned kSkipLimit = 300;
    unsigned skipped_ = 0;
    bool sawKeyframe_ = false;
    std::uint64_t keyDtsNs_ = 0;
    bool keyPacked_ = false;
    unsigned leadingB_ = 0;
    bool countingB_ = false;
    // A packed bitstream puts each reference picture in the chunk of its
    // own display slot, so its time is its chunk's; the B-pictures between
    // two references follow the earlier one period by period. Counting
    // alone would go wrong where an encoder left a slot out (libxvid
    // through FFmpeg never writes the last B-picture but one).
    bool packed_ = false;
    std::uint64_t periodNs_ = 0;
    bool pendingRef_ = false;
    std::uint64_t pendingRefNs_ = 0;
    bool shownRef_ = false;
    std::uint64_t nextBNs_ = 0;
    std::deque<std::uint64_t> shown_;
    std::uint64_t skipBeforeNs_ = 0;
    std::uint64_t skipPeriodNs_ = 0;
    bool skipping_ = true;
    std::uint64_t skippedPictures_ = 0;
    void show(std::uint64_t timeNs);
};

}  // namespace qsVideoReader
