#include <platform/decoders/mj2kdecoder/mj2boxes.hpp>

#include <algorithm>
#include <limits>

namespace mj2k {

namespace {

ParseResult fail(ParseStatus status, std::string detail) {
    ParseResult r;
    r.status = status;
    r.detail = std::move(detail);
    return r;
}

ParseResult corrupt(std::string detail) { return fail(ParseStatus::Corrupt, std::move(detail)); }

// Calls `fn(box)` for each child box of `in`, at most kMaxBoxesPerContainer
// times. Answers false when a child header is broken or the limit is hit.
template <typename Fn>
bool forEachBox(ByteCursor in, Fn&& fn) {
    std::size_t count = 0;
    while (in.remaining() > 0) {
        // Up to 7 bytes of padding at the end of a container are tolerated.
        if (in.remaining() < 8) return true;
        if (++count > kMaxBoxesPerContainer) return false;
        Box box;
        if (!nextBox(in, box)) return false;
        if (!fn(box)) return true;  // the visitor asked to stop
    }
    return true;
}

// Skips the version and flags of a full box; answers the version.
std::uint8_t fullBoxVersion(ByteCursor& c) {
    std::uint8_t version = c.u8();
    c.skip(3);
    return version;
}

ColourSpace colourFromEnum(std::uint32_t enumcs) {
    switch (enumcs) {
        case 16: return ColourSpace::SRGB;
        case 17: return ColourSpace::Grey;
        case 18: return ColourSpace::SYCC;
        default: return ColourSpace::Other;
    }
}

// Colour box: only the enumerated method names a space we use.
ColourSpace readColour(ByteCursor c) {
    std::uint8_t method = c.u8();
    c.skip(2);  // precedence, approximation
    if (method != 1) return ColourSpace::Other;
    std::uint32_t enumcs = c.u32();
    return c.ok() ? colourFromEnum(enumcs) : ColourSpace::Unknown;
}

// JP2 header box of a sample entry or of a sample.
void readJp2Header(ByteCursor jp2h, VideoTrack* track, ColourSpace& colour) {
    bool colourSeen = false;
    forEachBox(jp2h, [&](Box& b) {
        if (b.type == "ihdr" && track) {
            ByteCursor c = b.payload;
            c.skip(8);  // height, width: the sample entry and codestream say it too
            std::uint16_t nc = c.u16();
            std::uint8_t bpc = c.u8();
            if (c.ok()) {
                track->components = nc;
                if (bpc != 0xFF) {
                    track->bitDepth = static_cast<std::uint8_t>((bpc & 0x7F) + 1);
                    track->isSigned = (bpc & 0x80) != 0;
                }
            }
        } else if (b.type == "colr" && !colourSeen) {
            // The first colour box is the one to use.
            colour = readColour(b.payload);
            colourSeen = true;
        }
        return true;
    });
}

// Visual sample entry: fixed fields, then child boxes.
void readVisualEntry(ByteCursor e, VideoTrack& track) {
    e.skip(6 + 2);       // reserved, data reference index
    e.skip(2 + 2 + 12);  // pre-defined, reserved, pre-defined
    track.width = e.u16();
    track.height = e.u16();
    e.skip(4 + 4 + 4 + 2 + 32 + 2 + 2);  // resolutions, reserved, frame count, compressor, depth, pre-defined
    if (!e.ok()) return;
    forEachBox(e, [&](Box& b) {
        if (b.type == "jp2h") readJp2Header(b.payload, &track, track.colour);
        return true;
    });
}

struct SampleTables {
    bool haveStsz = false, haveStco = false, haveStsc = false, haveStts = false;
    ByteCursor stsz, stco, stsc, stts;
    bool co64 = false;
};

// Sample sizes (stsz): one size for all, or one per sample.
ParseResult readSampleSizes(const SampleTables& t, std::uint64_t fileSize, std::vector<Sample>& samples) {
    ByteCursor sz = t.stsz;
    fullBoxVersion(sz);
    std::uint32_t constantSize = sz.u32();
    std::uint32_t count = sz.u32();
    if (!sz.ok()) return corrupt("truncated sample size table");
    if (count > kMaxSamples) return corrupt("too many samples");
    if (constantSize == 0) {
        if (sz.remaining() / 4 < count) return corrupt("sample size table shorter than its count");
    } else if (count > fileSize / constantSize) {
        return corrupt("samples larger than the file");
    }
    samples.assign(count, Sample{});
    for (auto& s : samples) s.size = constantSize ? constantSize : sz.u32();
    return {};
}

// Offsets: each chunk (stco/co64) holds the samples its sample-to-chunk run
// (stsc) gives it, back to back; every sample must lie inside the file.
ParseResult placeSamples(const SampleTables& t, std::uint64_t fileSize, std::vector<Sample>& samples) {
    ByteCursor co = t.stco;
    fullBoxVersion(co);
    std::uint32_t chunkCount = co.u32();
    if (!co.ok() || co.remaining() / (t.co64 ? 8 : 4) < chunkCount)
        return corrupt("chunk offset table shorter than its count");

    // Sample-to-chunk runs, checked as they are used.
    ByteCursor sc = t.stsc;
    fullBoxVersion(sc);
    std::uint32_t runCount = sc.u32();
    if (!sc.ok() || sc.remaining() / 12 < runCount) return corrupt("sample-to-chunk table shorter than its count");
    if (!samples.empty() && runCount == 0) return corrupt("empty sample-to-chunk table");

    std::size_t next = 0;  // next sample to place
    std::uint32_t run = 0;
    std::uint32_t runFirst = 0, runSamples = 0;
    std::uint32_t nextRunFirst = 0;
    auto loadRun = [&]() {
        runFirst = sc.u32();
        runSamples = sc.u32();
        sc.skip(4);  // sample description index: one description is used
        ++run;
        if (run < runCount) {
            ByteCursor peek = sc;
            nextRunFirst = peek.u32();
        } else {
            nextRunFirst = std::numeric_limits<std::uint32_t>::max();
        }
    };
    if (runCount > 0) {
        loadRun();
        if (runFirst != 1) return corrupt("sample-to-chunk table does not start at the first chunk");
    }
    for (std::uint32_t chunk = 1; chunk <= chunkCount && next < samples.size(); ++chunk) {
        std::uint64_t offset = t.co64 ? co.u64() : co.u32();
        while (chunk >= nextRunFirst) {
            std::uint32_t previousFirst = runFirst;
            loadRun();
            if (runFirst <= previousFirst) return corrupt("sample-to-chunk runs out of order");
        }
        for (std::uint32_t i = 0; i < runSamples && next < samples.size(); ++i, ++next) {
            Sample& s = samples[next];
            if (offset > fileSize || s.size > fileSize - offset) return corrupt("a sample lies beyond the end of the file");
            s.offset = offset;
            offset += s.size;
        }
    }
    if (next < samples.size()) return corrupt("the chunks hold fewer samples than the size table");
    return {};
}

// Decode times (stts); a table that covers too few samples leaves the rest
// with the last duration.
ParseResult readSampleTimes(const SampleTables& t, VideoTrack& track) {
    auto& samples = track.samples;
    ByteCursor ts = t.stts;
    fullBoxVersion(ts);
    std::uint32_t timeRuns = ts.u32();
    if (!ts.ok() || ts.remaining() / 8 < timeRuns) return corrupt("time-to-sample table shorter than its count");
    std::uint64_t time = 0;
    std::uint32_t delta = 0;
    std::size_t placed = 0;
    bool firstDelta = true;
    for (std::uint32_t r = 0; r < timeRuns && placed < samples.size(); ++r) {
        std::uint32_t n = ts.u32();
        delta = ts.u32();
        if (n == 0) continue;
        if (!firstDelta && delta != samples[placed - 1].duration) track.uniformDelta = false;
        firstDelta = false;
        for (std::uint32_t i = 0; i < n && placed < samples.size(); ++i, ++placed) {
            samples[placed].time = time;
            samples[placed].duration = delta;
            time += delta;
        }
    }
    for (; placed < samples.size(); ++placed) {
        samples[placed].time = time;
        samples[placed].duration = delta;
        time += delta;
    }
    if (track.duration == 0) track.duration = time;
    return {};
}

ParseResult buildSamples(const SampleTables& t, std::uint64_t fileSize, VideoTrack& track) {
    if (!t.haveStsz || !t.haveStco || !t.haveStsc || !t.haveStts)
        return corrupt("the video track lacks a sample table");
    ParseResult result = readSampleSizes(t, fileSize, track.samples);
    if (result.ok()) result = placeSamples(t, fileSize, track.samples);
    if (result.ok()) result = readSampleTimes(t, track);
    return result;
}

struct TrackInfo {
    std::string handler;
    std::uint32_t timescale = 0;
    std::uint64_t duration = 0;
    bool haveEntry = false;
    std::string entryType;
    ByteCursor entry;  // payload of the first sample entry
    SampleTables tables;
};

void readMediaHeader(ByteCursor c, TrackInfo& info) {
    std::uint8_t version = fullBoxVersion(c);
    if (version == 1) {
        c.skip(16);
        info.timescale = c.u32();
        info.duration = c.u64();
        if (info.duration == std::numeric_limits<std::uint64_t>::max()) info.duration = 0;
    } else {
        c.skip(8);
        info.timescale = c.u32();
        info.duration = c.u32();
        if (info.duration == std::numeric_limits<std::uint32_t>::max()) info.duration = 0;
    }
    if (!c.ok()) info.timescale = 0;
}

void readSampleDescription(ByteCursor c, TrackInfo& info) {
    fullBoxVersion(c);
    std::uint32_t entries = c.u32();
    if (!c.ok() || entries == 0) return;
    Box entry;
    if (!nextBox(c, entry)) return;
    info.haveEntry = true;
    info.entryType = entry.type;
    info.entry = entry.payload;
}

bool readSampleTable(ByteCursor stbl, TrackInfo& info) {
    return forEachBox(stbl, [&](Box& b) {
        SampleTables& t = info.tables;
        if (b.type == "stsd") readSampleDescription(b.payload, info);
        else if (b.type == "stsz") { t.stsz = b.payload; t.haveStsz = true; }
        else if (b.type == "stco" && !t.haveStco) { t.stco = b.payload; t.haveStco = true; }
        else if (b.type == "co64" && !t.haveStco) { t.stco = b.payload; t.haveStco = true; t.co64 = true; }
        else if (b.type == "stsc") { t.stsc = b.payload; t.haveStsc = true; }
        else if (b.type == "stts") { t.stts = b.payload; t.haveStts = true; }
        return true;
    });
}

bool readTrack(ByteCursor trak, TrackInfo& info) {
    bool ok = true;
    forEachBox(trak, [&](Box& mdia) {
        if (mdia.type != "mdia") return true;
        ok = forEachBox(mdia.payload, [&](Box& b) {
            if (b.type == "mdhd") {
                readMediaHeader(b.payload, info);
            } else if (b.type == "hdlr") {
                ByteCursor c = b.payload;
                c.skip(4 + 4);  // version and flags, pre-defined
                info.handler = c.fourcc();
            } else if (b.type == "minf") {
                return forEachBox(b.payload, [&](Box& s) {
                    if (s.type == "stbl") ok = readSampleTable(s.payload, info) && ok;
                    return true;
                });
            }
            return true;
        }) && ok;
        return false;  // one media box per track
    });
    return ok;
}

}  // namespace

bool nextBox(ByteCursor& in, Box& box) {
    std::size_t start = in.position();
    std::uint64_t size = in.u32();
    box.type = in.fourcc();
    if (size == 1) size = in.u64();
    else if (size == 0) size = in.remaining() + (in.position() - start);  // up to the end of the parent
    std::uint64_t header = in.position() - start;
    if (!in.ok() || size < header || size - header > in.remaining()) {
        in.skip(in.remaining());
        return false;
    }
    box.payload = in.sub(size - header);
    return true;
}

ParseResult locateMovie(const ReadAt& read, std::uint64_t fileSize, std::uint64_t& payloadOffset,
                        std::uint64_t& payloadSize) {
    std::uint64_t pos = 0;
    for (std::uint64_t n = 0; n < kMaxTopLevelBoxes && fileSize - pos >= 8; ++n) {
        std::uint8_t head[16];
        std::size_t want = fileSize - pos >= 16 ? 16 : 8;
        if (!read(pos, head, want)) return fail(ParseStatus::NoMovie, "cannot read the file");
        ByteCursor c(head, want);
        std::uint64_t size = c.u32();
        std::string type = c.fourcc();
        std::uint64_t header = 8;
        if (size == 1) {
            if (want < 16) break;
            size = c.u64();
            header = 16;
        } else if (size == 0) {
            size = fileSize - pos;
        }
        if (size < header) return corrupt("a top-level box is smaller than its header");
        if (size > fileSize - pos) {
            if (type == "moov") return corrupt("the movie box runs past the end of the file");
            break;  // a media data box cut short; the movie box may still have come before it
        }
        if (type == "moov") {
            payloadOffset = pos + header;
            payloadSize = size - header;
            if (payloadSize > kMaxMovieBoxSize) return corrupt("the movie box is too large");
            return {};
        }
        pos += size;
    }
    return fail(ParseStatus::NoMovie, "no movie box");
}

ParseResult parseMovie(ByteCursor moov, std::uint64_t fileSize, Movie& movie) {
    movie = Movie{};
    std::size_t tracks = 0;
    bool videoCodecSeen = false;
    std::string otherVideoCodec;
    ParseResult result;
    bool structureOk = forEachBox(moov, [&](Box& b) {
        if (b.type != "trak") return true;
        if (++tracks > kMaxTracks) return false;
        TrackInfo info;
        if (!readTrack(b.payload, info)) {
            result = corrupt("broken boxes in a track");
            return false;
        }
        if (info.handler == "vide" && !movie.hasVideo) {
            if (!info.haveEntry) {
                result = corrupt("the video track has no sample description");
                return false;
            }
            videoCodecSeen = true;
            if (info.entryType != "mjp2") {
                if (otherVideoCodec.empty()) otherVideoCodec = info.entryType;
                return true;  // maybe a later track is Motion JPEG 2000
            }
            VideoTrack& v = movie.video;
            v.codec = info.entryType;
            readVisualEntry(info.entry, v);
            if (info.timescale == 0) {
                result = corrupt("the video track has no time scale");
                return false;
            }
            v.timescale = info.timescale;
            v.duration = info.duration;
            result = buildSamples(info.tables, fileSize, v);
            if (!result.ok()) return false;
            movie.hasVideo = true;
        } else if (info.handler == "soun" && !movie.hasAudio) {
            movie.hasAudio = true;
            movie.audio.codec = info.haveEntry ? info.entryType : std::string();
            if (info.haveEntry) {
                ByteCursor e = info.entry;
                e.skip(6 + 2 + 2 + 2 + 4);  // reserved, data reference, version, revision, vendor
                std::uint16_t channels = e.u16();
                if (e.ok()) movie.audio.channels = channels;
            }
        }
        return true;
    });
    if (!result.ok()) {
        movie = Movie{};
        return result;
    }
    if (!structureOk) {
        movie = Movie{};
        return corrupt(tracks > kMaxTracks ? "too many tracks" : "broken boxes in the movie box");
    }
    if (!movie.hasVideo) {
        bool hasAudio = movie.hasAudio;
        AudioTrack audio = movie.audio;
        movie = Movie{};
        movie.hasAudio = hasAudio;
        movie.audio = audio;
        if (videoCodecSeen) return fail(ParseStatus::UnknownCodec, "video codec '" + otherVideoCodec + "'");
        return fail(ParseStatus::NoVideo, "no video track");
    }
    return {};
}

ParseResult parseFile(const std::uint8_t* data, std::size_t size, Movie& movie) {
    ReadAt read = [&](std::uint64_t offset, std::uint8_t* out, std::size_t n) {
        if (offset > size || n > size - offset) return false;
        std::copy(data + offset, data + offset + n, out);
        return true;
    };
    std::uint64_t offset = 0, length = 0;
    ParseResult r = locateMovie(read, size, offset, length);
    if (!r.ok()) return r;
    return parseMovie(ByteCursor(data + offset, static_cast<std::size_t>(length)), size, movie);
}

namespace {

// Start-of-codestream marker followed by the image and tile size marker: the
// first four bytes every JPEG 2000 codestream has.
bool startsCodestream(const std::uint8_t* data, std::size_t size) {
    return data != nullptr && size >= 4 && data[0] == 0xFF && data[1] == 0x4F && data[2] == 0xFF && data[3] == 0x51;
}

}  // namespace

bool findCodestream(const std::uint8_t* data, std::size_t size, Codestream& out) {
    out = Codestream{};
    if (startsCodestream(data, size)) {
        out.data = data;
        out.size = size;
        return true;
    }
    if (data == nullptr || size < 8) {
        out.problem = "the sample is too short to hold a codestream";
        return false;
    }
    bool found = false;
    bool boxSeen = false;
    ColourSpace colour = ColourSpace::Unknown;
    const bool wellFormed = forEachBox(ByteCursor(data, size), [&](Box& b) {
        boxSeen = true;
        if (b.type == "jp2h") {
            readJp2Header(b.payload, nullptr, colour);
        } else if (b.type == "jp2c" || b.type == "c2pj") {
            // GStreamer 1.22's encoder writes the contiguous-codestream box
            // type byte-reversed; its payload is the same codestream.
            if (!startsCodestream(b.payload.current(), b.payload.size())) {
                out.problem = "the codestream box does not start with a JPEG 2000 codestream";
                return false;
            }
            out.data = b.payload.current();
            out.size = b.payload.size();
            found = true;
            return false;
        }
        return true;
    });
    if (!found && out.problem == nullptr)
        out.problem = !boxSeen || !wellFormed ? "the sample is neither a JPEG 2000 codestream nor a sequence of boxes"
                                              : "the sample holds no codestream box";
    if (!found) out.data = nullptr, out.size = 0;
    out.colour = colour;
    return found;
}

}  // namespace mj2k
