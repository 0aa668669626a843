#include <platform/decoders/mjpegavidecoder/jpegframedecoder.hpp>

#include <common/jpeg/jpegerrors.hpp>
#include <platform/services/framekit/framekit.hpp>

#include <algorithm>
#include <atomic>

#include <cstdio>  // jpeglib.h needs FILE and size_t first
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include <jpeglib.h>

namespace mjpegavidecoder {

namespace {

// The example tables of the JPEG format, which every Motion-JPEG writer that
// leaves out its DHT segments encodes with.
const StandardHuffmanTable kDcLuminance = {
    {0, 0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0},
    {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11},
    12};

const StandardHuffmanTable kDcChrominance = {
    {0, 0, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0},
    {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11},
    12};

const StandardHuffmanTable kAcLuminance = {
    {0, 0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4, 0, 0, 1, 0x7d},
    {0x01, 0x02, 0x03, 0x00, 0x04, 0x11, 0x05, 0x12, 0x21, 0x31, 0x41, 0x06, 0x13, 0x51, 0x61,
     0x07, 0x22, 0x71, 0x14, 0x32, 0x81, 0x91, 0xa1, 0x08, 0x23, 0x42, 0xb1, 0xc1, 0x15, 0x52,
     0xd1, 0xf0, 0x24, 0x33, 0x62, 0x72, 0x82, 0x09, 0x0a, 0x16, 0x17, 0x18, 0x19, 0x1a, 0x25,
     0x26, 0x27, 0x28, 0x29, 0x2a, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3a, 0x43, 0x44, 0x45,
     0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5a, 0x63, 0x64,
     0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a, 0x83,
     0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99,
     0x9a, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4, 0xb5, 0xb6,
     0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3, 0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2, 0xd3,
     0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe1, 0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8,
     0xe9, 0xea, 0xf1, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa},
    162};

const StandardHuffmanTable kAcChrominance = {
    {0, 0, 2, 1, 2, 4, 4, 3, 4, 7, 5, 4, 4, 0, 1, 2, 0x77},
    {0x00, 0x01, 0x02, 0x03, 0x11, 0x04, 0x05, 0x21, 0x31, 0x06, 0x12, 0x41, 0x51, 0x07, 0x61,
     0x71, 0x13, 0x22, 0x32, 0x81, 0x08, 0x14, 0x42, 0x91, 0xa1, 0xb1, 0xc1, 0x09, 0x23, 0x33,
     0x52, 0xf0, 0x15, 0x62, 0x72, 0xd1, 0x0a, 0x16, 0x24, 0x34, 0xe1, 0x25, 0xf1, 0x17, 0x18,
     0x19, 0x1a, 0x26, 0x27, 0x28, 0x29, 0x2a, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3a, 0x43, 0x44,
     0x45, 0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5a, 0x63,
     0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a,
     0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97,
     0x98, 0x99, 0x9a, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4,
     0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3, 0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca,
     0xd2, 0xd3, 0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7,
     0xe8, 0xe9, 0xea, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa},
    162};

// A progressive image may hold any number of scans, each a pass over the
// whole coefficient buffer; a hostile frame with thousands of tiny scans
// would stall the reader. Real encoders write about ten.
constexpr int kMaxScans = 1000;

// libjpeg calls its progress monitor between row groups and scans: the
// place to stop hostile frames and frames nobody wants any more.
struct Progress {
    jpeg_progress_mgr base{};  // first, so libjpeg's pointer is ours
    const std::atomic<bool>* cancel = nullptr;
};

void watchProgress(j_common_ptr common) {
    const Progress* progress = reinterpret_cast<const Progress*>(common->progress);
    if (progress->cancel != nullptr && progress->cancel->load(std::memory_order_relaxed)) {
        throw JpegFrameDecoder::Cancelled();
    }
    if (!common->is_decompressor) {
        return;
    }
    auto* cinfo = reinterpret_cast<j_decompress_ptr>(common);
    if (cinfo->input_scan_number > kMaxScans) {
        throw multimedia::common::jpeg::Exception("JPEG frame has more than " +
                                                  std::to_string(kMaxScans) + " scans");
    }
}

// Rows of one band of the default layout: as many as keep the band within
// L2 beside the planes it is written to, a multiple of the 16-row tiles.
std::size_t bandRowsFor(std::size_t rowBytes) {
    constexpr std::size_t kBandBytes = 256 * 1024;
    const std::size_t rows = kBandBytes / std::max<std::size_t>(rowBytes, 1) / 16 * 16;
    return std::min<std::size_t>(64, std::max<std::size_t>(16, rows));
}

void assignTable(JHUFF_TBL*& slot, const StandardHuffmanTable& table, j_decompress_ptr cinfo) {
    if (slot == nullptr) {
        slot = jpeg_alloc_huff_table(reinterpret_cast<j_common_ptr>(cinfo));
    }
    std::memcpy(slot->bits, table.bits, sizeof slot->bits);
    std::memset(slot->huffval, 0, sizeof slot->huffval);
    std::memcpy(slot->huffval, table.values, table.valueCount);
    slot->sent_table = FALSE;
}

}  // namespace

const StandardHuffmanTable& standardDcTable(int tableIndex) {
    return tableIndex == 0 ? kDcLuminance : kDcChrominance;
}

const StandardHuffmanTable& standardAcTable(int tableIndex) {
    return tableIndex == 0 ? kAcLuminance : kAcChrominance;
}

namespace {
// libjpeg's message callback in place of its own, set by the constructor.
void noteMessage(j_common_ptr common, int level);
}  // namespace

struct JpegFrameDecoder::State {
    multimedia::common::jpeg::ErrorManager errors;
    Warnings warnings;
    jpeg_decompress_struct cinfo{};
    Progress progress{};
    std::vector<JSAMPROW> rows;
    std::vector<std::uint8_t> band;    // rows on their way to the default layout
    std::vector<std::uint8_t> packed;  // a whole frame, for interlaced ones in that layout
    std::vector<std::uint8_t> spare;  // receives rows that fall outside the frame
    bool created = false;

    // libjpeg keeps the tables of one image for the next (abbreviated
    // streams); a Motion-JPEG frame without DHT means the standard tables,
    // not those of the frame before, so every frame starts from them.
    void resetHuffmanTables() {
        for (int i = 0; i < NUM_HUFF_TBLS; ++i) {
            if (i < 2 || cinfo.dc_huff_tbl_ptrs[i] != nullptr) {
                assignTable(cinfo.dc_huff_tbl_ptrs[i], standardDcTable(i & 1), &cinfo);
            }
            if (i < 2 || cinfo.ac_huff_tbl_ptrs[i] != nullptr) {
                assignTable(cinfo.ac_huff_tbl_ptrs[i], standardAcTable(i & 1), &cinfo);
            }
        }
    }

    void readHeader(const std::uint8_t* data, std::size_t size) {
        jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
        resetHuffmanTables();
        jpeg_read_header(&cinfo, TRUE);
    }

    // Reads the rest of the image after its last row, up to its EOI, as
    // djpeg does, so that damage there is reported; libjpeg's fatal error
    // there leaves a complete picture and is reported as a warning.
    void finish() {
        try {
            jpeg_finish_decompress(&cinfo);
        } catch (const multimedia::common::jpeg::Exception& late) {
            jpeg_abort_decompress(&cinfo);
            if (warnings.count++ == 0) {
                warnings.text = late.what();
            } else {
                warnings.text += std::string("; then: ") + late.what();
            }
        }
    }

    // Decodes the image whose header was read into the frame rgb of width x
    // height pixels: image row r lands on frame row first + r * step; rows
    // that fall below the frame (the last of an odd field) are dropped.
    void decodeRows(std::uint8_t* rgb, std::size_t width, std::size_t height, std::size_t first,
                    std::size_t step) {
        cinfo.out_color_space = JCS_RGB;
        jpeg_start_decompress(&cinfo);
        if (cinfo.output_components != 3) {
            throw std::runtime_error("JPEG frame does not decode to three channels");
        }
        const std::size_t stride = width * 3;
        spare.resize(stride);
        rows.resize(cinfo.output_height);
        for (std::size_t r = 0; r < rows.size(); ++r) {
            const std::size_t y = first + r * step;
            rows[r] = y < height ? rgb + y * stride : spare.data();
        }
        while (cinfo.output_scanline < cinfo.output_height) {
            const JDIMENSION line = cinfo.output_scanline;
            if (jpeg_read_scanlines(&cinfo, rows.data() + line, cinfo.output_height - line) == 0) {
                throw std::runtime_error("JPEG frame ended early");
            }
        }
    }

    // Decodes the image whose header was read, of exactly width x height
    // pixels, into the default layout at `planar`: each band of rows goes to
    // the planes as soon as libjpeg has produced it, while it is in cache.
    void decodeBands(std::uint8_t* planar, std::size_t width, std::size_t height) {
        cinfo.out_color_space = JCS_RGB;
        jpeg_start_decompress(&cinfo);
        if (cinfo.output_components != 3) {
            throw std::runtime_error("JPEG frame does not decode to three channels");
        }
        const std::size_t stride = width * 3;
        const std::size_t bandRows = bandRowsFor(stride);
        band.resize(bandRows * stride);
        rows.resize(bandRows);
        for (std::size_t r = 0; r < bandRows; ++r) rows[r] = band.data() + r * stride;
        std::uint8_t* planes[3] = {planar, planar + width * height, planar + 2 * width * height};
        while (cinfo.output_scanline < cinfo.output_height) {
            const std::size_t first = cinfo.output_scanline;
            std::size_t got = 0;
            while (got < bandRows && cinfo.output_scanline < cinfo.output_height) {
                const JDIMENSION n = jpeg_read_scanlines(&cinfo, rows.data() + got,
                                                         static_cast<JDIMENSION>(bandRows - got));
                if (n == 0) {
                    throw std::runtime_error("JPEG frame ended early");
                }
                got += n;
            }
            pixcapframekit::transposeRowsToColumnMajorPlanes(band.data(), planes, width, height, 3,
                                                             first, got);
        }
    }
};

namespace {

// Warnings are counted as libjpeg's own callback counts them, and the first
// one's text is kept for the frame's report; trace messages go nowhere.
void noteMessage(j_common_ptr common, int level) {
    if (level >= 0) return;
    jpeg_error_mgr* err = common->err;
    ++err->num_warnings;
    auto* warnings = static_cast<JpegFrameDecoder::Warnings*>(common->client_data);
    if (warnings == nullptr) return;
    if (warnings->count++ == 0) {
        char text[JMSG_LENGTH_MAX] = {};
        err->format_message(common, text);
        text[JMSG_LENGTH_MAX - 1] = '\0';
        warnings->text = text;
    }
}

}  // namespace

JpegFrameDecoder::JpegFrameDecoder() : state_(new State) {
    State& s = *state_;
    s.errors.install(s.cinfo);
    s.errors.record.emit_message = &noteMessage;
    jpeg_create_decompress(&s.cinfo);
    s.cinfo.client_data = &s.warnings;
    s.created = true;
    s.progress.base.progress_monitor = &watchProgress;
    s.cinfo.progress = &s.progress.base;
}

JpegFrameDecoder::~JpegFrameDecoder() {
    if (state_->created) {
        jpeg_destroy_decompress(&state_->cinfo);
    }
}

const JpegFrameDecoder::Warnings& JpegFrameDecoder::lastWarnings() const { return state_->warnings; }

void JpegFrameDecoder::watchForCancel(const std::atomic<bool>* cancel) {
    state_->progress.cancel = cancel;
}

void JpegFrameDecoder::decode(const std::uint8_t* data, std::size_t size, std::size_t width,
                              std::size_t height, std::uint8_t* rgb) {
    decodeInto(data, size, width, height, rgb, true);
}

void JpegFrameDecoder::decodePlanar(const std::uint8_t* data, std::size_t size, std::size_t width,
                                    std::size_t height, std::uint8_t* planar) {
    decodeInto(data, size, width, height, planar, false);
}

void JpegFrameDecoder::decodeInto(const std::uint8_t* data, std::size_t size, std::size_t width,
                                  std::size_t height, std::uint8_t* out, bool interleaved) {
    State& s = *state_;
    jpeg_decompress_struct& cinfo = s.cinfo;
    s.warnings = Warnings();
    try {
        s.readHeader(data, size);
        if (cinfo.image_width == width && cinfo.image_height == height) {
            if (interleaved) {
                s.decodeRows(out, width, height, 0, 1);
            } else {
                s.decodeBands(out, width, height);
            }
        } else if (!interleaved) {
            // Fields woven into one frame: rows arrive out of order, so the
            // frame is woven whole and then laid out.
            jpeg_abort_decompress(&cinfo);
            s.packed.resize(width * height * 3);
            decodeInto(data, size, width, height, s.packed.data(), true);
            std::uint8_t* planes[3] = {out, out + width * height, out + 2 * width * height};
            pixcapframekit::transposeToColumnMajorPlanes(s.packed.data(), planes, width, height, 3);
            return;
        } else if (cinfo.image_width == width && 2 * std::size_t(cinfo.image_height) >= height &&
                   2 * std::size_t(cinfo.image_height) <= height + 1) {
            // Interlaced capture: two JPEG fields of half the height in one
            // chunk. The first goes to the odd lines, as FFmpeg weaves them
            // (whatever the polarity byte of an "AVI1" segment says), so the
            // two readers show such files alike.
            const std::size_t first = 1;
            const std::size_t fieldHeight = cinfo.image_height;
            s.decodeRows(out, width, height, first, 2);
            jpeg_finish_decompress(&cinfo);  // up to the first field's EOI
            const std::uint8_t* rest = cinfo.src->next_input_byte;
            std::size_t left = cinfo.src->bytes_in_buffer;
            while (left >= 2 && !(rest[0] == 0xFF && rest[1] == 0xD8)) {
                ++rest;
                --left;
            }
            if (left < 2) {
                throw std::runtime_error("interlaced JPEG frame without its second field");
            }
            s.readHeader(rest, left);
            if (cinfo.image_width != width || cinfo.image_height != fieldHeight) {
                throw std::runtime_error("the two fields of a JPEG frame differ in size");
            }
            s.decodeRows(out, width, height, 1 - first, 2);
        } else {
            throw std::runtime_error("JPEG frame of " + std::to_string(cinfo.image_width) + "x" +
                                     std::to_string(cinfo.image_height) + " in a stream of " +
                                     std::to_string(width) + "x" + std::to_string(height));
        }
        s.finish();
    } catch (...) {
        jpeg_abort_decompress(&cinfo);
        throw;
    }
}

}  // namespace mjpegavidecoder
