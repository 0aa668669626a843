// The Netpbm writer of `mmtool frames --ppm`: headers and sample bytes for
// grey and RGB, 8 and 16 bits, in both layouts a device delivers.

#include <host/mmtool/netpbm.hpp>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

using mmtool::FrameSamples;

FrameSamples frameOf(const void* data, std::uint64_t bytes, std::uint64_t w, std::uint64_t h, std::uint64_t c,
                     unsigned sampleBytes, bool interleaved) {
    FrameSamples f;
    f.data = static_cast<const unsigned char*>(data);
    f.bytes = bytes;
    f.width = w;
    f.height = h;
    f.channels = c;
    f.sampleBytes = sampleBytes;
    f.rowMajorInterleaved = interleaved;
    return f;
}

std::string encode(const FrameSamples& f) {
    std::string image, why;
    EXPECT_TRUE(mmtool::encodeNetpbm(f, image, why)) << why;
    return image;
}

TEST(Netpbm, GreyEightBitIsP5InRowOrderFromEitherLayout) {
    // 3 wide, 2 high: rows {1,2,3} {4,5,6}; the default layout stores columns.
    const unsigned char rows[] = {1, 2, 3, 4, 5, 6};
    const unsigned char columns[] = {1, 4, 2, 5, 3, 6};
    const std::string expected = std::string("P5\n3 2\n255\n") + "\x01\x02\x03\x04\x05\x06";
    EXPECT_EQ(encode(frameOf(rows, 6, 3, 2, 1, 1, true)), expected);
    EXPECT_EQ(encode(frameOf(columns, 6, 3, 2, 1, 1, false)), expected);
    EXPECT_STREQ(mmtool::netpbmExtension(frameOf(rows, 6, 3, 2, 1, 1, true)), "pgm");
}

TEST(Netpbm, SixteenBitRgbIsP6WithMaxval65535AndBigEndianSamples) {
    // 2 wide, 1 high; pixel x channel c holds 0x1000 * (x + 1) + c, and the
    // last sample 0xFFFF shows that full scale stays full scale.
    const std::vector<std::uint16_t> interleaved = {0x1000, 0x1001, 0x1002, 0x2000, 0x2001, 0xFFFF};
    // Default layout: plane per channel, each plane column by column.
    const std::vector<std::uint16_t> planar = {0x1000, 0x2000, 0x1001, 0x2001, 0x1002, 0xFFFF};
    const std::string expected = std::string("P6\n2 1\n65535\n") +
                                 std::string("\x10\x00\x10\x01\x10\x02\x20\x00\x20\x01\xFF\xFF", 12);
    EXPECT_EQ(encode(frameOf(interleaved.data(), 12, 2, 1, 3, 2, true)), expected);
    EXPECT_EQ(encode(frameOf(planar.data(), 12, 2, 1, 3, 2, false)), expected);
    EXPECT_EQ(mmtool::imageSampleBytes(multimedia::common::avbuffer::VIDEO_UINT16), 2u);
    EXPECT_EQ(mmtool::imageSampleBytes(multimedia::common::avbuffer::VIDEO_UINT8), 1u);
    EXPECT_EQ(mmtool::imageSampleBytes(multimedia::common::avbuffer::VIDEO_DOUBLE), 0u);
}

TEST(Netpbm, FramesWithoutAnImageFormOrWithShortBlocksAreRefusedUnread) {
    const unsigned char block[16] = {};
    std::string image, why;
    // Four channels, a block one byte short, dimensions whose product overflows,
    // a sample width the format lacks.
    for (const FrameSamples& f : {frameOf(block, 16, 2, 2, 4, 1, true), frameOf(block, 11, 2, 2, 3, 1, true),
                                  frameOf(block, 16, std::uint64_t{1} << 33, std::uint64_t{1} << 33, 1, 2, true),
                                  frameOf(block, 16, 2, 2, 1, 4, true), frameOf(nullptr, 0, 2, 2, 1, 1, true)}) {
        why.clear();
        EXPECT_FALSE(mmtool::encodeNetpbm(f, image, why)) << f.width << "x" << f.height << "x" << f.channels;
        EXPECT_FALSE(why.empty());
    }
}

}  // namespace
