#pragma once
// Shared helpers of the Motion JPEG 2000 reader tests.

#include "mj2builder.hpp"

#include <platform/decoders/mj2kdecoder/mj2kdecoder.hpp>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace mj2test {

using ReaderPtr = std::unique_ptr<qsVideoReader::IVideoReader>;

inline ReaderPtr newReader() { return ReaderPtr(qsVideoReader::createMj2kReaderInstance()); }

inline std::u16string u16(const std::string& s) { return std::u16string(s.begin(), s.end()); }

inline ReaderPtr openFile(const std::string& path) {
    ReaderPtr r = newReader();
    r->open(u16(path), false);
    return r;
}

inline std::size_t bytesPerSample(qsVideoReader::IVideoReader& r) {
    return r.getVideoDataType() == multimedia::common::avbuffer::VIDEO_UINT16 ? 2 : 1;
}

// One frame read into a buffer of exactly the size the reader declares.
inline std::vector<std::uint8_t> readOne(qsVideoReader::IVideoReader& r, bool rowMajor) {
    std::vector<std::uint8_t> buf(r.getWidth() * r.getHeight() * r.getNumColorChannels() * bytesPerSample(r), 0xA5);
    r.readFrame(rowMajor, buf.data());
    return buf;
}

template <typename T>
std::vector<std::uint8_t> asBytes(const std::vector<T>& v) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(v.data());
    return std::vector<std::uint8_t>(p, p + v.size() * sizeof(T));
}

// A movie of `frames` lossless frames of the given shape; `codestreams`
// receives each sample's codestream.
inline MovieLayout simpleMovie(std::uint32_t w, std::uint32_t h, std::uint32_t components, std::uint32_t precision,
                             std::uint32_t frames, std::vector<std::vector<std::uint8_t>>* codestreams = nullptr) {
    MovieLayout layout;
    layout.width = w;
    layout.height = h;
    layout.components = static_cast<std::uint16_t>(components);
    layout.bitDepth = static_cast<std::uint8_t>(precision);
    layout.colour = components == 3 ? 16 : 17;
    for (std::uint32_t i = 0; i < frames; ++i) layout.samples.push_back(encodeJ2k(makePicture(w, h, components, precision, i)));
    if (codestreams) *codestreams = layout.samples;
    return layout;
}

}  // namespace mj2test
