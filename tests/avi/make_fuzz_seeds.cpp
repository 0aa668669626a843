// Writes the seed corpus of avi_read_fuzzer: one small file per layout the
// builder knows. usage: make_fuzz_seeds DIR
#include <support/avibuilder.hpp>

#include <string>

using avitest::AviRecipe;
using avitest::Index;

namespace {

AviRecipe video(int w, int h, int bits, int frames, Index index) {
    AviRecipe s;
    s.width = w;
    s.height = h;
    s.bits = static_cast<std::uint16_t>(bits);
    s.index = index;
    const std::size_t stride = static_cast<std::size_t>((w * bits + 31) / 32 * 4);
    for (int i = 0; i < frames; ++i) s.frames.push_back(avitest::pattern(stride * static_cast<std::size_t>(h < 0 ? -h : h), i));
    return s;
}

AviRecipe withAudio(AviRecipe s, int chunks, std::size_t bytes) {
    s.hasAudio = true;
    for (int i = 0; i < chunks; ++i) s.audioChunks.push_back(avitest::pattern(bytes + static_cast<std::size_t>(i % 2), 50 + i));
    return s;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    const std::string dir = argv[1];
    auto put = [&](const std::string& name, const AviRecipe& s) { avitest::writeFile(dir + "/" + name + ".avi", avitest::buildAvi(s).bytes); };
    put("rgb24-idx1", withAudio(video(5, 3, 24, 3, Index::Idx1), 3, 21));
    put("rgb24-opendml", withAudio(video(4, 2, 24, 3, Index::OpenDMLSuper), 3, 16));
    put("rgb24-standard", withAudio(video(3, 2, 24, 2, Index::OpenDMLStandard), 2, 9));
    put("rgb24-noindex-rec", [] {
        AviRecipe s = withAudio(video(4, 2, 24, 3, Index::None), 3, 7);
        s.recLists = true;
        return s;
    }());
    put("rgb24-absolute-idx1", withAudio(video(2, 2, 24, 2, Index::Idx1FromFileStart), 2, 8));
    put("pal8-topdown", [] {
        AviRecipe s = video(5, -3, 8, 2, Index::Idx1);
        s.palette = avitest::pattern(64, 7);
        return s;
    }());
    put("rgb555-odd", video(5, 3, 16, 2, Index::Idx1));
    put("rgb32", video(3, 2, 32, 2, Index::OpenDMLSuper));
    put("pal4", video(9, 2, 4, 2, Index::Idx1));
    put("pal2", video(6, 2, 2, 1, Index::None));
    put("mjpg-dc", [] {
        AviRecipe s = video(4, 2, 24, 0, Index::None);
        s.compression = avitest::get32("MJPG", 0);
        s.videoTag = "dc";
        s.frames = {"abc", "defgh"};
        return s;
    }());
    put("dropped-frames-idx1", [] {
        AviRecipe s = withAudio(video(4, -2, 24, 3, Index::Idx1), 4, 8);
        s.frames.insert(s.frames.begin(), "");
        s.frames.insert(s.frames.begin() + 2, "");
        return s;
    }());
    put("dropped-frames-noindex", [] {
        AviRecipe s = video(3, 2, 24, 2, Index::None);
        s.frames.push_back("");
        return s;
    }());
    {
        // The second and third frames flagged as not key frames (bit 31 of their size).
        avitest::Built b = avitest::buildAvi(video(3, 2, 24, 3, Index::OpenDMLStandard));
        for (int k : {1, 2}) {
            const std::size_t sizeField = b.indxPos[0] + 8 + 24 + 8 * static_cast<std::size_t>(k) + 4;
            avitest::put32(b.bytes, sizeField, avitest::get32(b.bytes, sizeField) | 0x80000000u);
        }
        avitest::writeFile(dir + "/nonkey-standard.avi", b.bytes);
    }
    put("bitfields-565", [] {
        AviRecipe s = video(5, 3, 16, 2, Index::Idx1);
        s.compression = 3;
        s.palette = avitest::u32(0xF800) + avitest::u32(0x07E0) + avitest::u32(0x001F);
        return s;
    }());
    put("audio-only", [] {
        AviRecipe s;
        s.hasVideo = false;
        s = withAudio(s, 4, 11);
        s.bitsPerSample = 8;
        return s;
    }());
    put("audio-first-text", [] {
        AviRecipe s = withAudio(video(4, 2, 24, 2, Index::Idx1), 2, 8);
        s.audioFirst = true;
        s.textStream = true;
        return s;
    }());
    return 0;
}
