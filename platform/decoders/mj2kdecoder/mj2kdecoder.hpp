#pragma once
// Motion JPEG 2000 file reader: frames of the video track decoded with
// OpenJPEG, one or three channels.
//
// Samples: components of up to 8 bits are delivered as 8-bit samples (data
// type 3), components of 9 to 16 bits as 16-bit unsigned samples (data type
// 5). Every value is scaled to the whole range of its container, so that the
// brightest value of any depth is 255 or 65535: a component of precision p
// with value v is delivered as round(v * (2^n - 1) / (2^p - 1)) in an n-bit
// sample. A 10-bit sample thus takes values from 0 to 65535 in steps of
// about 64.06 (1023 -> 65535, 512 -> 32800), a 12-bit one in steps of about
// 16.004 (4095 -> 65535). Luma and chroma samples are converted to RGB with
// the same scaling; grey stays one channel; an alpha or any further
// component is not delivered.
//
// Reading: each frame is decoded with OpenJPEG's own threads, and the next
// frame is decoded on a worker thread while the caller has the current one;
// frames come out exactly as a one-at-a-time decode gives them, in order.

#include <common/export.hpp>
#include <videoreader/ivideoreader.hpp>

namespace qsVideoReader {

// A new reader; the caller owns it and deletes it through the interface.
MM_EXPORT IVideoReader* createMj2kReaderInstance();

}  // namespace qsVideoReader
