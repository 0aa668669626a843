#pragma once
// A small RIFF/AVI builder for tests: makes the exact file a test needs
// (bit depths, palettes, top-down rows, idx1 / OpenDML / no index, "rec "
// groups, extra streams) and tells where things landed so a test can break
// one field on purpose.

#include <support/files.hpp>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <utility>
#include <string>
#include <vector>

namespace avitest {

inline std::string u16(std::uint32_t v) {
    return std::string{static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF)};
}
inline std::string u32(std::uint32_t v) {
    std::string s;
    for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    return s;
}
inline std::string u64(std::uint64_t v) {
    return u32(static_cast<std::uint32_t>(v)) + u32(static_cast<std::uint32_t>(v >> 32));
}
// A chunk with the given size field (normally data.size()), padded to even.
inline std::string chunkSized(const std::string& id, std::uint32_t size, const std::string& data) {
    std::string s = id + u32(size) + data;
    if (data.size() & 1) s.push_back('\0');
    return s;
}
inline std::string chunk(const std::string& id, const std::string& data) {
    return chunkSized(id, static_cast<std::uint32_t>(data.size()), data);
}
inline std::string list(const std::string& type, const std::string& body) {
    return chunk("LIST", type + body);
}
inline void put32(std::string& s, std::size_t at, std::uint32_t v) { s.replace(at, 4, u32(v)); }
inline std::uint32_t get32(const std::string& s, std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<std::uint8_t>(s[at + i]);
    return v;
}

using testsupport::readFile;
using testsupport::writeFile;

enum class Index { Idx1, Idx1FromFileStart, OpenDMLSuper, OpenDMLStandard, None };

struct AviRecipe {
    // video (absent when hasVideo is false)
    bool hasVideo = true;
    std::int32_t width = 4;
    std::int32_t height = 2;  // negative: top-down rows
    std::uint16_t bits = 24;
    std::uint32_t compression = 0;
    std::string palette;  // raw RGBQUAD bytes after the 40-byte header
    std::vector<std::string> frames;
    std::string videoTag = "db";
    std::uint32_t rate = 25, scale = 1;
    // audio
    bool hasAudio = false;
    bool audioFirst = false;
    std::uint16_t formatTag = 1;
    std::uint16_t channels = 1;
    std::uint16_t bitsPerSample = 16;
    std::uint32_t sampleRate = 8000;
    std::vector<std::string> audioChunks;
    std::int64_t audioLength = -1;  // strh length; -1: the bytes in the chunks / block align
    // layout
    Index index = Index::Idx1;
    bool recLists = false;
    bool textStream = false;  // a third, non-audio non-video stream
    std::uint32_t avihFlags = 0x10;
    std::int64_t streamsField = -1;  // -1: the streams present
    std::int64_t totalFramesField = -1;
};

struct Built {
    std::string bytes;
    std::uint64_t moviPos = 0;                 // position of the "movi" type code
    std::vector<std::uint64_t> videoChunkPos;  // positions of the chunk headers
    std::vector<std::uint64_t> audioChunkPos;
    std::uint64_t idx1Pos = 0;     // position of "idx1"
    std::uint64_t strfVideoPos = 0;  // position of the video "strf" chunk header
    std::uint64_t strfAudioPos = 0;
    std::uint64_t avihPos = 0;
    std::vector<std::uint64_t> indxPos;  // positions of the "indx" chunk headers
};

namespace detail {

inline std::string streamId(unsigned n, const std::string& tag) {
    return std::string{static_cast<char>('0' + n / 10), static_cast<char>('0' + n % 10)} + tag;
}

struct StdIndexEntry {
    std::uint32_t offset, size;
};

inline std::string standardIndexData(const std::string& id, std::uint64_t base,
                                     const std::vector<StdIndexEntry>& e) {
    std::string d = u16(2) + std::string(1, '\0') + std::string(1, '\1') + u32(static_cast<std::uint32_t>(e.size())) + id +
                    u64(base) + u32(0);
    for (const auto& x : e) d += u32(x.offset) + u32(x.size);
    return d;
}

inline std::string superIndexData(const std::string& id, std::uint64_t position, std::uint32_t size,
                                  std::uint32_t duration) {
    return u16(4) + std::string(2, '\0') + u32(1) + id + std::string(12, '\0') + u64(position) + u32(size) +
           u32(duration);
}

}  // namespace detail

inline Built buildAvi(const AviRecipe& s) {
    using namespace detail;
    const unsigned videoStream = s.hasVideo ? ((s.hasAudio && s.audioFirst) ? 1 : 0) : 0;
    const unsigned audioStream = s.hasAudio ? ((s.hasVideo && !s.audioFirst) ? 1 : 0) : 0;
    const std::string vid = streamId(videoStream, s.videoTag);
    const std::string aid = streamId(audioStream, "wb");
    const std::uint16_t blockAlign = static_cast<std::uint16_t>(s.channels * s.bitsPerSample / 8);
    std::uint64_t audioBytes = 0;
    for (const auto& a : s.audioChunks) audioBytes += a.size();

    // movi body, with positions relative to its start
    std::string body;
    std::vector<std::uint64_t> vRel, aRel;
    const std::size_t groups = std::max(s.frames.size(), s.audioChunks.size());
    for (std::size_t i = 0; i < groups; ++i) {
        std::string g;
        const std::size_t at = body.size() + (s.recLists ? 12 : 0);
        auto add = [&](const std::string& id, const std::string& data, std::vector<std::uint64_t>& rel) {
            rel.push_back(at + g.size());
            g += chunk(id, data);
        };
        auto video = [&] {
            if (s.hasVideo && i < s.frames.size()) add(vid, s.frames[i], vRel);
        };
        auto audio = [&] {
            if (s.hasAudio && i < s.audioChunks.size()) add(aid, s.audioChunks[i], aRel);
        };
        if (s.audioFirst) {
            audio();
            video();
        } else {
            video();
            audio();
        }
        body += s.recLists ? list("rec ", g) : g;
    }

    auto strlVideo = [&](const std::string& indx) {
        const std::string handler = s.compression ? u32(s.compression) : std::string("DIB ");
        std::string strh = "vids" + handler + u32(0) + u32(0) + u32(0) + u32(s.scale) + u32(s.rate) + u32(0) +
                           u32(static_cast<std::uint32_t>(s.frames.size())) + u32(0) + u32(0) + u32(0) + u16(0) + u16(0) +
                           u16(static_cast<std::uint32_t>(s.width)) + u16(static_cast<std::uint32_t>(s.height));
        std::string strf = u32(40) + u32(static_cast<std::uint32_t>(s.width)) + u32(static_cast<std::uint32_t>(s.height)) +
                           u16(1) + u16(s.bits) + u32(s.compression) + u32(0) + u32(0) + u32(0) +
                           u32(static_cast<std::uint32_t>(s.palette.size() / 4)) + u32(0) + s.palette;
        return std::make_pair(chunk("strh", strh), chunk("strf", strf) + indx);
    };
    auto strlAudio = [&](const std::string& indx) {
        const std::uint32_t length =
            s.audioLength >= 0 ? static_cast<std::uint32_t>(s.audioLength)
                               : static_cast<std::uint32_t>(blockAlign ? audioBytes / blockAlign : 0);
        std::string strh = "auds" + u32(0) + u32(0) + u32(0) + u32(0) + u32(blockAlign) +
                           u32(s.sampleRate * blockAlign) + u32(0) + u32(length) + u32(0) + u32(0) + u32(blockAlign) +
                           u16(0) + u16(0) + u16(0) + u16(0);
        std::string strf = u16(s.formatTag) + u16(s.channels) + u32(s.sampleRate) + u32(s.sampleRate * blockAlign) +
                           u16(blockAlign) + u16(s.bitsPerSample) + u16(0);
        return std::make_pair(chunk("strh", strh), chunk("strf", strf) + indx);
    };

    // Standard index chunks go at the end of the movi list (super index case).
    auto ixVideoData = [&](std::uint64_t moviPos) {
        std::vector<StdIndexEntry> e;
        for (auto r : vRel) e.push_back({static_cast<std::uint32_t>(4 + r + 8), static_cast<std::uint32_t>(get32(body, r + 4))});
        return standardIndexData(vid, moviPos, e);
    };
    auto ixAudioData = [&](std::uint64_t moviPos) {
        std::vector<StdIndexEntry> e;
        for (auto r : aRel) e.push_back({static_cast<std::uint32_t>(4 + r + 8), static_cast<std::uint32_t>(get32(body, r + 4))});
        return standardIndexData(aid, moviPos, e);
    };

    auto assemble = [&](std::uint64_t moviPos, Built& out) {
        std::string movi = body;
        std::uint64_t ixVideoPos = 0, ixAudioPos = 0;
        std::string ixv, ixa;
        if (s.index == Index::OpenDMLSuper) {
            if (s.hasVideo) {
                ixVideoPos = moviPos + 4 + movi.size();
                ixv = chunk("ix" + streamId(videoStream, ""), ixVideoData(moviPos));
                movi += ixv;
            }
            if (s.hasAudio) {
                ixAudioPos = moviPos + 4 + movi.size();
                ixa = chunk("ix" + streamId(audioStream, ""), ixAudioData(moviPos));
                movi += ixa;
            }
        }
        std::string indxV, indxA;
        if (s.index == Index::OpenDMLSuper) {
            if (s.hasVideo)
                indxV = chunk("indx", superIndexData(vid, ixVideoPos, static_cast<std::uint32_t>(ixv.size()),
                                                     static_cast<std::uint32_t>(s.frames.size())));
            if (s.hasAudio)
                indxA = chunk("indx", superIndexData(aid, ixAudioPos, static_cast<std::uint32_t>(ixa.size()),
                                                     static_cast<std::uint32_t>(audioBytes)));
        } else if (s.index == Index::OpenDMLStandard) {
            if (s.hasVideo) indxV = chunk("indx", ixVideoData(moviPos));
            if (s.hasAudio) indxA = chunk("indx", ixAudioData(moviPos));
        }
        const unsigned streams = (s.hasVideo ? 1u : 0u) + (s.hasAudio ? 1u : 0u) + (s.textStream ? 1u : 0u);
        const std::uint32_t frames = static_cast<std::uint32_t>(s.totalFramesField >= 0 ? s.totalFramesField : s.frames.size());
        const std::uint32_t absHeight = static_cast<std::uint32_t>(s.height < 0 ? -static_cast<std::int64_t>(s.height) : s.height);
        std::string avih = u32(s.rate ? 1000000u * s.scale / s.rate : 0) + u32(0) + u32(0) + u32(s.avihFlags) + u32(frames) +
                           u32(0) + u32(static_cast<std::uint32_t>(s.streamsField >= 0 ? s.streamsField : streams)) + u32(0) +
                           u32(static_cast<std::uint32_t>(s.width)) + u32(absHeight) + std::string(16, '\0');
        std::string hdrl = chunk("avih", avih);
        out.avihPos = 24;
        auto addStrl = [&](std::pair<std::string, std::string> parts, std::uint64_t& strfPos) {
            const std::uint64_t listStart = 12 + 12 + hdrl.size();
            strfPos = listStart + 12 + parts.first.size();
            const std::string strl = list("strl", parts.first + parts.second);
            const std::size_t indxAt = strl.find("indx", 12 + parts.first.size());
            if (indxAt != std::string::npos) out.indxPos.push_back(listStart + indxAt);
            hdrl += strl;
        };
        auto addVideo = [&] {
            if (s.hasVideo) addStrl(strlVideo(indxV), out.strfVideoPos);
        };
        auto addAudio = [&] {
            if (s.hasAudio) addStrl(strlAudio(indxA), out.strfAudioPos);
        };
        if (s.audioFirst) {
            addAudio();
            addVideo();
        } else {
            addVideo();
            addAudio();
        }
        if (s.textStream) {
            std::string strh = "txts" + std::string(4, '\0') + std::string(48, '\0');
            hdrl += list("strl", chunk("strh", strh) + chunk("strf", std::string(8, '\0')));
        }
        std::string file = list("hdrl", hdrl);
        const std::uint64_t moviStart = 12 + file.size();
        file += list("movi", movi);
        out.moviPos = moviStart + 8;
        out.videoChunkPos.clear();
        out.audioChunkPos.clear();
        for (auto r : vRel) out.videoChunkPos.push_back(out.moviPos + 4 + r);
        for (auto r : aRel) out.audioChunkPos.push_back(out.moviPos + 4 + r);
        if (s.index == Index::Idx1 || s.index == Index::Idx1FromFileStart) {
            std::string idx;
            const std::uint64_t base = s.index == Index::Idx1 ? out.moviPos : 0;
            // file order, like every writer does
            std::vector<std::pair<std::uint64_t, std::string>> all;
            for (auto p : out.videoChunkPos) all.push_back({p, vid});
            for (auto p : out.audioChunkPos) all.push_back({p, aid});
            std::sort(all.begin(), all.end());
            for (auto& [p, id] : all)
                idx += id + u32(0x10) + u32(static_cast<std::uint32_t>(p - base)) +
                       u32(get32(body, static_cast<std::size_t>(p - out.moviPos - 4 + 4)));
            out.idx1Pos = 12 + file.size();
            file += chunk("idx1", idx);
        }
        out.bytes = "RIFF" + u32(static_cast<std::uint32_t>(file.size() + 4)) + "AVI " + file;
    };
    Built first, result;
    assemble(0, first);  // sizes do not depend on the positions
    assemble(first.moviPos, result);
    return result;
}

// Frame bytes: a recognisable pattern of n bytes.
inline std::string pattern(std::size_t n, unsigned seed) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 7 + seed * 31 + 1) & 0xFF);
    return s;
}

}  // namespace avitest
