#pragma once
// The reading side of avi::File: what the header list says, the indexes of
// the two streams and where a sequential read stands. Bytes of the file are
// decoded through one bounded cursor (riffcursor.hpp); nothing is thrown for
// a bad file, failures are recorded in the shared Status.

#include <avi/avifile.hpp>
#include <avi/streamhandle.hpp>
#include <avi/streams.hpp>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace avi {
namespace detail {

// Where an index entry was found, which decides how its size field reads.
enum class EntryOrigin : std::uint8_t {
    Legacy,    // idx1: the size as stored
    Standard,  // OpenDML standard index: bit 31 marks a frame that is not a key frame
    Scan       // the movi walk: the chunk's own header, checked to be in the file
};

class Reader : public Streams {
public:
    explicit Reader(Status& status) : status(status) {}
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    // Opens the named file and parses its header list and indexes; false
    // with the error recorded when that fails.
    bool open(const std::string& name);
    // What a full open adds to openToGetInformation: the checks of what this
    // library can deliver, the index rebuilt by a walk where none was found.
    bool prepareFrames();
    void close();

    // ---- stream state ----
    bool isEndOfVideo() const { return videoFramesRead == getVideoTotalFrames(); }
    bool isEndOfAudio() const { return audioBytesRead == getAudioTotalBytes() || audioChunksUsedUp(); }
    void resetAudio();
    bool isVideoKeyFrame(long frame) const;
    bool isVideoFrameDropped(long frame) const;
    void errorIfWrongNumFrameForRGB24();

    // ---- frames and audio ----
    std::uint32_t getRawVideoFrameSize(long frame);
    std::uint32_t getRGB24VideoFrameSize();
    bool readFrameInto(char* buffer, long frame);  // false: nothing delivered
    void readRGB24VideoFrame(char* buffer, long frame);
    void readIndexedVideoFrame(char* buffer, long frame);
    void readAudio(char* buffer, unsigned long count);
    void convertFrameToBottomUp(char* buffer);
    void indexedToRgb24(char* buffer);
    void rgb555ToRgb24(char* buffer);
    void rgb32ToRgb24(char* buffer);

    std::uint64_t videoFramesRead = 0;
    std::uint64_t audioBytesRead = 0;
    IndexSource videoIndexSource = IndexSource::None;
    IndexSource audioIndexSource = IndexSource::None;

private:
    // ---- the header list (reader_headers.cpp) ----
    void parseFile();
    void parseMainHeader();
    void parseStreamLists();
    void parseStreamHeader(unsigned int stream, const char* data, std::size_t length);
    void parseStreamFormat(unsigned int stream, const char* data, std::size_t length);
    void parseVideoStreamFormat(const char* data, std::size_t length);
    void parseAudioStreamFormat(const char* data, std::size_t length);
    void assignClrmapIf2or4or8bitAVIwithNoClrmap();
    void verifySupport();

    // ---- the indexes (reader_index.cpp) ----
    void parseLegacyIndex();
    // data points after the 8-byte chunk header; length is the bytes that follow it.
    void parseStreamIndex(unsigned stream, const char* data, std::size_t length, unsigned depth = 0);
    void parseOpenDMLSuperIndex(unsigned stream, const aviindex_chunk& head, const char* data, std::size_t length,
                                unsigned depth);
    void parseOpenDMLStandardIndex(unsigned stream, const aviindex_chunk& head, const char* data, std::size_t length);
    void verifyIndex();
    void buildLegacyIndex(const char* chunkId);
    // The one way an entry joins an index; see reader_index.cpp for the rule.
    void addIndexEntry(unsigned stream, const char* id, std::uint32_t offset, std::uint32_t sizeField,
                       std::uint64_t base, EntryOrigin origin);
    // Whether the bytes a read takes from a scanned chunk are all in the file.
    bool chunkIsWhole(const char* id, std::uint64_t dataPos, std::uint32_t size);

    // ---- reading the file ----
    // Every read of the file: up to length bytes at position, fewer only at
    // the end of the file or on a failure; returns the bytes delivered.
    std::size_t readAt(std::uint64_t position, void* buffer, std::size_t length);
    bool readExact(std::uint64_t position, void* buffer, std::size_t length);
    // A record of length bytes at position into storage, never more than
    // the file holds; returns the bytes read, which storage then holds.
    std::size_t readRecord(std::uint64_t position, std::size_t length, std::vector<char>& storage);
    std::uint64_t storedFrameLength() const;  // bytes of an uncompressed frame that reads deliver
    // The stored bytes [0, take) of a top-down frame of `rows` rows of `row`
    // bytes at `position`, read straight into their bottom-up places; the
    // bytes [take, length) are zeros in theirs.
    bool readRowsReversed(std::uint64_t position, char* buffer, std::uint64_t take, std::uint64_t length,
                          std::uint64_t row, std::uint64_t rows);
    // The entry whose picture frame n shows: n itself unless n is a dropped
    // frame; SIZE_MAX when the stream holds no picture at all.
    std::size_t pictureOf(std::uint64_t n);
    bool audioChunksUsedUp() const { return !audioIndex.empty() && audioChunkIndex >= audioIndex.size(); }
    void setError(errors::error_T code) { status.set(code); }

    Status& status;
    StreamHandle stream;
    std::uint64_t fileSize = 0;      // bytes in the open file, bounds every read
    std::uint64_t riffFileSize = 0;  // the first RIFF chunk as its header gives it
    std::uint64_t moviPos = 0;
    std::uint32_t hdrlPos = 0;
    std::uint32_t idx1Pos = 0;
    std::uint32_t streamListPos = 0;
    bool mustUseIndexFlag = false;
    bool topDownFrames = false;
    std::vector<IndexEntry> audioIndex;
    std::vector<IndexEntry> videoIndex;
    // One mark per video entry: false for a frame a standard index flags as
    // not a key frame.
    std::vector<bool> videoKeyFrames;
    // Dropped frames (video entries of size 0) show the picture of the
    // entry named here; built on the first read of such a frame.
    std::vector<std::size_t> pictureEntry;
    std::uint64_t audioChunkIndex = 0;
    std::uint64_t audioChunkOffset = 0;
};

}  // namespace detail
}  // namespace avi
