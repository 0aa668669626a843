// Files the reader must refuse, or read in part, without crashing: missing
// and foreign files, truncations, lying box sizes and table counts, damaged
// codestreams.

#include "common.hpp"

#include <cmath>
#include <cstdio>
#include <limits>
#include <random>

using namespace mj2test;
namespace vr = qsVideoReader;

namespace {

const double kInf = std::numeric_limits<double>::infinity();

std::vector<std::uint8_t> smallMovie(std::uint32_t frames = 3, bool mdatFirst = false) {
    MovieLayout layout = simpleMovie(12, 8, 3, 8, frames);
    layout.mdatFirst = mdatFirst;
    return writeMovie(layout);
}

// Opens the bytes; when that works, reads every frame. Answers whether open
// succeeded. Any exception other than the reader family fails the test.
bool openAndDrain(const std::vector<std::uint8_t>& bytes, const std::string& name) {
    ReaderPtr r = newReader();
    try {
        r->open(u16(writeTemp(name, bytes)), false);
    } catch (const vr::VideoReaderException&) {
        return false;
    }
    // Whatever it claims, the buffer is exactly that big (the sanitizers
    // catch a write past it).
    std::size_t size = r->getWidth() * r->getHeight() * r->getNumColorChannels() * 2;
    std::vector<std::uint8_t> buf(size ? size : 1);
    r->startFromBeginning();
    for (int i = 0; i < 64 && !r->isEndOfStream(); ++i) {
        r->readFrame(i % 2 == 0, buf.data());
        EXPECT_FALSE(std::isnan(r->getCurrentTime())) << name << " frame " << i;
    }
    return true;
}

template <typename E>
void expectOpenThrows(const std::vector<std::uint8_t>& bytes, const std::string& name) {
    ReaderPtr r = newReader();
    EXPECT_THROW(r->open(u16(writeTemp(name, bytes)), false), E) << name;
    EXPECT_FALSE(r->hasVideo()) << name;
    EXPECT_EQ(r->getWidth(), 0u) << name;
}

TEST(Mj2kBadFile, MissingOrUnopenableFiles) {
    ReaderPtr r = newReader();
    EXPECT_THROW(r->open(u"", false), vr::FileNotFoundException);
    EXPECT_THROW(r->open(u"/nonexistent/dir/movie.mj2", false), vr::FileNotFoundException);
    std::string dir = writeTemp("placeholder", {});
    dir = dir.substr(0, dir.rfind('/'));
    EXPECT_THROW(r->open(u16(dir), false), vr::FileNotFoundException);
    EXPECT_FALSE(r->hasVideo());
}

TEST(Mj2kBadFile, ForeignFilesAreRefusedByKind) {
    std::string text = "This is not a movie at all, just some text.\n";
    expectOpenThrows<vr::FileCorruptException>(std::vector<std::uint8_t>(text.begin(), text.end()), "text.mj2");
    expectOpenThrows<vr::FileCorruptException>({}, "empty.mj2");

    MovieLayout audioOnly = simpleMovie(8, 8, 3, 8, 1);
    audioOnly.withVideo = false;
    audioOnly.withAudio = true;
    expectOpenThrows<vr::NoVideoException>(writeMovie(audioOnly), "audio.mj2");

    MovieLayout otherCodec = simpleMovie(8, 8, 3, 8, 1);
    otherCodec.videoEntryType = "avc1";
    expectOpenThrows<vr::UnknownCodecException>(writeMovie(otherCodec), "avc.mj2");

    // A sample that is not a codestream at all.
    MovieLayout junk = simpleMovie(8, 8, 3, 8, 1);
    junk.samples[0] = std::vector<std::uint8_t>(100, 0x42);
    expectOpenThrows<vr::FileCorruptException>(writeMovie(junk), "junk.mj2");
}

// Cut anywhere, a file either still opens (and reads without crashing) or is
// refused with a reader exception; with the movie box first, every cut loses
// samples the tables point at, so every cut is refused.
TEST(Mj2kBadFile, EveryTruncationIsRefusedOrSafe) {
    for (bool mdatFirst : {false, true}) {
        std::vector<std::uint8_t> full = smallMovie(3, mdatFirst);
        ASSERT_TRUE(openAndDrain(full, "full.mj2"));
        for (std::size_t len = 0; len < full.size(); len += (len < 400 ? 1 : 7)) {
            std::vector<std::uint8_t> cut(full.begin(), full.begin() + static_cast<long>(len));
            EXPECT_FALSE(openAndDrain(cut, "cut.mj2")) << "length " << len << (mdatFirst ? " data first" : "");
        }
    }
}

TEST(Mj2kBadFile, LyingSizesAndCountsAreRefused) {
    const std::vector<std::uint8_t> good = smallMovie();
    struct Damage {
        const char* what;
        const char* box;
        std::size_t at;  // offset from the box start
        std::uint32_t value;
    };
    const Damage cases[] = {
        {"movie box larger than the file", "moov", 0, 0x7FFFFFF0},
        {"movie box smaller than its header", "moov", 0, 3},
        {"track larger than the movie box", "trak", 0, 0x00FFFFFF},
        {"sample table box size 1 without room for the wide size", "stbl", 0, 1},
        {"sample count far beyond the table", "stsz", 16, 0xFFFFFFFF},
        {"sample count just beyond the table", "stsz", 16, 4},
        {"constant sample size larger than the file", "stsz", 12, 0x10000000},
        {"chunk offset past the end of the file", "stco", 16, 0xFFFFFF00},
        {"chunk count beyond the table", "stco", 12, 0x40000000},
        {"sample-to-chunk count beyond the table", "stsc", 12, 0x20000000},
        {"sample-to-chunk starting at chunk 0", "stsc", 16, 0},
        {"sample-to-chunk holding no samples", "stsc", 20, 0},
        {"time-to-sample count beyond the table", "stts", 12, 0x10000000},
        {"zero time scale", "mdhd", 20, 0},
        {"no sample description entries", "stsd", 12, 0},
        {"sample entry larger than the description", "mjp2", 0, 0x01000000},
    };
    for (const Damage& d : cases) {
        std::vector<std::uint8_t> bad = good;
        std::size_t at = findBox(bad, d.box);
        ASSERT_NE(at, std::string::npos) << d.box;
        putU32(bad, at + d.at, d.value);
        ReaderPtr r = newReader();
        EXPECT_THROW(r->open(u16(writeTemp("damaged.mj2", bad)), false), vr::VideoReaderException) << d.what;
    }
}

// Fields a reader can do without: a short time table and odd box sizes that
// still fit are read leniently.
TEST(Mj2kBadFile, ToleratedOddities) {
    std::vector<std::uint8_t> file = smallMovie();
    // The time table covers one sample: the others keep its duration.
    std::size_t stts = findBox(file, "stts");
    putU32(file, stts + 16, 1);
    ReaderPtr r = openFile(writeTemp("shortstts.mj2", file));
    r->seekToTime(0.08);
    readOne(*r, true);
    EXPECT_DOUBLE_EQ(r->getCurrentTime(), 0.08);

    // A movie box whose size runs to the end of the file (size 0), after the
    // media data.
    MovieLayout layout = simpleMovie(12, 8, 3, 8, 2);
    layout.mdatFirst = true;
    file = writeMovie(layout);
    putU32(file, findBox(file, "moov"), 0);
    r = openFile(writeTemp("moovtoend.mj2", file));
    readOne(*r, true);
    EXPECT_DOUBLE_EQ(r->getCurrentTime(), 0.0);
}

// A damaged codestream in one sample is a failed read of that frame only.
TEST(Mj2kBadFile, DamagedSampleIsAFailedReadAndReadingGoesOn) {
    std::vector<std::uint64_t> offsets;
    MovieLayout layout = simpleMovie(12, 8, 3, 8, 3);
    std::vector<std::uint8_t> file = writeMovie(layout, &offsets);
    std::size_t size1 = layout.samples[1].size();
    for (std::size_t i = 2; i < size1; ++i) file[offsets[1] + i] = static_cast<std::uint8_t>(i * 37);
    ReaderPtr r = openFile(writeTemp("damagedsample.mj2", file));
    readOne(*r, true);
    EXPECT_DOUBLE_EQ(r->getCurrentTime(), 0.0);
    readOne(*r, true);
    EXPECT_EQ(r->getCurrentTime(), kInf);
    readOne(*r, true);
    EXPECT_DOUBLE_EQ(r->getCurrentTime(), 0.08);
}

// A file cut short after it was opened: the lost frames are failed reads.
// A sample is a bare codestream or a box sequence with a codestream box;
// anything else in the first sample refuses the file with the reason, and in
// a later sample is a failed read of that frame alone.
TEST(Mj2kBadFile, SamplesThatAreNoCodestreamAreRefusedWithTheReason) {
    const std::vector<std::uint8_t> good = encodeJ2k(makePicture(12, 8, 3, 8, 0));
    auto box = [](const std::string& type, std::vector<std::uint8_t> payload) {
        std::vector<std::uint8_t> b = {0, 0, 0, 0, std::uint8_t(type[0]), std::uint8_t(type[1]), std::uint8_t(type[2]),
                                       std::uint8_t(type[3])};
        b.insert(b.end(), payload.begin(), payload.end());
        putU32(b, 0, std::uint32_t(b.size()));
        return b;
    };
    std::vector<std::uint8_t> socOnly = good;
    socOnly[3] = 0x52;  // FF 4F not followed by the size marker
    const struct {
        const char* name;
        std::vector<std::uint8_t> sample;
        const char* reason;
    } cases[] = {
        {"otherbox", box("jp2x", good), "holds no codestream box"},
        {"soconly", socOnly, "neither a JPEG 2000 codestream"},
        {"badpayload", box("c2pj", {1, 2, 3, 4, 5, 6, 7, 8}), "does not start with a JPEG 2000 codestream"},
        {"tiny", {0xFF, 0x4F}, "too short"},
    };
    for (const auto& c : cases) {
        MovieLayout layout = simpleMovie(12, 8, 3, 8, 0);
        layout.samples = {c.sample, good};
        ReaderPtr r = newReader();
        try {
            r->open(u16(writeTemp(std::string("sample-") + c.name + ".mj2", writeMovie(layout))), false);
            ADD_FAILURE() << c.name << " opened";
        } catch (const vr::FileCorruptException& e) {
            EXPECT_NE(std::string(e.what()).find(c.reason), std::string::npos) << c.name << ": " << e.what();
        }
        layout.samples = {good, c.sample, good};
        r = openFile(writeTemp(std::string("later-") + c.name + ".mj2", writeMovie(layout)));
        r->startFromBeginning();
        readOne(*r, true);
        EXPECT_EQ(r->getCurrentTime(), 0.0) << c.name;
        readOne(*r, true);
        EXPECT_EQ(r->getCurrentTime(), kInf) << c.name;
        readOne(*r, true);
        EXPECT_DOUBLE_EQ(r->getCurrentTime(), 0.08) << c.name;
    }
}

TEST(Mj2kBadFile, FileShrunkAfterOpen) {
    std::vector<std::uint8_t> file = smallMovie(3);
    std::string path = writeTemp("shrinks.mj2", file);
    ReaderPtr r = openFile(path);
    ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(file.size() - 10)), 0);
    readOne(*r, true);
    readOne(*r, true);
    readOne(*r, true);
    EXPECT_EQ(r->getCurrentTime(), kInf);
}

// Random damage anywhere never crashes and never throws outside the family
// (an escaping exception fails the test): each damaged file is refused at
// open or read to its end. Both outcomes must occur, or the damage no longer
// reaches what it is meant to.
TEST(Mj2kBadFile, RandomByteDamageIsSafe) {
    const std::vector<std::uint8_t> good = smallMovie(2);
    std::mt19937 rng(12345);
    int opened = 0;
    int refused = 0;
    for (int round = 0; round < 300; ++round) {
        std::vector<std::uint8_t> bad = good;
        int flips = 1 + static_cast<int>(rng() % 8);
        for (int f = 0; f < flips; ++f) bad[rng() % bad.size()] = static_cast<std::uint8_t>(rng());
        (openAndDrain(bad, "random.mj2") ? opened : refused) += 1;
    }
    EXPECT_GT(opened, 0);
    EXPECT_GT(refused, 0);
}

}  // namespace
