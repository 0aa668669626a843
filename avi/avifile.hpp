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

class ChunkBuffer;

// The one stdio stream of an avi::File. Reads and writes go through its
// descriptor at explicit positions (pread/pwrite), so the stream's own
// position and buffer are never used; close() reports what fclose says.
class StreamHandle {
public:
    StreamHandle() = default;
    ~StreamHandle();
    StreamHandle(const StreamHandle&) = delete;
    StreamHandle& operator=(const StreamHandle&) = delete;

    // Takes ownership of an open stream (null: nothing is open).
    void adopt(std::FILE* stream);
    // Closes the stream; the result of fclose, 0 when nothing was open.
    int close();
    bool isOpen() const { return stream_ != nullptr; }
    int descriptor() const { return fd_; }

private:
    std::FILE* stream_ = nullptr;
    int fd_ = -1;
};

// Everything an avi::File knows about its file. Opening starts from a fresh
// FileState, so nothing of an earlier file (or an earlier failure) survives.
struct FileState {
    // ---- fields, in declaration order ----
    std::string errorMsg;
    avi::errors::error_T errorCode = avi::errors::NO_ERROR;
    std::string fileName;
    std::uint32_t mode = 0;  // 0 reading, 1 writing
    std::uint64_t moviPos = 0;
    std::uint32_t hdrlPos = 0;
    std::uint32_t idx1Pos = 0;
    std::uint32_t streamListPos = 0;
    std::uint32_t videoFrameSize = 0;
    std::uint32_t audioChunkDataSize = 0;  // writing
    std::uint32_t audioChunkSize = 0;
    std::uint64_t riffFileSize = 0;
    bool hasAudioStream = false;
    bool hasVideoStream = false;
    bool topDownFrames = false;
    std::unique_ptr<char[]> rowBuffer;
    avi::MainHeader mainHeader;
    std::array<avi::StreamHeader, 8> streamHeaders;  // File::MAX_STREAMS
    avi::WaveFormat waveFormat;
    avi::BitmapInfoHeader bitmapHeader;
    bool hasIndexFlag = false;
    bool mustUseIndexFlag = false;
    bool isInterleavedFlag = false;
    bool trustCkTypeFlag = false;
    bool wasCaptureFileFlag = false;
    bool protectedContentFlag = false;
    std::uint32_t audioStreamIndex = 0;
    std::uint32_t videoStreamIndex = 0;
    char audioChunkId[5] = {0, 0, 0, 0, 0};
    char videoChunkId[5] = {0, 0, 0, 0, 0};
    std::vector<avi::IndexEntry> audioIndex;
    std::vector<avi::IndexEntry> videoIndex;
    std::vector<avi::SuperIndexEntry> videoSuperIndex;  // writing
    std::vector<avi::SuperIndexEntry> audioSuperIndex;  // writing
    std::uint64_t videoFramesRead = 0;
    std::uint64_t audioChunkIndex = 0;
    std::uint64_t audioBytesRead = 0;
    std::uint64_t audioChunkOffset = 0;
    std::uint32_t firstRiffLength = 0;       // writing
    std::uint32_t firstRiffVideoChunks = 0;  // writing
    std::uint32_t firstRiffAudioChunks = 0;  // writing
    std::uint32_t firstRiffMoviBytes = 0;    // writing
    std::uint32_t laterVideoFrames = 0;      // writing
    std::uint32_t curRiffMoviBytes = 0;      // writing
    std::uint64_t numSuperIndexEntries = 4096;
    std::vector<avi::tagRGBQUAD> colormap;

    // ---- reading: extra fields ----
    IndexSource videoIndexSource = IndexSource::None;
    IndexSource audioIndexSource = IndexSource::None;
    IndexSource pendingIndexSource = IndexSource::None;  // source of the entries being added
    std::uint64_t fileSize = 0;  // bytes in the open file, bounds every read
    // One mark per video entry: false for a frame a standard index flags as
    // not a key frame (bit 31 of its size).
    std::vector<bool> videoKeyFrames;
    // Dropped frames (video entries of size 0) show the picture of the
    // entry named here; built on the first read of such a frame.
    std::vector<std::size_t> pictureEntry;
    // BI_BITFIELDS: the red, green and blue masks that follow the bitmap header.
    std::uint32_t colourMasks[3] = {0, 0, 0};
    bool hasColourMasks = false;
    // ---- end reading: extra fields ----

    // ---- writing: extra fields ----
    std::uint32_t reservedHeaderLength = 0;  // H of the region actually reserved by initWriter
    std::uint32_t laterAudioChunks = 0;      // audio chunks in all RIFF chunks after the first
    std::uint64_t writeFailures = 0;         // short writes so far; lets a sequence test its steps
    std::uint64_t writePos = 0;              // where the next byte of the file goes
    std::uint64_t firstMoviEnd = 0;          // end of the first RIFF chunk's movi list, once closed
    // Media and bytes written since the header region was last brought up to
    // date, so that a recording cut short is readable up to that point.
    std::uint64_t bytesSinceRefresh = 0;
    std::uint64_t videoFramesSinceRefresh = 0;
    std::uint64_t audioBytesSinceRefresh = 0;
    bool headerWritten = false;              // the header region holds a readable header
    // ---- end writing: extra fields ----
};

}  // namespace detail

class MM_EXPORT File : private detail::FileState {
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
    // ---- parsing (reading) ----
    int parseFile();
    void parseMainHeader();
    void parseStreamLists();
    void parseStreamHeader(unsigned int stream, char* data, unsigned long length);
    int parseStreamFormat(unsigned int stream, char* data, unsigned long length);
    void parseVideoStreamFormat(char* data, unsigned long length);
    void parseAudioStreamFormat(char* data, unsigned long length);
    void assignClrmapIf2or4or8bitAVIwithNoClrmap();
    void verifySupport();
    static void byteSwapOnBigEndian(void* data, unsigned int fieldSize, unsigned int count);

    // ---- index reading ----
    void parseLegacyIndex();
    // data points after the 8-byte chunk header; length is the bytes that follow it.
    void parseStreamIndex(unsigned long stream, char* data, unsigned long length, unsigned depth = 0);
    avi::aviindex_chunk parseOpenDMLBaseIndex(char* data);
    void parseOpenDMLSuperIndex(unsigned long stream, avi::aviindex_chunk const& head, char* data,
                                unsigned long length, unsigned depth);
    void parseOpenDMLStandardIndex(unsigned long stream, avi::aviindex_chunk const& head, char* data,
                                   unsigned long length);
    void verifyIndex();
    void buildLegacyIndex(char const* chunkId);
    void addIndexEntry(char const* id, unsigned int offset, unsigned int size, unsigned long base);
    void addIndexEntry(unsigned int id, unsigned int offset, unsigned int size, unsigned long base);
    void addIndexEntry(unsigned long stream, unsigned int id, unsigned int offset, unsigned int size,
                       unsigned long base);
    void addIndexEntry(unsigned long stream, char const* id, unsigned int offset, unsigned int size,
                       unsigned long base);
    static unsigned int streamNumberOfChunkId(std::string const& digits, unsigned int audioStream,
                                              unsigned int videoStream);

    // ---- the file ----
    // Closes whatever is open and returns every field to its initial value.
    void startOver();
    // Opens the named file for reading and parses it (openToGetInformation).
    bool beginReading(const std::u16string& name);
    void finishWriting();

    // ---- reading helpers ----
    // Every read of the file: up to length bytes at position, fewer only at
    // the end of the file or on a failure; returns the bytes delivered.
    std::size_t readAt(std::uint64_t position, void* buffer, std::size_t length);
    bool readExact(std::uint64_t position, void* buffer, std::size_t length);
    // A record of length bytes at position, read into storage; the cursor
    // covers what the file holds of it (shorter at the end of the file).
    // Returns the bytes read; storage holds exactly those.
    std::size_t readRecord(std::uint64_t position, std::size_t length, std::vector<char>& storage);
    std::uint64_t fileLength();
    std::uint64_t storedFrameLength();             // bytes of an uncompressed frame that reads deliver
    bool readFrameInto(char* buffer, long frame);  // false: nothing delivered
    // The stored bytes [0, take) of a top-down frame of `rows` rows of `row`
    // bytes at `position`, read straight into their bottom-up places.
    bool readRowsReversed(std::uint64_t position, char* buffer, std::uint64_t take, std::uint64_t row,
                          std::uint64_t rows);
    // The entry whose picture frame n shows: n itself unless n is a dropped
    // frame; SIZE_MAX when the stream holds no picture at all.
    std::size_t pictureOf(std::uint64_t n);
    // BI_BITFIELDS with the masks of plain 5-5-5, 5-6-5 or 8-8-8 RGB.
    bool bitfieldsArePlainRgb() const;
    bool isRgb565() const;
    // Whether the bytes a read takes from a scanned chunk are all in the file.
    bool chunkIsWhole(const char* id, std::uint64_t dataPos, std::uint32_t size);
    bool audioChunksUsedUp() const;

    // ---- writing: private operations ----
    void initWriter();
    void resetWriter();
    void populateMainHeader();
    void copyMainHeader2Buf(char* buffer);
    void populateVideoStreamHeader();
    void populateAudioStreamHeader();
    void copyStreamHeader2Buf(char* buffer, unsigned int streamNumber);
    void populateBitmapHeader();
    void copyBitmapHeader2Buf(char* buffer);
    void populateWaveHeader();
    void copyWaveHeader2Buf(char* buffer);
    // The header region as close writes it; provisional: the sizes and counts
    // of what is written so far, for a recording that may be cut short.
    void writeHeader(bool provisional = false);
    void writeVideoStreamHeader(detail::ChunkBuffer& out, bool provisional);
    void writeAudioStreamHeader(detail::ChunkBuffer& out);
    void writeOpenDMLHeader(detail::ChunkBuffer& out);
    // Brings the header region (and the head of a later RIFF chunk) up to
    // date with the chunks written so far.
    void refreshHeader();
    void noteChunkWritten(std::uint64_t bytes, bool video);
    void writeChunk(const char* fourCC, unsigned int size);
    void writeList(const char* fourCC, unsigned int size, const char* listType);
    void writeMoviEntry(char* data, unsigned int chunkSize, unsigned int writeLength, char* chunkId,
                        std::vector<avi::IndexEntry>& index);
    void updateRiffChunk(unsigned long length);
    void closeCurRiffChunk();
    void writeAVIXChunk();
    void writeOpenDMLStandardIndex(const char* chunkId, unsigned int streamNumber,
                                   const std::vector<avi::IndexEntry>& index,
                                   std::vector<avi::SuperIndexEntry>& superIndex);
    void writeOpenDMLSuperIndex(detail::ChunkBuffer& out, const char* chunkId,
                                const std::vector<avi::SuperIndexEntry>& superIndex);
    void writeOpenDMLBaseIndex(detail::ChunkBuffer& out, const char* chunkId, unsigned short longsPerEntry,
                               unsigned char indexType, unsigned int entriesInUse);
    void populateOpenDMLBaseIndex(avi::aviindex_chunk& head, const char* chunkId, unsigned short longsPerEntry,
                                  unsigned char indexType, unsigned int entriesInUse);
    void copyOpenDMLBaseIndex2Buf(const avi::aviindex_chunk& head, char* buffer);
    void writeLegacyIndex();
    // Writer plumbing: every byte goes out through writeAt (pwrite), which
    // records error 6 on a short write; writeBytes writes at writePos and
    // moves it on.
    bool writeAt(std::uint64_t position, const void* data, std::size_t length);
    bool writeBytes(const void* data, std::size_t length);
    bool writeTell(std::uint64_t& position);
    bool writeSeek(std::uint64_t position);
    bool patchBytes(std::uint64_t position, const void* data, std::size_t length);
    bool writerReady();
    bool dataWritten() const;
    // Whether the header list, with the given super-index entries per stream,
    // still fits the region reserved for it without touching the "movi" data.
    bool headerFits(std::uint64_t videoEntries, std::uint64_t audioEntries) const;
    std::uint64_t paletteBytes() const;
    // ---- end writing: private operations ----

    detail::StreamHandle stream;
};

}  // namespace avi
