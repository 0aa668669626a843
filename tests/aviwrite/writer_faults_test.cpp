// Refusals and failures of the writer: misuse, descriptions it cannot
// represent, a header region too small for what was asked, and a full disk.
#include "aviwrite_support.hpp"

#include <boost/numeric/conversion/cast.hpp>
#include <gtest/gtest.h>

#include <cstring>
#include <sys/mount.h>

using aviwrite::Bytes;
using aviwrite::pattern;
using aviwrite::Recipe;
using aviwrite::readAll;
using aviwrite::scratchFile;
using aviwrite::writeFile;
namespace errors = avi::errors;

TEST(AviWriteFaults, DescriptionErrors) {
    avi::File f;
    const std::string path = scratchFile("desc-errors.avi");
    ASSERT_TRUE(f.open(path.c_str(), "w"));

    f.setVideoInfo(16, 16, 25.0, "", 12);
    EXPECT_EQ(f.getErrorCode(), errors::INVALID_BITS_PER_PIXEL);
    EXPECT_STREQ(f.getErrorMsg(), "Invalid value for Bits Per Pixel");
    EXPECT_FALSE(f.hasVideo());

    // Fewer than 8 bits per sample frame: no sample to count the stream in.
    f.clearError();
    f.setAudioInfo(8000.0, 4, 1, 100);
    EXPECT_EQ(f.getErrorCode(), errors::UNSUPPORTED_AUDIO_BITS);
    EXPECT_FALSE(f.hasAudio());

    // Rates that cannot be represented leave through the conversion overflow.
    EXPECT_THROW(f.setVideoInfo(16, 16, 0.0), boost::numeric::bad_numeric_cast);
    EXPECT_THROW(f.setAudioInfo(0.0, 16, 2, 100), boost::numeric::bad_numeric_cast);

    // Nothing valid was described: the file stays empty.
    f.close();
    EXPECT_EQ(readAll(path).size(), 0u);
}

TEST(AviWriteFaults, ColormapRules) {
    avi::File reading;
    reading.setColormap(aviwrite::greyPalette(2));
    EXPECT_EQ(reading.getErrorCode(), errors::COLORMAP_SET_DURING_READ);

    avi::File f;
    const std::string path = scratchFile("colormap-rules.avi");
    ASSERT_TRUE(f.open(path.c_str(), "w"));
    f.setColormap(aviwrite::greyPalette(257));
    EXPECT_EQ(f.getErrorCode(), errors::COLORMAP_TOO_LARGE);
    f.clearError();
    f.setColormap(aviwrite::greyPalette(256));
    EXPECT_EQ(f.getErrorCode(), errors::NO_ERROR);
    f.setColormap(aviwrite::greyPalette(2));
    EXPECT_EQ(f.getErrorCode(), errors::COLORMAP_NOT_EMPTY);
    f.close();

    // 8 bits without a palette: the video list cannot be written.
    Recipe r;
    r.width = 4;
    r.height = 4;
    r.bitsPerPixel = 8;
    r.frames = 1;
    EXPECT_EQ(writeFile(scratchFile("no-palette.avi"), r).error, errors::COLORMAP_REQUIRED);
}

TEST(AviWriteFaults, MisuseIsRefusedWithoutTouchingData) {
    std::vector<char> frame = pattern(16, 7);
    {
        avi::File closed;
        closed.writeVideoFrame(frame.data(), 16);
        EXPECT_EQ(closed.getErrorCode(), errors::UNSUPPORTED_MODE);
        closed.setVideoInfo(2, 2, 25.0);
        EXPECT_EQ(closed.getErrorCode(), errors::UNSUPPORTED_MODE);
    }
    const std::string path = scratchFile("misuse.avi");
    avi::File f;
    ASSERT_TRUE(f.open(path.c_str(), "w"));
    f.writeVideoFrame(frame.data(), 16);
    EXPECT_EQ(f.getErrorCode(), errors::VIDEO_CHUNKS_MISSING);
    f.writeAudio(frame.data());
    EXPECT_EQ(f.getErrorCode(), errors::AUDIO_CHUNKS_MISSING);
    f.clearError();

    f.setVideoInfo(2, 2, 25.0);
    f.writeVideoFrame(nullptr);
    EXPECT_EQ(f.getErrorCode(), errors::FWRITE_FAILED);
    f.clearError();
    f.writeVideoFrame(frame.data());
    // Describing a stream after data would move the write position back over
    // the first chunk.
    f.setAudioInfo(44100.0, 16, 2, 4410);
    EXPECT_EQ(f.getErrorCode(), errors::UNSUPPORTED_MODE);
    EXPECT_FALSE(f.hasAudio());
    f.writeVideoFrame(frame.data());
    f.close();

    const Bytes b = readAll(path);
    ASSERT_EQ(b.size(), 65960u);
    EXPECT_EQ(b.str(65824), "00db");
    EXPECT_EQ(std::memcmp(&b.data[65832], frame.data(), 16), 0);
}

TEST(AviWriteFaults, ReadingAFileBeingWrittenIsRefused) {
    const std::string path = scratchFile("read-while-writing.avi");
    avi::File f;
    ASSERT_TRUE(f.open(path.c_str(), "w"));
    f.setVideoInfo(2, 2, 25.0);
    std::vector<char> frame = pattern(16, 5);
    f.writeVideoFrame(frame.data());
    std::vector<char> buffer(64, '\x55');
    f.readVideoFrame(buffer.data(), 0);
    EXPECT_EQ(f.getErrorCode(), errors::UNSUPPORTED_MODE);
    EXPECT_EQ(buffer, std::vector<char>(64, '\x55'));
    f.clearError();
    f.close();
    EXPECT_EQ(f.getErrorCode(), errors::NO_ERROR);
    avi::File back;
    ASSERT_TRUE(back.open(path.c_str(), "r"));
    EXPECT_EQ(back.getVideoTotalFrames(), 1u);
}

TEST(AviWriteFaults, DepthsWithoutFrameSizeNeedTheSizedWrite) {
    const std::string path = scratchFile("sized-only.avi");
    avi::File f;
    ASSERT_TRUE(f.open(path.c_str(), "w"));
    f.setVideoInfo(4, 2, 25.0, "", 16);
    std::vector<char> frame = pattern(16, 3);
    f.writeVideoFrame(frame.data());
    EXPECT_EQ(f.getErrorCode(), errors::BAD_VIDEO_ENTRY_SIZE);
    f.clearError();
    f.writeVideoFrame(frame.data(), 16);
    f.close();
    EXPECT_EQ(f.getErrorCode(), errors::NO_ERROR);
    avi::File back;
    ASSERT_TRUE(back.open(path.c_str(), "r"));
    EXPECT_EQ(back.getVideoTotalFrames(), 1u);
}

TEST(AviWriteFaults, PaletteThatOutgrowsTheHeaderRegionIsRefused) {
    // Two reserved entries with one in use leave 16 spare bytes plus the
    // unused stream-list head: room for a JUNK head and 16 palette bytes.
    Recipe r;
    r.width = 3;
    r.height = 2;
    r.bitsPerPixel = 8;
    r.frames = 2;
    r.superIndexEntries = 2;
    r.colormap = aviwrite::greyPalette(4);
    ASSERT_EQ(writeFile(scratchFile("palette-fits.avi"), r).error, errors::NO_ERROR);
    {
        avi::File back;
        ASSERT_TRUE(back.open(scratchFile("palette-fits.avi").c_str(), "r"));
        EXPECT_EQ(back.getVideoTotalFrames(), 2u);
        EXPECT_EQ(back.getColormap().size(), 4u);
    }

    // One entry more does not fit: every frame is refused with a clear code
    // and the header is not written over the region's neighbours.
    r.colormap = aviwrite::greyPalette(5);
    const std::string path = scratchFile("palette-too-big.avi");
    {
        avi::File f;
        ASSERT_TRUE(f.open(path.c_str(), "w"));
        f.setNumSuperIndexEntries(2);
        f.setColormap(r.colormap);
        f.setVideoInfo(3, 2, 25.0, "", 8);
        std::vector<char> frame = pattern(8, 1);
        f.writeVideoFrame(frame.data());
        EXPECT_EQ(f.getErrorCode(), errors::INVALID_INDEX_OFFSET);
        f.close();
        EXPECT_EQ(f.getErrorCode(), errors::INVALID_INDEX_OFFSET);
    }
    const Bytes b = readAll(path);
    ASSERT_GE(b.size(), 8u);
    EXPECT_NE(b.str(0), "RIFF");

    // A palette set after the streams are described is checked at once.
    {
        avi::File f;
        ASSERT_TRUE(f.open(scratchFile("palette-late.avi").c_str(), "w"));
        f.setNumSuperIndexEntries(2);
        f.setVideoInfo(3, 2, 25.0, "", 8);
        std::vector<char> frame = pattern(8, 1);
        f.writeVideoFrame(frame.data());
        f.setColormap(aviwrite::greyPalette(5));
        EXPECT_EQ(f.getErrorCode(), errors::INVALID_INDEX_OFFSET);
        f.clearError();
        f.setColormap(aviwrite::greyPalette(4));
        EXPECT_EQ(f.getErrorCode(), errors::NO_ERROR);
        f.close();
        EXPECT_EQ(f.getErrorCode(), errors::NO_ERROR);
    }
}

namespace {

// A tiny tmpfs; unmounted (and its directory removed) at the end.
struct TinyFs {
    std::string dir;
    bool mounted = false;
    explicit TinyFs(const std::string& size) {
        dir = scratchFile("tinyfs");
        ::mkdir(dir.c_str(), 0700);
        mounted = ::mount("tmpfs", dir.c_str(), "tmpfs", 0, ("size=" + size).c_str()) == 0;
    }
    ~TinyFs() {
        if (mounted) ::umount2(dir.c_str(), MNT_DETACH);
        ::rmdir(dir.c_str());
    }
    // Unmounting fails while a file on it is still open.
    bool unmount() {
        if (mounted && ::umount(dir.c_str()) == 0) mounted = false;
        return !mounted;
    }
};

}  // namespace

TEST(AviWriteFaults, FullDiskGivesWriteErrorAndTheWriterRecovers) {
    TinyFs fs("256k");
    if (!fs.mounted) {
        // No permission to mount: the device that is always full still shows
        // that failures are reported and close closes.
        avi::File f;
        ASSERT_TRUE(f.open("/dev/full", "w"));
        f.setVideoInfo(64, 64, 25.0);
        std::vector<char> frame = pattern(64 * 64 * 3, 0);
        f.writeVideoFrame(frame.data());
        f.close();
        EXPECT_NE(f.getErrorCode(), errors::NO_ERROR);
        GTEST_SKIP() << "cannot mount a tmpfs here; checked /dev/full only";
    }
    // Fill most of the file system so that the writer runs out early.
    const std::string filler = fs.dir + "/filler";
    {
        std::vector<char> block(150 * 1024, 'x');
        FILE* out = std::fopen(filler.c_str(), "wb");
        ASSERT_NE(out, nullptr);
        std::fwrite(block.data(), 1, block.size(), out);
        std::fclose(out);
    }
    const std::string path = fs.dir + "/out.avi";
    const unsigned frameSize = 32 * 32 * 3;
    std::vector<std::vector<char>> stored;
    {
        avi::File f;
        ASSERT_TRUE(f.open(path.c_str(), "w"));
        f.setVideoInfo(32, 32, 25.0);
        f.setAudioInfo(8000.0, 8, 1, 16001);  // larger than any frame
        unsigned i = 0;
        for (; i < 100; ++i) {
            std::vector<char> frame = pattern(frameSize, i);
            f.writeVideoFrame(frame.data());
            if (f.getErrorCode() != errors::NO_ERROR) break;
            stored.push_back(frame);
        }
        ASSERT_LT(i, 100u) << "the file system never filled up";
        EXPECT_EQ(f.getErrorCode(), errors::FWRITE_FAILED);
        EXPECT_STREQ(f.getErrorMsg(), "Fwrite operation failed");

        // Still full: further chunks fail the same way, nothing crashes.
        std::vector<char> audio = pattern(f.getAudioChunkSize(), 99);
        f.clearError();
        f.writeAudio(audio.data());
        EXPECT_EQ(f.getErrorCode(), errors::FWRITE_FAILED);

        // Room again: the writer carries on where the failed chunk began.
        ASSERT_EQ(std::remove(filler.c_str()), 0);
        f.clearError();
        for (unsigned k = 0; k < 2; ++k) {
            std::vector<char> frame = pattern(frameSize, 500 + k);
            f.writeVideoFrame(frame.data());
            stored.push_back(frame);
        }
        EXPECT_EQ(f.getErrorCode(), errors::NO_ERROR);
        f.close();
        EXPECT_EQ(f.getErrorCode(), errors::NO_ERROR);
    }
    avi::File back;
    ASSERT_TRUE(back.open(path.c_str(), "r"));
    ASSERT_EQ(back.getVideoTotalFrames(), stored.size());
    std::vector<char> frame(frameSize);
    for (std::size_t k = 0; k < stored.size(); ++k) {
        back.readVideoFrame(frame.data(), static_cast<long>(k));
        ASSERT_EQ(frame, stored[k]) << "frame " << k;
    }
    back.close();
    EXPECT_TRUE(fs.unmount());
}

TEST(AviWriteFaults, CloseOnAFullDiskStillClosesTheFile) {
    TinyFs fs("64k");
    if (!fs.mounted) GTEST_SKIP() << "cannot mount a tmpfs here";
    const std::string path = fs.dir + "/out.avi";
    avi::File f;
    ASSERT_TRUE(f.open(path.c_str(), "w"));
    f.setVideoInfo(16, 16, 25.0);
    std::vector<char> frame = pattern(16 * 16 * 3, 1);
    for (int i = 0; i < 200 && f.getErrorCode() == errors::NO_ERROR; ++i) f.writeVideoFrame(frame.data());
    EXPECT_EQ(f.getErrorCode(), errors::FWRITE_FAILED);
    f.clearError();
    f.close();
    // The indexes and the header no longer fit: reported, and the stream is
    // closed all the same (the file system unmounts).
    EXPECT_EQ(f.getErrorCode(), errors::FWRITE_FAILED);
    EXPECT_TRUE(fs.unmount());
}

TEST(AviWriteFaults, DescriptionsTheHeaderCannotHoldAreRefusedWhereGiven) {
    // 64-bit samples of 8 channels at 10^9 per second: the byte rate has no
    // 32-bit field. Refused at once; close then finishes and never throws.
    const std::string path = scratchFile("byte-rate.avi");
    {
        avi::File f;
        ASSERT_TRUE(f.open(path.c_str(), "w"));
        f.setAudioInfo(1e9, 64, 8, 4);
        EXPECT_EQ(f.getErrorCode(), errors::UNSUPPORTED_AUDIO_BITS);
        EXPECT_FALSE(f.hasAudio());
        f.clearError();
        f.setVideoInfo(2, 2, 25.0);
        std::vector<char> frame = pattern(16, 1);
        f.writeVideoFrame(frame.data());
        EXPECT_NO_THROW(f.close());
        EXPECT_EQ(f.getErrorCode(), errors::NO_ERROR);
        EXPECT_NO_THROW(f.close());  // a second close does nothing
        EXPECT_EQ(f.getErrorCode(), errors::NO_ERROR);
    }
    avi::File back;
    ASSERT_TRUE(back.open(path.c_str(), "r"));
    EXPECT_FALSE(back.hasAudio());
    EXPECT_EQ(back.getVideoTotalFrames(), 1u);
}
