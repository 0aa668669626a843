#pragma once
// Sample-type enumerations shared by the buffers, the readers and the plugins.
// Both are 32-bit; only their numeric values cross library boundaries.

#include <cstdint>

namespace multimedia {
namespace common {
namespace avbuffer {

// Audio sample types, known to the buffer library only through their widths.
enum AudioDataType : std::int32_t {
    AUDIO_DOUBLE = 0,   // 8 bytes
    AUDIO_SINGLE = 1,   // 4 bytes
    AUDIO_INT8 = 2,     // 1 byte
    AUDIO_UINT8 = 3,    // 1 byte
    AUDIO_INT16 = 4,    // 2 bytes
    AUDIO_UINT16 = 5,   // 2 bytes
    AUDIO_INT32 = 6,    // 4 bytes
    AUDIO_UINT32 = 7,   // 4 bytes
    AUDIO_BOOL = 8,     // 1 byte
    AUDIO_INT24 = 9,    // 3 bytes
    AUDIO_UINT24 = 10,  // 3 bytes
};

// Video sample types; stored and passed through, never interpreted here.
enum VideoDataType : std::int32_t {
    VIDEO_DOUBLE = 0,
    VIDEO_SINGLE = 1,
    VIDEO_INT8 = 2,
    VIDEO_UINT8 = 3,  // 8 bits per sample: every GStreamer and MJPEG frame
    VIDEO_INT16 = 4,
    VIDEO_UINT16 = 5,
    VIDEO_INT32 = 6,
    VIDEO_UINT32 = 7,
    VIDEO_BOOL = 8,
};

}  // namespace avbuffer
}  // namespace common
}  // namespace multimedia
