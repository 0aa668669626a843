#pragma once
// Box parser for Motion JPEG 2000 files (ISO base media file format): finds the
// movie box, reads the video track's sample entry and sample tables and the
// audio track's description, and finds the codestream inside one sample.
// Every offset and size is checked against the bytes that hold it and the
// length of the file; nothing here touches memory outside the input.

#include <common/bytecursor.hpp>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace mj2k {

// Box-structured files store their integers big-endian.
using ByteCursor = multimedia::common::BigEndianCursor;

enum class ColourSpace { Unknown, SRGB, Grey, SYCC, Other };

struct Sample {
    std::uint64_t offset = 0;  // absolute file offset of the sample's first byte
    std::uint32_t size = 0;
    std::uint64_t time = 0;    // decode time in track timescale units
    std::uint32_t duration = 0;
};

struct VideoTrack {
    std::string codec;             // sample entry type, e.g. "mjp2"
    std::uint32_t width = 0;       // from the sample entry
    std::uint32_t height = 0;
    std::uint16_t components = 0;  // from the sample entry's image header, 0 if absent
    std::uint8_t bitDepth = 0;     // precision from the image header (1..38), 0 if absent or varying
    bool isSigned = false;
    ColourSpace colour = ColourSpace::Unknown;
    std::uint32_t timescale = 0;
    std::uint64_t duration = 0;    // in timescale units
    bool uniformDelta = true;      // every sample lasts the same time
    std::vector<Sample> samples;
};

struct AudioTrack {
    std::string codec;
    std::uint16_t channels = 0;
};

struct Movie {
    bool hasVideo = false;
    bool hasAudio = false;
    VideoTrack video;
    AudioTrack audio;
};

enum class ParseStatus {
    Ok,
    NoMovie,       // no movie box: not an ISO media file, or one cut short
    Corrupt,       // boxes or tables that contradict themselves or the file size
    NoVideo,       // a movie without a video track
    UnknownCodec,  // a video track that is not Motion JPEG 2000
};

struct ParseResult {
    ParseStatus status = ParseStatus::Ok;
    std::string detail;  // what was wrong, for the exception message
    bool ok() const { return status == ParseStatus::Ok; }
};

// Limits that keep a hostile file from making the parser allocate or loop
// without bound. Nesting needs no counter: the parser descends only along the
// fixed paths it knows (movie, track, media, media information, sample table,
// sample description, sample entry, JP2 header), never into a box because the
// file says it is a container.
constexpr std::uint64_t kMaxMovieBoxSize = 64u << 20;   // bytes of the movie box read into memory
constexpr std::size_t kMaxBoxesPerContainer = 1u << 16;
constexpr std::size_t kMaxTracks = 256;
constexpr std::size_t kMaxSamples = 1u << 22;
constexpr std::uint64_t kMaxTopLevelBoxes = 1u << 16;

// One box header inside a cursor: type and a cursor over the payload.
struct Box {
    std::string type;
    ByteCursor payload;
};

// Reads the next box header from `in` and moves past the whole box. Answers
// false (and leaves `in` at its end) for a header that does not fit or claims
// more bytes than are left.
bool nextBox(ByteCursor& in, Box& box);

// Reads bytes of the file at an absolute offset; false when they are not there.
using ReadAt = std::function<bool(std::uint64_t offset, std::uint8_t* out, std::size_t n)>;

// Walks the top-level boxes of a file of `fileSize` bytes and answers the
// offset and size of the movie box's payload.
ParseResult locateMovie(const ReadAt& read, std::uint64_t fileSize, std::uint64_t& payloadOffset,
                        std::uint64_t& payloadSize);

// Parses the payload of the movie box. Sample offsets are checked against
// `fileSize`.
ParseResult parseMovie(ByteCursor moov, std::uint64_t fileSize, Movie& movie);

// Both steps over a file held in memory.
ParseResult parseFile(const std::uint8_t* data, std::size_t size, Movie& movie);

// The codestream of one sample, which is either a bare codestream (starting
// with the SOC and SIZ markers), a sequence of boxes holding a
// contiguous-codestream box ("jp2c", or "c2pj" as GStreamer writes it), or a
// whole JP2 image. A colour box inside the sample overrides the track's colour
// space. On failure `problem` says why, for the caller's message.
struct Codestream {
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
    ColourSpace colour = ColourSpace::Unknown;
    const char* problem = nullptr;
};
bool findCodestream(const std::uint8_t* data, std::size_t size, Codestream& out);

}  // namespace mj2k
