// Every SIMD path of the RGB24 conversions gives the bytes of the scalar
// path, for every depth, palette size, width and both row orders; pad bytes
// and the bytes after the picture are left alone by all of them.
#include "avi_fixture.hpp"

#include <avi/pixelconvert.hpp>

#include <random>

using avi::detail::PixelIsa;

namespace {

std::size_t strideOf(std::size_t w, unsigned bits) { return (w * bits + 31) / 32 * 4; }

// Converts a copy of `stored` with the given path.
std::vector<std::uint8_t> convert(std::vector<std::uint8_t> frame, std::size_t w, std::size_t h, unsigned bits,
                                  const std::uint32_t* lut, std::size_t stored, PixelIsa isa) {
    const std::size_t out = (3 * w + 3) / 4 * 4;
    if (bits <= 8)
        avi::detail::paletteToRgb24(frame.data(), w, h, bits, strideOf(w, bits), out, lut, isa);
    else if (bits == 16)
        avi::detail::rgb555ToRgb24(frame.data(), w, h, 2 * w + (w & 1) * 2, out, isa);
    else
        avi::detail::rgb32ToRgb24(frame.data(), w, h, out, stored, isa);
    return frame;
}

}  // namespace

TEST(AviPixels, SimdPathsMatchTheScalarPath) {
    std::vector<PixelIsa> paths;
    for (PixelIsa isa : {PixelIsa::Ssse3, PixelIsa::Avx2, PixelIsa::Avx512Vbmi})
        if (avi::detail::pixelIsaSupported(isa)) paths.push_back(isa);
    if (paths.empty()) GTEST_SKIP() << "no SIMD path on this processor";
    std::mt19937 rng(5);
    std::vector<std::size_t> widths;
    for (std::size_t w = 1; w <= 41; ++w) widths.push_back(w);
    widths.insert(widths.end(), {64, 127, 128, 643});
    for (unsigned bits : {2u, 4u, 8u, 16u, 32u})
        for (std::size_t paletteSize : {2u, 16u, 201u, 256u}) {
            if (bits > 8 && paletteSize != 2) continue;
            // Entries beyond the palette are black, as the reader builds its table.
            std::uint32_t lut[256] = {};
            for (std::size_t i = 0; i < paletteSize; ++i) lut[i] = rng() & 0xFFFFFFu;
            for (std::size_t w : widths)
                for (std::size_t h : {1u, 2u, 5u}) {
                    const std::size_t in = strideOf(w, bits), out = (3 * w + 3) / 4 * 4;
                    // Room for the larger layout and bytes after it that must stay.
                    std::vector<std::uint8_t> frame(std::max(in, out) * h + 64);
                    for (auto& b : frame) b = static_cast<std::uint8_t>(rng());
                    // 32 bits: the whole picture, and one cut inside a row.
                    for (std::size_t stored : {in * h, in * h - std::min(in * h, 4 * w / 2 + 4)}) {
                        const auto want = convert(frame, w, h, bits, lut, stored, PixelIsa::Scalar);
                        for (PixelIsa isa : paths)
                            ASSERT_EQ(convert(frame, w, h, bits, lut, stored, isa), want)
                                << bits << " bits, width " << w << ", height " << h << ", palette " << paletteSize
                                << ", stored " << stored << ", path " << static_cast<int>(isa);
                        if (bits != 32) break;
                    }
                }
        }
}

class AviPixelsRowOrder : public AviFixture {};

TEST_F(AviPixelsRowOrder, TopDownAndBottomUpFilesConvertAlike) {
    for (int bits : {8, 16, 32})
        for (int w : {37, 640}) {
            const int h = 3;
            const std::size_t in = strideOf(static_cast<std::size_t>(w), static_cast<unsigned>(bits));
            avitest::AviRecipe up;
            up.width = w;
            up.height = h;
            up.bits = static_cast<std::uint16_t>(bits);
            if (bits == 8) up.palette = avitest::pattern(4 * 100, 9);  // indexes past 100 are black
            up.frames.push_back(avitest::pattern(in * h, static_cast<unsigned>(bits)));
            avitest::AviRecipe down = up;
            down.height = -h;
            std::string& rows = down.frames[0];
            for (int r = 0; r < h; ++r) rows.replace(r * in, in, up.frames[0].substr((h - 1 - r) * in, in));
            std::string got[2];
            int k = 0;
            for (const avitest::AviRecipe* s : {&up, &down}) {
                avi::File f;
                ASSERT_TRUE(f.open(save(*s, "order" + std::to_string(k) + ".avi").c_str(), "r"));
                got[k].assign(f.getRGB24VideoFrameSize(), '\x5a');
                f.readRGB24VideoFrame(got[k].data(), 0);
                ASSERT_EQ(f.getErrorCode(), avi::errors::NO_ERROR);
                ++k;
            }
            const std::size_t out = static_cast<std::size_t>(3 * w + 3) / 4 * 4;
            for (int r = 0; r < h; ++r)
                EXPECT_EQ(got[0].substr(r * out, 3 * w), got[1].substr(r * out, 3 * w)) << bits << " bits, row " << r;
        }
}
