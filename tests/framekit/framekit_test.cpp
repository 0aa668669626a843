#include <platform/services/framekit/copypaths.hpp>
#include <platform/services/framekit/framekit.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <random>
#include <stdexcept>
#include <vector>

namespace {

using pixcapframekit::frameFactory;
using pixcapframekit::IFrame;
namespace ft = pixcapframekit::frametypes;

template <typename T>
std::vector<T> randomFrame(std::size_t samples, unsigned seed) {
    std::mt19937 gen(seed);
    std::vector<T> v(samples);
    for (auto& s : v) {
        s = static_cast<T>(gen());
    }
    return v;
}

// The layout by its definition, one sample at a time.
template <typename T>
std::vector<T> columnMajorPlanes(const std::vector<T>& packed, std::size_t w, std::size_t h,
                                 std::size_t c) {
    std::vector<T> out(packed.size());
    for (std::size_t y = 0; y < h; ++y)
        for (std::size_t x = 0; x < w; ++x)
            for (std::size_t k = 0; k < c; ++k)
                out[k * h * w + x * h + y] = packed[(y * w + x) * c + k];
    return out;
}

TEST(FrameKit, DescribesThePackedRgbFrame) {
    auto frame = frameFactory(ft::FRAMETYPE_RGB8, 5, 3);
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(static_cast<std::uint32_t>(ft::FRAMETYPE_RGB8), 0x1030000u);
    EXPECT_EQ(frame->getFrameSize(), 5u * 3u * 3u);
    EXPECT_EQ(frame->getBitsPerSample(), 8);
    int a = 0, b = 0, c = 0;
    frame->getDimensions(a, b, c);
    EXPECT_EQ(b, 3);       // rows
    EXPECT_EQ(a * c, 15);  // samples in one row
    auto deep = frameFactory(ft::FRAMETYPE_RGB16, 4, 2);
    ASSERT_NE(deep, nullptr);
    EXPECT_EQ(deep->getFrameSize(), 4u * 2u * 3u * 2u);
    EXPECT_EQ(deep->getBitsPerSample(), 16);
}

TEST(FrameKit, RefusesUnknownTypesNegativeSizesAndOverflow) {
    EXPECT_EQ(frameFactory(static_cast<ft::FRAMETYPE>(0x1030001), 4, 4), nullptr);
    EXPECT_EQ(frameFactory(static_cast<ft::FRAMETYPE>(0x3030000), 4, 4), nullptr);
    EXPECT_EQ(frameFactory(static_cast<ft::FRAMETYPE>(0x1000000), 4, 4), nullptr);
    EXPECT_EQ(frameFactory(ft::FRAMETYPE_RGB8, -1, 4), nullptr);
    EXPECT_EQ(frameFactory(ft::FRAMETYPE_RGB8, 4, -1), nullptr);
    const int big = std::numeric_limits<int>::max();
    // 2^31 x 2^31 x 3 x 2 bytes does not fit 64 bits.
    EXPECT_EQ(frameFactory(ft::FRAMETYPE_RGB16, big, big), nullptr);
    auto empty = frameFactory(ft::FRAMETYPE_RGB8, 0, 0);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->getFrameSize(), 0u);
}

TEST(FrameKit, InterleavedIsThePackedFrameUnchanged) {
    auto frame = frameFactory(ft::FRAMETYPE_RGB8, 7, 5);
    const auto packed = randomFrame<std::uint8_t>(7 * 5 * 3, 1);
    std::vector<std::uint8_t> out(packed.size() + 4, 0xAB);
    frame->copy({out.data()}, packed.data(), true);
    EXPECT_TRUE(std::equal(packed.begin(), packed.end(), out.begin()));
    for (std::size_t i = packed.size(); i < out.size(); ++i) EXPECT_EQ(out[i], 0xAB) << "overrun";
}

// Sizes around the 16-sample tiles and 64-sample blocks of the fast path,
// for every channel count, so edges, tiles and blocks all meet the reference.
TEST(FrameKit, DefaultLayoutIsPlanarColumnMajorForEveryShape) {
    const int sizes[] = {1, 2, 5, 15, 16, 17, 31, 33, 64, 65, 100};
    const ft::FRAMETYPE types[] = {ft::FRAMETYPE_GRAY8, ft::FRAMETYPE_RGB8, ft::FRAMETYPE_RGBA8};
    const std::size_t channels[] = {1, 3, 4};
    unsigned seed = 7;
    for (std::size_t t = 0; t < 3; ++t) {
        for (int w : sizes) {
            for (int h : sizes) {
                auto frame = frameFactory(types[t], w, h);
                ASSERT_NE(frame, nullptr);
                const auto packed = randomFrame<std::uint8_t>(frame->getFrameSize(), ++seed);
                std::vector<std::uint8_t> out(packed.size() + 16, 0xCD);
                frame->copy({out.data()}, packed.data(), false);
                const auto expected = columnMajorPlanes(packed, w, h, channels[t]);
                ASSERT_TRUE(std::equal(expected.begin(), expected.end(), out.begin()))
                    << "w=" << w << " h=" << h << " c=" << channels[t];
                for (std::size_t i = packed.size(); i < out.size(); ++i)
                    ASSERT_EQ(out[i], 0xCD) << "overrun w=" << w << " h=" << h;
            }
        }
    }
}

// Frames wider than one strip of the fast path, up to full HD.
TEST(FrameKit, DefaultLayoutAcrossStrips) {
    const int shapes[][2] = {{257, 33}, {600, 17}, {1920, 1080}};
    for (const auto& shape : shapes) {
        auto frame = frameFactory(ft::FRAMETYPE_RGB8, shape[0], shape[1]);
        const auto packed = randomFrame<std::uint8_t>(frame->getFrameSize(), 11);
        std::vector<std::uint8_t> out(packed.size());
        frame->copy({out.data()}, packed.data(), false);
        ASSERT_TRUE(out == columnMajorPlanes(packed, shape[0], shape[1], 3))
            << shape[0] << "x" << shape[1];
    }
}

TEST(FrameKit, DefaultLayoutForSixteenBitSamples) {
    auto frame = frameFactory(ft::FRAMETYPE_RGB16, 19, 70);
    const auto packed = randomFrame<std::uint16_t>(19 * 70 * 3, 3);
    std::vector<std::uint16_t> out(packed.size());
    frame->copy({out.data()}, packed.data(), false);
    EXPECT_EQ(out, columnMajorPlanes(packed, 19, 70, 3));
}

TEST(FrameKit, DefaultLayoutIntoSeparatePlanes) {
    auto frame = frameFactory(ft::FRAMETYPE_RGB8, 33, 18);
    const auto packed = randomFrame<std::uint8_t>(33 * 18 * 3, 4);
    std::vector<std::uint8_t> r(33 * 18), g(33 * 18), b(33 * 18);
    frame->copy({r.data(), g.data(), b.data()}, packed.data(), false);
    const auto expected = columnMajorPlanes(packed, 33, 18, 3);
    EXPECT_TRUE(std::equal(r.begin(), r.end(), expected.begin()));
    EXPECT_TRUE(std::equal(g.begin(), g.end(), expected.begin() + 33 * 18));
    EXPECT_TRUE(std::equal(b.begin(), b.end(), expected.begin() + 2 * 33 * 18));
}

TEST(FrameKit, CopyRefusesMissingOrMismatchedDestinations) {
    auto frame = frameFactory(ft::FRAMETYPE_RGB8, 4, 4);
    std::vector<std::uint8_t> packed(48), out(48);
    EXPECT_THROW(frame->copy({}, packed.data(), true), std::invalid_argument);
    EXPECT_THROW(frame->copy({nullptr}, packed.data(), false), std::invalid_argument);
    EXPECT_THROW(frame->copy({out.data()}, nullptr, true), std::invalid_argument);
    EXPECT_THROW(frame->copy({out.data(), out.data()}, packed.data(), false), std::invalid_argument);
}

// Every copy path gives the bytes of the scalar one, on shapes that leave
// partial tiles, bands and strips on both edges, for every channel count,
// from packed rows and from rows padded by an odd number of bytes.
TEST(FrameKit, EveryCopyPathGivesTheSameBytes) {
    using pixcapframekit::CopyPath;
    const std::size_t shapes[][2] = {{1, 1}, {17, 47}, {33, 65}, {261, 97}, {70, 1080}};
    unsigned seed = 40;
    for (std::size_t channels = 1; channels <= 5; ++channels) {
        for (const auto& shape : shapes) {
            const std::size_t w = shape[0], h = shape[1], plane = w * h, row = w * channels;
            const auto packed = randomFrame<std::uint8_t>(plane * channels, ++seed);
            const auto expected = columnMajorPlanes(packed, w, h, channels);
            for (std::size_t pad : {0, 3}) {
                const std::size_t stride = row + pad;
                std::vector<std::uint8_t> padded(stride * h, 0x5A);
                for (std::size_t y = 0; y < h; ++y)
                    std::copy_n(packed.begin() + y * row, row, padded.begin() + y * stride);
                for (CopyPath path : {CopyPath::Scalar, CopyPath::Sse2, CopyPath::Avx2,
                                      CopyPath::Streaming, CopyPath::Automatic}) {
                    if (!pixcapframekit::copyPathAvailable(path)) continue;
                    std::vector<std::uint8_t> out(expected.size() + 32, 0xEE);
                    std::vector<std::uint8_t*> planes;
                    for (std::size_t c = 0; c < channels; ++c) planes.push_back(out.data() + c * plane);
                    pixcapframekit::transposeWith(path, padded.data(), stride, planes.data(), w, h,
                                                  channels);
                    ASSERT_TRUE(std::equal(expected.begin(), expected.end(), out.begin()))
                        << "path " << static_cast<int>(path) << " " << w << "x" << h << "x"
                        << channels << " pad " << pad;
                    ASSERT_EQ(out[expected.size()], 0xEE) << "overrun";
                }
            }
        }
    }
}

// The frame object's copy of padded rows leaves the padding out, in both
// layouts and for 16-bit samples, and refuses rows that would overlap.
TEST(FrameKit, CopyRowsSkipsRowPadding) {
    auto frame = frameFactory(ft::FRAMETYPE_RGB8, 5, 4);  // 15-byte rows, padded to 16
    const auto packed = randomFrame<std::uint8_t>(5 * 4 * 3, 12);
    std::vector<std::uint8_t> padded(16 * 4, 0x77);
    for (std::size_t y = 0; y < 4; ++y) std::copy_n(packed.begin() + y * 15, 15, padded.begin() + y * 16);
    std::vector<std::uint8_t> out(packed.size());
    frame->copyRows({out.data()}, padded.data(), 16, true);
    EXPECT_EQ(out, packed);
    frame->copyRows({out.data()}, padded.data(), 16, false);
    EXPECT_EQ(out, columnMajorPlanes(packed, 5, 4, 3));
    EXPECT_THROW(frame->copyRows({out.data()}, padded.data(), 14, false), std::invalid_argument);

    auto deep = frameFactory(ft::FRAMETYPE_RGB16, 3, 2);  // 9 samples a row, 10 with padding
    const auto packed16 = randomFrame<std::uint16_t>(3 * 2 * 3, 13);
    std::vector<std::uint16_t> padded16(10 * 2, 0);
    for (std::size_t y = 0; y < 2; ++y) std::copy_n(packed16.begin() + y * 9, 9, padded16.begin() + y * 10);
    std::vector<std::uint16_t> out16(packed16.size());
    deep->copyRows({out16.data()}, padded16.data(), 20, false);
    EXPECT_EQ(out16, columnMajorPlanes(packed16, 3, 2, 3));
    EXPECT_THROW(deep->copyRows({out16.data()}, padded16.data(), 19, false), std::invalid_argument);
}

// A frame laid out band by band, in bands of any height, is the frame laid
// out at once.
TEST(FrameKit, BandsMakeTheWholeFrame) {
    const std::size_t w = 37, h = 83;
    const auto packed = randomFrame<std::uint8_t>(w * h * 3, 9);
    const auto expected = columnMajorPlanes(packed, w, h, 3);
    for (std::size_t bandRows : {1, 16, 20, 64, 100}) {
        std::vector<std::uint8_t> out(expected.size());
        std::uint8_t* planes[3] = {out.data(), out.data() + w * h, out.data() + 2 * w * h};
        for (std::size_t y = 0; y < h; y += bandRows) {
            pixcapframekit::transposeRowsToColumnMajorPlanes(packed.data() + y * w * 3, planes, w, h, 3,
                                                             y, bandRows);
        }
        ASSERT_EQ(out, expected) << "bands of " << bandRows;
    }
}

TEST(FrameKit, FrameMemoryIsAlignedForTilesAndPages) {
    auto small = pixcapframekit::allocateFrameMemory(1000);
    auto large = pixcapframekit::allocateFrameMemory(3u << 20);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(small.get()) % 64, 0u);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(large.get()) % (2u << 20), 0u);
    large[(3u << 20) - 1] = 1;  // the whole block is there
}

}  // namespace
