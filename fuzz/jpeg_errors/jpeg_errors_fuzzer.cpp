// Arbitrary bytes decoded by libjpeg with the error manager installed: every
// fatal error must arrive as multimedia::common::jpeg::Exception (unwinding
// through libjpeg's frames), the destroyed decompressor must leave no leak,
// and nothing may be printed.

#include <common/jpeg/jpegerrors.hpp>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

// Frames larger than this are only parsed, not decoded, to keep each run short.
constexpr unsigned long kMaxPixels = 1ul << 20;

// libjpeg itself is not instrumented, so the fuzzer would be blind inside it.
// The message code a run ends on (the fatal error, or the last warning of a
// finished decode) is fed back as extra coverage: reaching a new libjpeg
// error counts as new behaviour.
constexpr int kCodes = 256;
__attribute__((used, section("__libfuzzer_extra_counters"))) std::uint8_t gMessageCounters[2 * kCodes];

void count(int offset, int code) {
    if (code >= 0 && code < kCodes) ++gMessageCounters[offset + code];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    jpeg_decompress_struct cinfo;
    multimedia::common::jpeg::ErrorManager errors;
    errors.install(cinfo);
    jpeg_create_decompress(&cinfo);
    std::vector<unsigned char> row;
    try {
        jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
        if (jpeg_read_header(&cinfo, TRUE) == JPEG_HEADER_OK &&
            static_cast<unsigned long>(cinfo.image_width) * cinfo.image_height <= kMaxPixels) {
            // Alternate the output layouts libjpeg converts to.
            cinfo.out_color_space = (size & 1) ? JCS_RGB : cinfo.jpeg_color_space;
            cinfo.dct_method = (size & 2) ? JDCT_IFAST : JDCT_ISLOW;
            jpeg_start_decompress(&cinfo);
            row.resize(static_cast<std::size_t>(cinfo.output_width) * cinfo.output_components);
            while (cinfo.output_scanline < cinfo.output_height) {
                JSAMPROW p = row.data();
                jpeg_read_scanlines(&cinfo, &p, 1);
            }
            jpeg_finish_decompress(&cinfo);
        }
        count(kCodes, cinfo.err->msg_code);
    } catch (const multimedia::common::jpeg::Exception&) {
        // Expected for malformed input; anything else escapes and is a finding.
        count(0, cinfo.err->msg_code);
    }
    jpeg_destroy_decompress(&cinfo);
    return 0;
}
