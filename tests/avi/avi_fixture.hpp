#pragma once
#include <avi/avifile.hpp>
#include <support/avibuilder.hpp>
#include <support/testfiles.hpp>

#include <gtest/gtest.h>

#include <string>
#include <vector>

class AviFixture : public ::testing::Test {
protected:
    std::string save(const std::string& bytes, const std::string& name = "t.avi") {
        const std::string path = dir.file(name);
        avitest::writeFile(path, bytes);
        return path;
    }
    std::string save(const avitest::AviRecipe& desc, const std::string& name = "t.avi") {
        return save(avitest::buildAvi(desc).bytes, name);
    }
    // Frames of a plain 24-bit w x h bottom-up file.
    static avitest::AviRecipe rgb24(int w, int h, int frames) {
        avitest::AviRecipe s;
        s.width = w;
        s.height = h;
        s.bits = 24;
        const std::size_t size = static_cast<std::size_t>(h < 0 ? -h : h) * ((3 * w + 3) / 4 * 4);
        for (int i = 0; i < frames; ++i) s.frames.push_back(avitest::pattern(size, i));
        return s;
    }
    avitest::TempDir dir;
};

// Grows the chunk whose header is at `at` by `extra` bytes at the end of its
// data, sets its size field to `newSize`, and grows the lists around it.
inline void growChunk(std::string& file, std::size_t at, const std::string& extra, std::uint32_t newSize,
                      const std::vector<std::size_t>& parents) {
    const std::uint32_t old = avitest::get32(file, at + 4);
    file.insert(at + 8 + old + (old & 1), extra);
    avitest::put32(file, at + 4, newSize);
    for (std::size_t p : parents) avitest::put32(file, p + 4, avitest::get32(file, p + 4) + static_cast<std::uint32_t>(extra.size()));
}

// Positions in a builder file whose first stream list is at 88.
constexpr std::size_t kRiff = 0, kHdrl = 12, kFirstStrl = 88, kFirstStrh = 100;
