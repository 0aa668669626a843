#pragma once
// Motion JPEG 2000 file reader: frames of the video track decoded with
// OpenJPEG, delivered as 8-bit (data type 3) or 16-bit unsigned samples
// (data type 5), one or three channels.

#include <common/export.hpp>
#include <videoreader/ivideoreader.hpp>

namespace qsVideoReader {

// A new reader; the caller owns it and deletes it through the interface.
MM_EXPORT IVideoReader* createMj2000ReaderInstance();

}  // namespace qsVideoReader
