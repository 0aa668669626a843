// Uncompressed AVI files read through the same reader: stored bottom-up rows
// of palette indexes, 5-5-5 pixels, BGR or BGRX become top-down RGB frames.

#include "mjpegfixtures.hpp"

#include <platform/decoders/mjpegavidecoder/mjpegavidecoder.hpp>

#include <gtest/gtest.h>

using namespace mjpegtest;

namespace {

struct Picture {
    int width, height;
    Bytes rgb;  // top-down packed RGB
};

Picture picture(int width, int height, int seed) {
    return {width, height, testPicture(width, height, seed)};
}

std::size_t rowBytes(int width, int bits) {
    return (std::size_t(width) * bits + 31) / 32 * 4;
}

// Stores a picture the way an uncompressed AVI holds it.
Bytes store(const Picture& p, int bits, const Bytes& paletteIndexes = {}) {
    const std::size_t stride = rowBytes(p.width, bits);
    Bytes stored(stride * p.height, 0);
    for (int y = 0; y < p.height; ++y) {
        std::uint8_t* row = &stored[stride * (p.height - 1 - y)];
        for (int x = 0; x < p.width; ++x) {
            const std::uint8_t* px = &p.rgb[(std::size_t(y) * p.width + x) * 3];
            switch (bits) {
                case 8:
                    row[x] = paletteIndexes[std::size_t(y) * p.width + x];
                    break;
                case 16: {
                    const unsigned v = ((px[0] >> 3) << 10) | ((px[1] >> 3) << 5) | (px[2] >> 3);
                    row[2 * x] = v & 0xFF;
                    row[2 * x + 1] = v >> 8;
                    break;
                }
                case 24:
                case 32: {
                    const int n = bits / 8;
                    row[n * x] = px[2];
                    row[n * x + 1] = px[1];
                    row[n * x + 2] = px[0];
                    if (n == 4) {
                        row[n * x + 3] = 0x77;
                    }
                    break;
                }
            }
        }
    }
    return stored;
}

Frames readBuilt(const AviRecipe& recipe, const std::string& name) {
    const std::string path = scratchPath(name);
    writeFile(path, buildAvi(recipe));
    auto reader = openReader(path);
    EXPECT_EQ(reader->getBitsPerPixel(), 24u);
    EXPECT_EQ(reader->getVideoFormat(), u"RGB24");
    EXPECT_EQ(reader->getVideoCodec(), u"");
    reader->startFromBeginning();
    return readAll(*reader);
}

class UncompressedDepths : public ::testing::TestWithParam<int> {};

TEST_P(UncompressedDepths, FramesArriveAsTopDownRgb) {
    const int bits = GetParam();
    for (int width : {8, 5, 3}) {
        AviRecipe recipe;
        recipe.fourCC = "";
        recipe.bitCount = static_cast<std::uint16_t>(bits);
        recipe.width = width;
        recipe.height = 7;
        std::vector<Bytes> expected;
        for (int seed = 0; seed < 3; ++seed) {
            Picture p = picture(width, 7, seed);
            if (bits == 16) {
                for (std::uint8_t& v : p.rgb) {
                    v &= 0xF8;  // 5 bits a channel
                }
            }
            recipe.frames.push_back(store(p, bits));
            expected.push_back(p.rgb);
        }
        const Frames frames = readBuilt(recipe, "rgb" + std::to_string(bits) + "-" + std::to_string(width) + ".avi");
        ASSERT_EQ(frames.pixels.size(), 3u) << width;
        for (std::size_t i = 0; i < 3; ++i) {
            EXPECT_TRUE(frames.pixels[i] == expected[i]) << bits << " bits, width " << width << ", frame " << i;
            EXPECT_DOUBLE_EQ(frames.times[i], i / 25.0);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Mjpeg, UncompressedDepths, ::testing::Values(16, 24, 32));

TEST(MjpegUncompressed, PaletteFramesTakeTheirColoursFromTheColormap) {
    for (int width : {4, 5}) {
        AviRecipe recipe;
        recipe.fourCC = "";
        recipe.bitCount = 8;
        recipe.width = width;
        recipe.height = 3;
        for (int i = 0; i < 256; ++i) {
            recipe.palette.insert(recipe.palette.end(), {std::uint8_t(i), std::uint8_t(255 - i),
                                                     std::uint8_t(i * 3), 0});
        }
        Bytes indexes(std::size_t(width) * 3);
        Bytes expected;
        for (std::size_t i = 0; i < indexes.size(); ++i) {
            indexes[i] = static_cast<std::uint8_t>(i * 37 + 5);
            const std::uint8_t* entry = &recipe.palette[indexes[i] * 4];
            expected.insert(expected.end(), {entry[2], entry[1], entry[0]});  // red, green, blue
        }
        recipe.frames.push_back(store(Picture{width, 3, Bytes(std::size_t(width) * 9)}, 8, indexes));
        const Frames frames = readBuilt(recipe, "palette-" + std::to_string(width) + ".avi");
        ASSERT_EQ(frames.pixels.size(), 1u);
        EXPECT_TRUE(frames.pixels[0] == expected) << "width " << width;
    }
}

TEST(MjpegUncompressed, PlanarLayoutOfAnUncompressedFrame) {
    AviRecipe recipe;
    recipe.fourCC = "";
    recipe.bitCount = 24;
    recipe.width = 6;
    recipe.height = 4;
    const Picture p = picture(6, 4, 9);
    recipe.frames.push_back(store(p, 24));
    const std::string path = scratchPath("planar-24.avi");
    writeFile(path, buildAvi(recipe));
    auto reader = openReader(path);
    reader->startFromBeginning();
    EXPECT_TRUE(readOne(*reader, false) == toColumnMajorPlanes(p.rgb, 6, 4));
}

}  // namespace
