#pragma once
// The reader behind createMjpegAviReaderInstance(): avi::File finds each
// frame's chunk through the index, libjpeg-turbo decodes it (or avi::File
// converts an uncompressed frame to 24 bits). The row-major interleaved layout
// is the packed RGB frame itself, decoded straight into the caller's memory;
// the default layout is filled band by band as libjpeg decodes the rows.
//
// Frame n is shown from n * scale / rate seconds until frame n + 1; seeking
// picks the frame by number, so it is exact.
//
// Motion JPEG is decoded one frame ahead on a second thread: when readFrame
// decodes frame n itself, it first hands the chunk of frame n + 1 to the
// decode-ahead worker, which decodes it while this thread decodes frame n
// and the caller works on it; the next readFrame then only copies frame
// n + 1 from the worker's buffer. Both cores decode, one frame each, and
// never more than one frame ahead of the caller. A seek elsewhere, a change
// of layout, a failed frame and close() cancel the frame ahead; the worker
// thread ends with close() or the reader.

#include <avi/avifile.hpp>
#include <platform/services/framekit/framekit.hpp>
#include <platform/decoders/decodeahead.hpp>
#include <platform/decoders/mjpegavidecoder/jpegframedecoder.hpp>
#include <videoreader/ivideoreader.hpp>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace mjpegavidecoder {

// A frame decoded from corrupt data is delivered, and a "CorruptFrame"
// warning (IReaderWarnings) names its number and what libjpeg said; a frame
// that yields no picture is a failed frame, with a warning saying why.
class MjpegAviReader final : public qsVideoReader::IVideoReader, public qsVideoReader::IReaderWarnings {
public:
    explicit MjpegAviReader(bool decodeAhead = true);
    ~MjpegAviReader() override;

    void open(const std::u16string& fileName, bool openFlag) override;
    void startFromBeginning() override;
    void seekToTime(double seconds) override;
    void readFrame(bool rowMajorInterleaved, void* destination) override;
    void close() override;
    std::size_t getHeight() override;
    std::size_t getWidth() override;
    double getFrameRate() override;
    double getDuration() override;
    unsigned int getBitsPerPixel() override;
    std::u16string getVideoFormat() override;
    std::u16string getVideoCodec() override;
    std::u16string getAudioCodec() override;
    double getNumAudioChannels() override;
    std::size_t getNumColorChannels() override;
    bool hasAudio() override;
    bool hasVideo() override;
    double getCurrentTime() override;
    bool isEndOfStream() override;
    bool getOpenFlag() override;
    qsVideoReader::VideoDataType getVideoDataType() override;

    std::vector<qsVideoReader::ReaderWarning> takeWarnings() override;

    // The palette of an open 8-bit uncompressed file; false for any other.
    bool colormap(std::vector<avi::tagRGBQUAD>& entries) const;

private:
    enum class Coding { None, Jpeg, Uncompressed };

    // The frame the worker decodes, from its chunk read on this thread (the
    // AVI file is used by this thread only).
    struct AheadJob {
        std::uint64_t frame = 0;
        bool interleaved = false;
        std::size_t width = 0;
        std::size_t height = 0;
        std::vector<std::uint8_t> chunk;
    };
    struct AheadResult {
        bool decoded = false;
        JpegFrameDecoder::Warnings warnings;  // or, when it did not decode, why
    };
    // The worker's own libjpeg decompressor, set up as this thread's, so
    // frames are the same bytes whichever thread decoded them, and the
    // buffer it decodes into; this thread copies from it after take().
    struct AheadDecoder {
        JpegFrameDecoder jpeg;
        pixcapframekit::FrameMemory frame;
        std::size_t frameBytes = 0;
        AheadResult decode(const AheadJob& job, const std::atomic<bool>& cancelled);
    };

    void describe(const std::u16string& fileName);
    void checkUncompressedLayout();
    void prepareLayout();
    // Frame n into destination in the given layout (throws on any failure).
    void readJpegFrame(std::uint64_t n, bool rowMajorInterleaved, std::uint8_t* destination);
    void readChunk(std::uint64_t n, std::vector<std::uint8_t>& chunk);
    void startAhead(std::uint64_t n, bool rowMajorInterleaved);
    void dropAheadUnlessNext();
    bool aheadHolds(std::uint64_t n, bool rowMajorInterleaved) const;
    void convertUncompressedFrame(std::uint64_t n, std::uint8_t* rgb);
    double timeOfFrame(std::uint64_t n) const;
    void warnAbout(std::uint64_t n, const JpegFrameDecoder::Warnings& warnings);
    void warnFailed(std::uint64_t n, const std::string& why);
    bool framePeriodKnown() const { return rate_ != 0 && scale_ != 0; }
    void forgetFile();
    void resetDescription();

    const bool decodeAhead_;
    std::unique_ptr<avi::File> file_;
    bool openFlag_ = false;

    // What open() learnt.
    Coding coding_ = Coding::None;
    std::size_t width_ = 0;
    std::size_t height_ = 0;
    std::uint32_t rate_ = 0;
    std::uint32_t scale_ = 0;
    std::uint64_t frameCount_ = 0;
    std::uint64_t fileSize_ = 0;
    std::u16string videoCodec_;
    std::u16string audioCodec_;
    double audioChannels_ = 0.0;
    bool hasAudio_ = false;

    // Reading position: the frame the next readFrame delivers.
    std::uint64_t next_ = 0;
    double currentTime_ = 0.0;
    bool endOfStream_ = false;

    // Scratch, kept between frames so steady reading allocates nothing.
    std::vector<std::uint8_t> chunk_;   // one compressed chunk or stored frame
    std::vector<std::uint8_t> packed_;  // an uncompressed frame for the default layout
    std::unique_ptr<JpegFrameDecoder> jpeg_;
    // Made with the first Motion-JPEG frame; the worker ends before the
    // decoder it uses.
    std::unique_ptr<AheadDecoder> aheadDecoder_;
    std::unique_ptr<decoders::DecodeAhead<AheadJob, AheadResult>> ahead_;
    std::unique_ptr<pixcapframekit::IFrame> layout_;
    std::vector<qsVideoReader::ReaderWarning> warnings_;  // not yet taken
};

}  // namespace mjpegavidecoder
