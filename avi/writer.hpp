#pragma once
// The writing side of avi::File: what has been written and where the sizes
// go. The header list is serialized by one function (writer_headers.cpp),
// which also predicts its size by running into a counting buffer; data
// chunks and RIFF segmentation are in writer_chunks.cpp, the indexes in
// writer_index.cpp.

#include <avi/avifile.hpp>
#include <avi/streamhandle.hpp>
#include <avi/streams.hpp>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace avi {
namespace detail {

class ChunkBuffer;

// What the header list counts: the file as it stands, or as it ends.
struct HeaderCounts {
    std::uint64_t firstRiffLength = 0;       // bytes of the first RIFF chunk, its head included
    std::uint64_t videoFrames = 0;           // in every RIFF chunk
    std::uint64_t firstRiffAudioChunks = 0;  // in the first RIFF chunk
    std::uint64_t audioChunks = 0;           // in every RIFF chunk
};

// What a serialization of the header list holds besides the records.
struct HeaderShape {
    bool videoList = false;  // the video stream's list (not written without its palette)
    bool palette = false;
    std::uint64_t videoSuperEntries = 0;  // super-index entries written (the ones in use, then empty ones)
    std::uint64_t audioSuperEntries = 0;
};

class Writer : public Streams {
public:
    Writer(Status& status, std::FILE* file);
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    bool isOpen() const { return stream.isOpen(); }
    // Finishes the file (indexes, the header list) and closes it.
    void close();

    // ---- describing the streams (writer.cpp) ----
    void setVideoInfo(unsigned int width, unsigned int height, double frameRate, const std::string& fourCC,
                      unsigned int bitsPerPixel);
    void setAudioInfo(double sampleRate, unsigned int bitsPerSample, unsigned int numChannels,
                      unsigned int bytesPerChunk);
    void setColormap(const std::vector<tagRGBQUAD>& map);
    void setNumSuperIndexEntries(unsigned long entries) { numSuperIndexEntries = entries; }
    std::uint32_t getRGB24VideoFrameSize() const {
        return bitmapHeader.bitCount == 24 ? static_cast<std::uint32_t>(rgb24FrameBytes()) : 0;
    }

    // ---- data (writer_chunks.cpp) ----
    void writeVideoFrame(char* data, unsigned int size);
    void writeVideoFrame(char* data);
    void writeAudio(char* data);

    // ---- sizes, each computed by the serializer that writes the bytes ----
    std::uint32_t getHeaderLength() const;
    std::uint32_t getOpenDMLHeaderLength() const;
    std::uint32_t getOpenDMLSuperIndexLength(unsigned long entries) const;
    std::uint32_t getOpenDMLStandardIndexLength(unsigned long entries) const;
    std::uint32_t getLegacyIndexLength() const;
    std::uint32_t getMoviLength() const;
    std::uint32_t getCurRiffChunkSize() const;
    bool isFirstRiffChunk() const;
    bool atRiffBoundary(std::uint64_t length) const;

private:
    // ---- the header list (writer_headers.cpp) ----
    void reserveHeaderRegion();
    // The header region as close writes it (provisional: the counts of what
    // is written so far, for a recording that may be cut short).
    void writeHeader(const HeaderCounts& counts, bool provisional);
    // Fills the records of the header list from the counts.
    void fillRecords(const HeaderCounts& counts);
    // The header list's data after its type: "avih", the stream lists, "odml".
    void serializeHeaderList(ChunkBuffer& out, const HeaderShape& shape) const;
    void serializeStreamList(ChunkBuffer& out, bool video, const HeaderShape& shape) const;
    // Bytes of the header list with that shape, its "hdrl" type included.
    std::uint64_t headerListBytes(const HeaderShape& shape) const;
    // Whether the header list, with the given super-index entries per stream,
    // fits the region reserved for it without touching the "movi" data.
    bool headerFits(std::uint64_t videoEntries, std::uint64_t audioEntries) const;

    // ---- indexes (writer_index.cpp) ----
    void serializeSuperIndex(ChunkBuffer& out, const char* chunkId, const std::vector<SuperIndexEntry>& superIndex,
                             std::uint64_t entries) const;
    void serializeStandardIndex(ChunkBuffer& out, unsigned streamNumber, const char* chunkId,
                                const std::vector<IndexEntry>& index, std::uint64_t entries) const;
    // Bytes of a standard index chunk of that many entries, head included.
    std::uint64_t standardIndexChunkBytes(std::uint64_t entries) const;
    void writeStandardIndex(const char* chunkId, unsigned streamNumber, const std::vector<IndexEntry>& index,
                            std::vector<SuperIndexEntry>& superIndex);
    void serializeLegacyIndex(ChunkBuffer& out) const;

    // ---- data chunks and RIFF segmentation (writer_chunks.cpp) ----
    void writeMoviEntry(char* data, std::uint32_t chunkSize, std::uint32_t writeLength, const char* chunkId,
                        std::vector<IndexEntry>& index);
    bool writeChunkAt(std::uint64_t start, const char* chunkId, std::uint32_t chunkSize, const char* data,
                      std::uint32_t writeLength);
    void noteChunkWritten(std::uint64_t bytes, bool video);
    // Brings the header region (and the head of a later RIFF chunk) up to
    // date with the chunks written so far.
    void refreshHeader();
    HeaderCounts finalCounts() const;
    void updateRiffChunk(std::uint64_t length);
    void closeCurRiffChunk();
    void writeAvixHead();
    void finishWriting();

    // ---- plumbing ----
    // Every byte goes out through writeAt (pwrite), which records error 6 on
    // a short write; writeBytes writes at writePos and moves it on.
    bool writeAt(std::uint64_t position, const void* data, std::size_t length);
    bool writeBytes(const void* data, std::size_t length);
    bool writerReady();
    bool dataWritten() const;
    void setError(errors::error_T code) { status.set(code); }

    Status& status;
    StreamHandle stream;
    std::uint32_t audioChunkDataSize = 0;    // bytes of audio per chunk, without the pad byte
    std::uint64_t numSuperIndexEntries = 4096;
    std::uint32_t reservedHeaderLength = 0;  // the header list's region, fixed by the stream descriptions
    std::uint64_t moviPos = 0;               // the current movi list's type code
    std::uint64_t writePos = 0;              // where the next byte of the file goes
    std::uint64_t firstMoviEnd = 0;          // end of the first RIFF chunk's movi list, once closed
    // The current RIFF chunk's entries; the closed ones are in the super indexes.
    std::vector<IndexEntry> audioIndex;
    std::vector<IndexEntry> videoIndex;
    std::vector<SuperIndexEntry> videoSuperIndex;
    std::vector<SuperIndexEntry> audioSuperIndex;
    std::uint32_t firstRiffLength = 0;
    std::uint32_t firstRiffVideoChunks = 0;
    std::uint32_t firstRiffAudioChunks = 0;
    std::uint32_t firstRiffMoviBytes = 0;
    std::uint32_t laterVideoFrames = 0;  // video chunks in all RIFF chunks after the first
    std::uint32_t laterAudioChunks = 0;  // audio chunks in all RIFF chunks after the first
    std::uint32_t curRiffMoviBytes = 0;
    std::uint64_t writeFailures = 0;  // short writes so far
    // Media and bytes written since the header region was last brought up to
    // date, so that a recording cut short is readable up to that point.
    std::uint64_t bytesSinceRefresh = 0;
    std::uint64_t videoFramesSinceRefresh = 0;
    std::uint64_t audioBytesSinceRefresh = 0;
    bool headerWritten = false;  // the header region holds a readable header
};

}  // namespace detail
}  // namespace avi
