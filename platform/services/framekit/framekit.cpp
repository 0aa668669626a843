#include <platform/services/framekit/framekit.hpp>

#include <algorithm>

#include <sys/mman.h>

#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>

namespace pixcapframekit {

IFrame::~IFrame() = default;

namespace {

class PackedFrame final : public IFrame {
public:
    PackedFrame(std::size_t width, std::size_t height, std::size_t channels, std::size_t sampleBytes)
        : width_(width), height_(height), channels_(channels), sampleBytes_(sampleBytes) {}

    std::size_t getFrameSize() const override { return width_ * height_ * channels_ * sampleBytes_; }

    int getBitsPerSample() const override { return static_cast<int>(sampleBytes_ * 8); }

    void getDimensions(int& width, int& height, int& channels) const override {
        width = static_cast<int>(width_);
        height = static_cast<int>(height_);
        channels = static_cast<int>(channels_);
    }

    void copy(const std::vector<void*>& destinations, const void* packedFrame,
              bool rowMajorInterleaved) const override {
        copyRows(destinations, packedFrame, width_ * channels_ * sampleBytes_, rowMajorInterleaved);
    }

    void copyRows(const std::vector<void*>& destinations, const void* firstRow,
                  std::size_t rowStride, bool rowMajorInterleaved) const override {
        if (destinations.empty() || firstRow == nullptr) {
            throw std::invalid_argument("frame copy needs a source and a destination");
        }
        for (void* d : destinations) {
            if (d == nullptr) {
                throw std::invalid_argument("null destination for a frame copy");
            }
        }
        const std::size_t rowBytes = width_ * channels_ * sampleBytes_;
        if (rowStride < rowBytes || rowStride % sampleBytes_ != 0) {
            throw std::invalid_argument("frame rows overlap or split a sample");
        }
        const auto* src = static_cast<const std::uint8_t*>(firstRow);
        if (rowMajorInterleaved) {
            auto* out = static_cast<std::uint8_t*>(destinations.front());
            if (rowStride == rowBytes) {
                std::memcpy(out, src, getFrameSize());
            } else {
                for (std::size_t y = 0; y < height_; ++y) {
                    std::memcpy(out + y * rowBytes, src + y * rowStride, rowBytes);
                }
            }
            return;
        }
        if (destinations.size() != 1 && destinations.size() != channels_) {
            throw std::invalid_argument("the default layout takes one block or one plane per channel");
        }
        const std::size_t planeBytes = width_ * height_ * sampleBytes_;
        std::uint8_t* planes[4];
        for (std::size_t c = 0; c < channels_; ++c) {
            planes[c] = destinations.size() == 1
                            ? static_cast<std::uint8_t*>(destinations.front()) + c * planeBytes
                            : static_cast<std::uint8_t*>(destinations[c]);
        }
        if (sampleBytes_ == 1) {
            transposeToColumnMajorPlanes(src, rowStride, planes, width_, height_, channels_);
        } else {
            std::uint16_t* planes16[4];
            for (std::size_t c = 0; c < channels_; ++c) {
                planes16[c] = reinterpret_cast<std::uint16_t*>(planes[c]);
            }
            transposeToColumnMajorPlanes(reinterpret_cast<const std::uint16_t*>(src), rowStride / 2,
                                         planes16, width_, height_, channels_);
        }
    }

private:
    std::size_t width_;
    std::size_t height_;
    std::size_t channels_;
    std::size_t sampleBytes_;
};

}  // namespace

std::unique_ptr<IFrame> frameFactory(frametypes::FRAMETYPE type, int width, int height) {
    const std::uint32_t code = static_cast<std::uint32_t>(type);
    const std::size_t sampleBytes = code >> 24;
    const std::size_t channels = (code >> 16) & 0xFFu;
    const bool known = (code & 0xFFFFu) == 0 && (sampleBytes == 1 || sampleBytes == 2) &&
                       channels >= 1 && channels <= 4;
    if (!known || width < 0 || height < 0) {
        return nullptr;
    }
    const std::size_t w = static_cast<std::size_t>(width);
    const std::size_t h = static_cast<std::size_t>(height);
    const std::size_t limit = std::numeric_limits<std::size_t>::max();
    if (w != 0 && h > limit / w / channels / sampleBytes) {
        return nullptr;
    }
    return std::make_unique<PackedFrame>(w, h, channels, sampleBytes);
}

void FrameMemoryDeleter::operator()(std::uint8_t* p) const { std::free(p); }

FrameMemory allocateFrameMemory(std::size_t bytes) {
    constexpr std::size_t kHugePage = std::size_t{2} << 20;
    const std::size_t alignment = bytes >= kHugePage ? kHugePage : 64;
    const std::size_t rounded = (std::max<std::size_t>(bytes, 1) + alignment - 1) / alignment * alignment;
    if (rounded < bytes) throw std::bad_alloc();
    void* p = std::aligned_alloc(alignment, rounded);
    if (p == nullptr) throw std::bad_alloc();
    if (alignment == kHugePage) {
        ::madvise(p, rounded, MADV_HUGEPAGE);  // a hint: refused, the memory is still good
    }
    return FrameMemory(static_cast<std::uint8_t*>(p));
}

}  // namespace pixcapframekit
