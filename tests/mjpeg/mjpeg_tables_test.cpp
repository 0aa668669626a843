// The Huffman tables a frame without DHT is decoded with are exactly those
// libjpeg encodes with by default (the example tables of the JPEG format).

#include <platform/decoders/mjpegavidecoder/jpegframedecoder.hpp>

#include <common/jpeg/jpegerrors.hpp>

#include <gtest/gtest.h>

#include <jpeglib.h>

namespace {

void expectSame(const JHUFF_TBL& libjpeg, const mjpegavidecoder::StandardHuffmanTable& ours,
                const char* which) {
    std::size_t count = 0;
    for (int k = 1; k <= 16; ++k) {
        EXPECT_EQ(libjpeg.bits[k], ours.bits[k]) << which << " codes of length " << k;
        count += libjpeg.bits[k];
    }
    ASSERT_EQ(count, ours.valueCount) << which;
    for (std::size_t i = 0; i < count; ++i) {
        EXPECT_EQ(libjpeg.huffval[i], ours.values[i]) << which << " symbol " << i;
    }
}

TEST(MjpegHuffman, StandardTablesEqualLibjpegDefaults) {
    jpeg_compress_struct cinfo;
    multimedia::common::jpeg::ErrorManager errors;
    errors.install(cinfo);
    jpeg_create_compress(&cinfo);
    cinfo.in_color_space = JCS_RGB;
    cinfo.input_components = 3;
    jpeg_set_defaults(&cinfo);
    for (int t = 0; t < 2; ++t) {
        ASSERT_NE(cinfo.dc_huff_tbl_ptrs[t], nullptr);
        ASSERT_NE(cinfo.ac_huff_tbl_ptrs[t], nullptr);
        expectSame(*cinfo.dc_huff_tbl_ptrs[t], mjpegavidecoder::standardDcTable(t), t ? "DC chroma" : "DC luma");
        expectSame(*cinfo.ac_huff_tbl_ptrs[t], mjpegavidecoder::standardAcTable(t), t ? "AC chroma" : "AC luma");
    }
    jpeg_destroy_compress(&cinfo);
}

}  // namespace
