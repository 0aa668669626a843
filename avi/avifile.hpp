#pragma once
// avi::File reads and writes uncompressed AVI files (RIFF "AVI " form with the
// OpenDML extensions) holding at most one video and one audio stream.
// Failures are recorded in the object (getErrorCode / getErrorMsg); nothing is
// thrown for bad files. The one exception that leaves the class is Boost's
// numeric positive_overflow, for offsets or sizes that do not fit 32 bits.

#include <common/export.hpp>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace avi {

namespace errors {
enum error_T : std::int32_t {
    NO_ERROR = 0,
    RIFF_CHUNK_MISSING = 1,
    AVI_CHUNK_MISSING = 2,
    OPEN_FAILED = 3,
    SEEK_FAILED = 4,
    FREAD_FAILED = 5,
    FWRITE_FAILED = 6,
    GET_FILE_POS_FAILED = 7,
    SET_FILE_POS_FAILED = 8,
    FRAME_COUNT_MISMATCH = 9,
    AUDIO_CHUNKS_MISSING = 10,
    VIDEO_CHUNKS_MISSING = 11,
    ALL_CHUNKS_MISSING = 12,
    MAIN_HEADER_MISSING = 13,
    STREAM_LIST_MISSING = 14,
    BAD_STRH_LENGTH = 15,
    STREAM_HEADERS_MISSING = 16,
    AUDIO_FORMAT_UNREADABLE = 17,
    VIDEO_FORMAT_UNREADABLE = 18,
    UNSUPPORTED_BITMAP_HEADER = 19,
    UNSUPPORTED_MAIN_HEADER = 20,
    UNSUPPORTED_AUDIO_HEADER = 21,
    COLORMAP_READ_FAILED = 22,
    COLORMAP_SET_DURING_READ = 23,
    COLORMAP_REQUIRED = 24,
    COLORMAP_NOT_EMPTY = 25,
    COLORMAP_TOO_LARGE = 26,
    OUT_OF_MEMORY = 27,
    TOO_MANY_STREAMS = 28,
    INTERLEAVED_UNSUPPORTED = 29,
    UNSUPPORTED_AUDIO_BITS = 30,
    INTERNAL_INDEX_REQUIRED = 31,
    COMPRESSED_VIDEO = 32,
    COMPRESSED_AUDIO = 33,
    UNSUPPORTED_MODE = 34,
    INVALID_LEGACY_INDEX = 35,
    LEGACY_INDEX_PARSE_ERROR = 36,
    UNSUPPORTED_INDEX_TYPE = 37,
    INVALID_INDEX = 38,
    INVALID_INDEX_OFFSET = 39,
    UNSUPPORTED_FILE = 40,
    INVALID_FRAME_COUNT = 41,
    INVALID_BITS_PER_PIXEL = 42,
    WAVE_FILE = 43,
    // 44 has no name and yields the generic text.
    NOT_INDEXED_VIDEO = 45,
    BAD_VIDEO_ENTRY_SIZE = 46
};
}  // namespace errors

// One data chunk: its data lies at file position base + offset.
struct IndexEntry {
    std::uint32_t offset = 0;
    std::uint32_t size = 0;
    std::uint64_t base = 0;
};

// One entry of an OpenDML super index (writing).
struct SuperIndexEntry {
    std::uint64_t offset = 0;    // file position of a standard index chunk
    std::uint32_t size = 0;      // that chunk's length including its header
    std::uint32_t duration = 0;
};

struct tagRGBQUAD {
    std::uint8_t blue = 0;
    std::uint8_t green = 0;
    std::uint8_t red = 0;
    std::uint8_t reserved = 0;
};

// The common 12-byte head of an OpenDML index chunk.
struct aviindex_chunk {
    std::uint16_t longsPerEntry = 0;
    std::uint8_t indexSubType = 0;
    std::uint8_t indexType = 0;
    std::uint32_t entriesInUse = 0;
    std::uint32_t chunkId = 0;
};

// "avih"
struct MainHeader {
    std::uint32_t microSecPerFrame = 0;
    std::uint32_t maxBytesPerSec = 0;
    std::uint32_t paddingGranularity = 0;
    std::uint32_t flags = 0;
    std::uint32_t totalFrames = 0;
    std::uint32_t initialFrames = 0;
    std::uint32_t streams = 0;
    std::uint32_t suggestedBufferSize = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t reserved[4] = {0, 0, 0, 0};
};

// "strh"
struct StreamHeader {
    char fccType[5] = {0, 0, 0, 0, 0};
    char fccHandler[5] = {0, 0, 0, 0, 0};
    std::uint32_t flags = 0;
    std::uint32_t priority = 0;  // 16-bit priority and 16-bit language together
    std::uint32_t initialFrames = 0;
    std::uint32_t scale = 0;
    std::uint32_t rate = 0;
    std::uint32_t start = 0;
    std::uint32_t length = 0;
    std::uint32_t suggestedBufferSize = 0;
    std::uint32_t quality = 0;
    std::uint32_t sampleSize = 0;
    struct {
        std::uint32_t left = 0;
        std::uint32_t top = 0;
        std::uint32_t right = 0;
        std::uint32_t bottom = 0;
    } frame;
    bool disabled = false;
    bool paletteChanges = false;
};

// WAVEFORMATEX of the audio stream
struct WaveFormat {
    std::uint16_t formatTag = 0;
    std::uint16_t channels = 0;
    std::uint32_t samplesPerSec = 0;
    std::uint32_t avgBytesPerSec = 0;
    std::uint16_t blockAlign = 0;
    std::uint16_t bitsPerSample = 0;
    std::uint16_t cbSize = 0;
};

// BITMAPINFOHEADER of the video stream
struct BitmapInfoHeader {
    std::uint32_t size = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::uint16_t planes = 0;
    std::uint16_t bitCount = 0;
    std::uint32_t compression = 0;
    std::uint32_t sizeImage = 0;
    std::int32_t xPelsPerMeter = 0;
    std::int32_t yPelsPerMeter = 0;
    std::uint32_t clrUsed = 0;
    std::uint32_t clrImportant = 0;
};

// Where the reader found a stream's index entries.
enum class IndexSource : std::uint8_t {
    None = 0,     // no entries (yet)
    OpenDML = 1,  // "indx" super or standard indexes
    Legacy = 2,   // "idx1"
    Scan = 3      // walk of the "movi" list
};

namespace detail {

class Reader;
class Writer;
struct Streams;

// The error state of one avi::File, which its reader or writer records
// failures in.
struct Status {
    std::string fileName;
    avi::errors::error_T code = avi::errors::NO_ERROR;
    std::string message;

    void set(avi::errors::error_T c);
    void clear();
};

}  // namespace detail

class MM_EXPORT File {
public:
    static constexpr std::int64_t INVALID_FRAME_INDEX = -1;
    static constexpr std::uint32_t DEFAULT_BITS_PER_PIXEL = 24;
    static constexpr unsigned int MAX_STREAMS = 8;

    File();
    ~File();
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // ---- opening and closing ----
    bool open(std::u16string name, char const* mode);
    bool open(char const* name, char const* mode);
    bool openToGetInformation(std::u16string name);
    bool openToGetInformation(char const* name);
    void close();

    // ---- error state ----
    avi::errors::error_T getErrorCode() const;
    char const* getErrorMsg() const;
    void clearError();
    void setError(avi::errors::error_T code);

    // ---- stream description ----
    bool hasVideo() const;
    bool hasAudio() const;
    std::uint32_t getVideoWidth() const;
    std::uint32_t getVideoHeight() const;
    std::uint16_t getVideoBitsPerPixel() const;
    bool isVideoCompressed();
    std::string getVideoFourCC();
    std::uint32_t getVideoStreamRate() const;
    std::uint32_t getVideoStreamScale() const;
    double getVideoFrameRate() const;
    std::uint32_t getVideoTotalFrames() const;
    std::uint64_t getVideoFramesRead() const;
    bool isEndOfVideo();
    void resetVideo();
    std::vector<avi::tagRGBQUAD> getColormap() const;
    std::uint32_t getAudioSampleRate();
    std::uint16_t getAudioBitsPerSample();
    std::uint16_t getAudioNumberOfChannels() const;
    bool isAudioCompressed() const;
    std::uint32_t getAudioChunkSize();
    std::uint64_t getAudioBytesRead();
    std::uint32_t getAudioTotalBytes();
    bool isEndOfAudio();
    void resetAudio();
    // Which index each stream's entries came from.
    IndexSource getVideoIndexSource() const;
    // Whether frame `frame` is a key frame: false only for a frame an OpenDML
    // standard index marks as not one (and for a number out of range).
    bool isVideoKeyFrame(long frame) const;
    // Whether frame `frame` is a dropped frame (a video chunk of no bytes):
    // reading it delivers the picture shown before it.
    bool isVideoFrameDropped(long frame) const;
    IndexSource getAudioIndexSource() const;

    // ---- reading frames and audio ----
    // Buffer sizes: readVideoFrame writes getRawVideoFrameSize(frame) bytes;
    // readRGB24VideoFrame needs getRGB24VideoFrameSize() bytes and reads
    // nothing for a depth whose size is 0; readIndexedVideoFrame needs
    // getIndexedVideoFrameSize() bytes and writes nothing for other depths
    // than 8. Frames are delivered bottom-up; frame -1 is the next in sequence.
    // On a file not open for reading these record error 34 and read nothing.
    void readVideoFrame(char* buffer, long frame);
    void readVideoFrame(char* buffer);
    void readRGB24VideoFrame(char* buffer, long frame);
    void readRGB24VideoFrame(char* buffer);
    void readIndexedVideoFrame(char* buffer, long frame);
    void readAudio(char* buffer, unsigned long count);

    // ---- frame sizes and row padding ----
    std::uint32_t getRawVideoFrameSize(long frame);
    std::uint32_t getRGB24VideoFrameSize();
    std::uint32_t getIndexedVideoFrameSize();
    std::uint32_t getRgb24PadLength();
    std::uint32_t getIndexedPadLength();
    std::uint32_t getRgb555PadLength();

    // ---- in-place conversions of a stored frame ----
    void indexedToRgb24(char* buffer);
    void indexedToRgb24WPad(char* buffer);
    void rgb555ToRgb24(char* buffer);
    void rgb555ToRgb24WPad(char* buffer);
    void rgb32ToRgb24(char* buffer);
    void rgb32ToRgb24WPad(char* buffer);
    void convertFrameToBottomUp(char* buffer);

    // Plausibility check of the frame count of a 24-bit file (error 41).
    void errorIfWrongNumFrameForRGB24();

    // ---- writing ----
    void setVideoInfo(unsigned int width, unsigned int height, double frameRate,
                      const std::string& fourCC, unsigned int bitsPerPixel);
    void setVideoInfo(unsigned int width, unsigned int height, double frameRate,
                      const std::string& fourCC);
    void setVideoInfo(unsigned int width, unsigned int height, double frameRate);
    void setAudioInfo(double sampleRate, unsigned int bitsPerSample, unsigned int numChannels,
                      unsigned int bytesPerChunk);
    void setColormap(const std::vector<avi::tagRGBQUAD>& map);
    void setNumSuperIndexEntries(unsigned long entries);
    void writeVideoFrame(char* data, unsigned int size);
    void writeVideoFrame(char* data);
    void writeAudio(char* data);

    std::uint32_t getHeaderLength();
    std::uint32_t getStrlLength(unsigned char present, unsigned int fixedLength,
                                unsigned long superIndexEntries);
    std::uint32_t getOpenDMLHeaderLength();
    std::uint32_t getOpenDMLSuperIndexLength(unsigned long entries);
    std::uint32_t getOpenDMLStandardIndexLength(unsigned long entries);
    std::uint32_t getLegacyIndexLength();
    std::uint32_t getMoviLength();
    std::uint32_t getCurRiffChunkSize();
    bool isFirstRiffChunk();
    bool atRiffBoundary(unsigned long length);
    // ---- end writing ----

private:
    // Closes whatever is open and forgets it, the error state included.
    void startOver();
    // What the open reader or writer says about the streams (all zero when
    // neither is there).
    const detail::Streams& streams() const;
    // The reader, or null with error 34 recorded when the file is not open
    // for reading.
    detail::Reader* reading();
    detail::Writer* writing();

    detail::Status status_;
    // A file is read or written, never both: at most one of these is set.
    std::unique_ptr<detail::Reader> reader_;
    std::unique_ptr<detail::Writer> writer_;
};

}  // namespace avi
