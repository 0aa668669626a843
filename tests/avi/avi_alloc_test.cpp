// What an open file costs: its index and the one-row flip buffer, and no
// allocation per frame or audio read. Counts every operator new of the process.
#include "avi_fixture.hpp"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<std::uint64_t> newCalls{0};
std::atomic<std::int64_t> liveBytes{0};
constexpr std::size_t kHeader = 16;  // keeps the block's size, and max_align_t alignment

}  // namespace

void* operator new(std::size_t size) {
    auto* p = static_cast<char*>(std::malloc(size + kHeader));
    if (!p) throw std::bad_alloc();
    *reinterpret_cast<std::size_t*>(p) = size;
    ++newCalls;
    liveBytes += static_cast<std::int64_t>(size);
    return p + kHeader;
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return operator new(size);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return operator new(size, std::nothrow); }
[[gnu::noinline]] void operator delete(void* p) noexcept {
    if (!p) return;
    char* block = static_cast<char*>(p) - kHeader;
    liveBytes -= static_cast<std::int64_t>(*reinterpret_cast<std::size_t*>(block));
    std::free(block);
}
void operator delete[](void* p) noexcept { operator delete(p); }
void operator delete(void* p, std::size_t) noexcept { operator delete(p); }
void operator delete[](void* p, std::size_t) noexcept { operator delete(p); }

static_assert(sizeof(avi::IndexEntry) == 16, "an index entry costs 16 bytes");

class AviMemory : public AviFixture {};

TEST_F(AviMemory, NoAllocationPerFrameOrAudioRead) {
    for (int bits : {8, 16, 24, 32}) {
        avitest::AviRecipe s;
        s.width = 33;
        s.height = -17;  // top-down: the flip runs too
        s.bits = static_cast<std::uint16_t>(bits);
        const std::size_t stride = static_cast<std::size_t>((33 * bits + 31) / 32 * 4);
        for (int i = 0; i < 20; ++i) s.frames.push_back(avitest::pattern(stride * 17, i));
        s.hasAudio = true;
        s.bitsPerSample = 8;
        for (int i = 0; i < 20; ++i) s.audioChunks.push_back(avitest::pattern(441 + (i & 1), i));
        avi::File f;
        ASSERT_TRUE(f.open(save(s).c_str(), "r"));
        std::vector<char> frame(std::max(f.getRGB24VideoFrameSize(), f.getIndexedVideoFrameSize()));
        std::vector<char> audio(1000);
        f.readRGB24VideoFrame(frame.data(), 0);  // the stream's buffer is in place after the first read
        const std::uint64_t before = newCalls;
        for (long k = 0; k < 20; ++k) {
            f.readRGB24VideoFrame(frame.data(), k);
            f.readVideoFrame(frame.data());
            if (bits == 8) f.readIndexedVideoFrame(frame.data(), k);
            f.readAudio(audio.data(), audio.size());
        }
        EXPECT_EQ(f.getErrorCode(), avi::errors::NO_ERROR);
        EXPECT_EQ(newCalls - before, 0u) << bits << " bits";
    }
}

TEST_F(AviMemory, OpenFileCostsItsIndexAndOneRow) {
    // 2000 frames of 64x4 at 24 bits: the index is what grows with the file.
    avitest::AviRecipe s;
    s.width = 64;
    s.height = -4;
    s.bits = 24;
    for (int i = 0; i < 2000; ++i) s.frames.push_back(std::string(64 * 3 * 4, static_cast<char>(i)));
    const std::string path = save(s);
    const std::int64_t before = liveBytes;
    {
        avi::File f;
        ASSERT_TRUE(f.open(path.c_str(), "r"));
        const std::int64_t held = liveBytes - before;
        const std::int64_t index = 2000 * 16, row = 64 * 3;
        // vector growth may leave up to twice the entries reserved; the rest is
        // the file name and the error text
        EXPECT_LE(held, 2 * index + row + 1024) << held;
        EXPECT_GE(held, index + row);
    }
    EXPECT_EQ(liveBytes - before, 0);
}
