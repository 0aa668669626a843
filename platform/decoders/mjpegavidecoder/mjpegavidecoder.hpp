#pragma once
// The Motion-JPEG AVI reader back end: reads AVI files whose video is Motion
// JPEG (or uncompressed 8, 16, 24 or 32 bits per pixel) frame by frame, through
// the index of the file, and delivers each frame as 8-bit RGB in the caller's
// layout.
//
// open() throws, from the qsVideoReader family:
//  - FileNotFoundException when the file cannot be opened at all;
//  - InitializationFailedException when it is not a readable AVI file;
//  - NoVideoException when it holds no video stream;
//  - UnknownCodecException when its video is neither Motion JPEG nor an
//    uncompressed format the reader converts;
//  - FileCorruptException when the stream description cannot be right (no
//    size, frames of the wrong length).
// A frame that cannot be read or decoded never throws: getCurrentTime()
// answers positive infinity for it, and reading goes on with the next frame.

#include <avi/avifile.hpp>
#include <common/export.hpp>
#include <videoreader/ivideoreader.hpp>

#include <vector>

namespace qsVideoReader {

// A new reader; the caller owns it and deletes it through the interface.
// It decodes Motion JPEG one frame ahead on a second thread.
MM_EXPORT IVideoReader* createMjpegAviReaderInstance();

}  // namespace qsVideoReader

namespace mjpegavidecoder {

// A reader like the one above that decodes every frame on the calling
// thread and nothing ahead: the same frames, for comparisons and for
// callers that want no second thread.
MM_EXPORT qsVideoReader::IVideoReader* createReaderWithoutDecodeAhead();

// The palette of the 8-bit uncompressed AVI file that `reader` (made by one
// of the factories above) has open, as the file stores it: true and the
// entries in `colormap`; false, leaving it alone, for any other file or
// reader. Reads nothing from the file.
MM_EXPORT bool colormapOfOpenFile(qsVideoReader::IVideoReader& reader, std::vector<avi::tagRGBQUAD>& colormap);

}  // namespace mjpegavidecoder
