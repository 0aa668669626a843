// The JPEG error manager with real libjpeg: fatal errors become exceptions
// carrying libjpeg's own message text, warnings stay off stderr, and the
// process keeps decoding afterwards.

#include <common/jpeg/jpegerrors.hpp>

#include <gtest/gtest.h>

#include <jerror.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

namespace jpg = multimedia::common::jpeg;

namespace {

// libjpeg's message templates, indexed by message code. The version and
// copyright entries come from a header libjpeg does not install; they are
// never compared here.
#define JVERSION ""
#define JCOPYRIGHT_SHORT ""
#define JMESSAGE(code, string) string,
const char* const kTemplates[] = {
#include <jerror.h>
    nullptr};
#undef JMESSAGE
#undef JCOPYRIGHT_SHORT
#undef JVERSION

// The text libjpeg's standard formatter writes for a message code and the
// integer parameters libjpeg recorded.
std::string standardText(const jpeg_error_mgr& recorded) {
    jpeg_error_mgr standard;
    jpeg_std_error(&standard);
    jpeg_decompress_struct object;
    std::memset(&object, 0, sizeof object);
    object.err = &standard;
    standard.msg_code = recorded.msg_code;
    std::memcpy(&standard.msg_parm, &recorded.msg_parm, sizeof standard.msg_parm);
    char text[JMSG_LENGTH_MAX] = {};
    standard.format_message(reinterpret_cast<j_common_ptr>(&object), text);
    return text;
}

struct Image {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> rgb;
};

Image gradient(int width, int height) {
    Image image{width, height, std::vector<unsigned char>(static_cast<std::size_t>(width) * height * 3)};
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            unsigned char* p = &image.rgb[(static_cast<std::size_t>(y) * width + x) * 3];
            p[0] = static_cast<unsigned char>(x * 255 / (width - 1));
            p[1] = static_cast<unsigned char>(y * 255 / (height - 1));
            p[2] = 128;
        }
    }
    return image;
}

// Encodes with the manager installed; the test JPEGs are made here.
std::vector<unsigned char> encode(const Image& image, int quality = 90) {
    jpeg_compress_struct cinfo;
    jpg::ErrorManager errors;
    errors.install(cinfo);
    jpeg_create_compress(&cinfo);
    unsigned char* out = nullptr;
    unsigned long outSize = 0;
    jpeg_mem_dest(&cinfo, &out, &outSize);
    cinfo.image_width = static_cast<JDIMENSION>(image.width);
    cinfo.image_height = static_cast<JDIMENSION>(image.height);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<unsigned char*>(&image.rgb[static_cast<std::size_t>(cinfo.next_scanline) *
                                                             image.width * 3]);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::vector<unsigned char> jpeg(out, out + outSize);
    std::free(out);
    return jpeg;
}

struct Decoded {
    bool threw = false;
    bool caughtAsRuntimeError = false;
    std::string what;
    std::string expected;  // libjpeg's standard text for the recorded message
    int msgCode = 0;
    long warnings = 0;
    Image image;
};

// Decodes with the manager installed; on an exception the decompressor is
// destroyed like any careful caller would, so asan sees no leak.
Decoded decode(const std::vector<unsigned char>& data) {
    Decoded result;
    jpeg_decompress_struct cinfo;
    jpg::ErrorManager errors;
    errors.install(cinfo);
    jpeg_create_decompress(&cinfo);
    try {
        try {
            jpeg_mem_src(&cinfo, data.data(), static_cast<unsigned long>(data.size()));
            jpeg_read_header(&cinfo, TRUE);
            cinfo.out_color_space = JCS_RGB;
            jpeg_start_decompress(&cinfo);
            result.image.width = static_cast<int>(cinfo.output_width);
            result.image.height = static_cast<int>(cinfo.output_height);
            result.image.rgb.resize(static_cast<std::size_t>(cinfo.output_width) * cinfo.output_height * 3);
            while (cinfo.output_scanline < cinfo.output_height) {
                JSAMPROW row = &result.image.rgb[static_cast<std::size_t>(cinfo.output_scanline) *
                                                 cinfo.output_width * 3];
                jpeg_read_scanlines(&cinfo, &row, 1);
            }
            jpeg_finish_decompress(&cinfo);
        } catch (const jpg::Exception& e) {
            result.threw = true;
            result.what = e.what();
            result.msgCode = cinfo.err->msg_code;
            result.expected = standardText(*cinfo.err);
            throw;
        }
    } catch (const std::runtime_error&) {
        result.caughtAsRuntimeError = true;
    }
    result.warnings = cinfo.err->num_warnings;
    jpeg_destroy_decompress(&cinfo);
    return result;
}

// Redirects file descriptor 2 into a temporary file while alive.
class StderrCapture {
public:
    StderrCapture() : file_(std::tmpfile()) {
        std::fflush(stderr);
        saved_ = dup(2);
        dup2(fileno(file_), 2);
    }
    ~StderrCapture() {
        restore();
        std::fclose(file_);
    }
    std::string text() {
        restore();
        std::string out;
        std::rewind(file_);
        char chunk[256];
        std::size_t n;
        while ((n = std::fread(chunk, 1, sizeof chunk, file_)) > 0) out.append(chunk, n);
        return out;
    }

private:
    void restore() {
        if (saved_ < 0) return;
        std::fflush(stderr);
        dup2(saved_, 2);
        ::close(saved_);
        saved_ = -1;
    }
    std::FILE* file_;
    int saved_ = -1;
};

// Cuts a good JPEG in the middle of its entropy-coded data.
std::vector<unsigned char> cutInScan(std::vector<unsigned char> jpeg) {
    jpeg.resize(jpeg.size() * 2 / 3);
    return jpeg;
}

void expectLooksLike(const Image& expected, const Image& actual) {
    ASSERT_EQ(expected.width, actual.width);
    ASSERT_EQ(expected.height, actual.height);
    ASSERT_EQ(expected.rgb.size(), actual.rgb.size());
    int worst = 0;
    for (std::size_t i = 0; i < expected.rgb.size(); ++i) {
        worst = std::max(worst, std::abs(int(expected.rgb[i]) - int(actual.rgb[i])));
    }
    EXPECT_LE(worst, 24) << "decoded image too far from the source";
}

}  // namespace

TEST(JpegErrorManager, IsTheLibjpegRecordBehindAVirtualTable) {
    static_assert(!std::is_copy_constructible<jpg::ErrorManager>::value, "noncopyable");
    static_assert(!std::is_copy_assignable<jpg::ErrorManager>::value, "noncopyable");
    static_assert(std::is_base_of<std::runtime_error, jpg::Exception>::value, "runtime_error");
    static_assert(sizeof(jpg::ErrorManager) == sizeof(void*) + sizeof(jpeg_error_mgr), "record + vptr");
    const jpg::Exception e("text as given");
    EXPECT_STREQ("text as given", e.what());
}

TEST(JpegErrorManager, InstallSetsTheCallbacksAndTheErrPointer) {
    jpeg_decompress_struct decompressor;
    jpg::ErrorManager errors;
    errors.install(decompressor);
    EXPECT_EQ(&errors.record, decompressor.err);
    EXPECT_EQ(&jpg::ErrorManager::error_exit, errors.record.error_exit);
    EXPECT_EQ(&jpg::ErrorManager::output_message, errors.record.output_message);
    EXPECT_NE(nullptr, errors.record.format_message);  // libjpeg's own formatter

    jpeg_compress_struct compressor;
    jpg::ErrorManager other;
    other.install(compressor);
    EXPECT_EQ(&other.record, compressor.err);
}

TEST(JpegDecodeErrors, CorruptDataThrowsLibjpegsText) {
    std::vector<unsigned char> jpeg = encode(gradient(32, 16));
    jpeg[0] = 0x12;  // no SOI marker
    jpeg[1] = 0x34;
    const Decoded d = decode(jpeg);
    ASSERT_TRUE(d.threw);
    EXPECT_TRUE(d.caughtAsRuntimeError);
    EXPECT_EQ(JERR_NO_SOI, d.msgCode);
    char expected[JMSG_LENGTH_MAX];
    std::snprintf(expected, sizeof expected, kTemplates[JERR_NO_SOI], 0x12, 0x34);
    EXPECT_EQ(expected, d.what);
    EXPECT_EQ("Not a JPEG file: starts with 0x12 0x34", d.what);
    EXPECT_EQ(d.expected, d.what);
}

TEST(JpegDecodeErrors, TruncatedHeaderThrowsLibjpegsText) {
    // Only the start-of-image marker: the data ends before any frame.
    std::vector<unsigned char> jpeg = encode(gradient(32, 16));
    jpeg.resize(2);
    const Decoded d = decode(jpeg);
    ASSERT_TRUE(d.threw);
    EXPECT_EQ(JERR_NO_IMAGE, d.msgCode);
    EXPECT_EQ(kTemplates[JERR_NO_IMAGE], d.what);
    EXPECT_EQ(d.expected, d.what);
}

TEST(JpegDecodeErrors, DataCutInsideAMarkerSegmentThrows) {
    // Wherever the cut falls in the header, the error is libjpeg's, as text.
    const std::vector<unsigned char> good = encode(gradient(32, 16));
    for (std::size_t keep : {3u, 7u, 25u, 60u, 100u, 150u}) {
        std::vector<unsigned char> jpeg(good.begin(), good.begin() + static_cast<long>(keep));
        const Decoded d = decode(jpeg);
        ASSERT_TRUE(d.threw) << "kept " << keep << " bytes";
        EXPECT_FALSE(d.what.empty());
        EXPECT_EQ(d.expected, d.what) << "kept " << keep << " bytes";
        EXPECT_LT(d.msgCode, JMSG_LASTMSGCODE);
    }
}

TEST(JpegDecodeErrors, DecodingGoesOnWithAFreshDecompressor) {
    const Image source = gradient(48, 32);
    const std::vector<unsigned char> good = encode(source);
    std::vector<unsigned char> bad = good;
    bad[0] = 0;
    for (int round = 0; round < 3; ++round) {
        ASSERT_TRUE(decode(bad).threw);
        const Decoded d = decode(good);
        ASSERT_FALSE(d.threw) << d.what;
        expectLooksLike(source, d.image);
    }
}

TEST(JpegWarnings, PrematureEndIsSilentAndRecoverable) {
    const Image source = gradient(64, 64);
    const std::vector<unsigned char> cut = cutInScan(encode(source));
    Decoded d;
    std::string printed;
    {
        StderrCapture capture;
        d = decode(cut);
        printed = capture.text();
    }
    EXPECT_FALSE(d.threw) << d.what;
    EXPECT_GE(d.warnings, 1);
    EXPECT_EQ("", printed);
    EXPECT_EQ(source.width, d.image.width);
}

TEST(JpegWarnings, TheStandardManagerWouldHavePrintedIt) {
    // Guards the capture above: without our callbacks the same warning reaches
    // stderr, so an empty capture means the manager silenced it.
    const std::vector<unsigned char> cut = cutInScan(encode(gradient(64, 64)));
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr standard;
    cinfo.err = jpeg_std_error(&standard);
    std::string printed;
    {
        StderrCapture capture;
        jpeg_create_decompress(&cinfo);
        jpeg_mem_src(&cinfo, cut.data(), static_cast<unsigned long>(cut.size()));
        jpeg_read_header(&cinfo, TRUE);
        jpeg_start_decompress(&cinfo);
        std::vector<unsigned char> row(static_cast<std::size_t>(cinfo.output_width) * cinfo.output_components);
        while (cinfo.output_scanline < cinfo.output_height) {
            JSAMPROW p = row.data();
            jpeg_read_scanlines(&cinfo, &p, 1);
        }
        jpeg_finish_decompress(&cinfo);
        jpeg_destroy_decompress(&cinfo);
        printed = capture.text();
    }
    EXPECT_NE(std::string::npos, printed.find(kTemplates[JWRN_JPEG_EOF])) << printed;
}

TEST(JpegEncodeErrors, CompressorErrorsThrowToo) {
    jpeg_compress_struct cinfo;
    jpg::ErrorManager errors;
    errors.install(cinfo);
    jpeg_create_compress(&cinfo);
    unsigned char* out = nullptr;
    unsigned long outSize = 0;
    jpeg_mem_dest(&cinfo, &out, &outSize);
    cinfo.image_width = 0;  // an empty image cannot be written
    cinfo.image_height = 8;
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    std::string what;
    try {
        jpeg_start_compress(&cinfo, TRUE);
    } catch (const jpg::Exception& e) {
        what = e.what();
    }
    EXPECT_EQ(JERR_EMPTY_IMAGE, cinfo.err->msg_code);
    EXPECT_EQ(kTemplates[JERR_EMPTY_IMAGE], what);
    jpeg_destroy_compress(&cinfo);
    std::free(out);

    // And the next encode in the same process works.
    const Image source = gradient(16, 16);
    const Decoded d = decode(encode(source));
    ASSERT_FALSE(d.threw) << d.what;
    expectLooksLike(source, d.image);
}

TEST(JpegErrorExit, ObjectWithoutFormatterStillThrows) {
    jpeg_decompress_struct object;
    std::memset(&object, 0, sizeof object);
    EXPECT_THROW(jpg::ErrorManager::error_exit(reinterpret_cast<j_common_ptr>(&object)), jpg::Exception);
    EXPECT_THROW(jpg::ErrorManager::error_exit(nullptr), jpg::Exception);
    // output_message ignores whatever it is given.
    jpg::ErrorManager::output_message(nullptr);
}
