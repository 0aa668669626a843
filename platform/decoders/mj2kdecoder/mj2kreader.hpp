#pragma once
// The reader behind createMj2kReaderInstance().

#include <platform/decoders/decodeahead.hpp>
#include <platform/decoders/mj2kdecoder/j2kcodec.hpp>
#include <platform/decoders/mj2kdecoder/mj2boxes.hpp>
#include <videoreader/ivideoreader.hpp>

#include <cstdio>
#include <memory>
#include <vector>

namespace mj2k {

// Largest sample read into memory.
constexpr std::uint32_t kMaxSampleSize = 256u << 20;

class Mj2kReader final : public qsVideoReader::IVideoReader {
public:
    Mj2kReader() = default;
    ~Mj2kReader() override { close(); }
    Mj2kReader(const Mj2kReader&) = delete;
    Mj2kReader& operator=(const Mj2kReader&) = delete;

    void open(const std::u16string& fileName, bool openFlag) override;
    void startFromBeginning() override;
    void seekToTime(double seconds) override;
    void readFrame(bool rowMajorInterleaved, void* destination) override;
    void close() override;
    std::size_t getHeight() override;
    std::size_t getWidth() override;
    double getFrameRate() override;
    double getDuration() override;
    unsigned int getBitsPerPixel() override;
    std::u16string getVideoFormat() override;
    std::u16string getVideoCodec() override;
    std::u16string getAudioCodec() override;
    double getNumAudioChannels() override;
    std::size_t getNumColorChannels() override;
    bool hasAudio() override;
    bool hasVideo() override;
    double getCurrentTime() override;
    bool isEndOfStream() override;
    bool getOpenFlag() override;
    qsVideoReader::VideoDataType getVideoDataType() override;

private:
    struct FileCloser {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };

    bool readBytes(std::uint64_t offset, std::uint8_t* out, std::size_t n);
    bool readSample(const Sample& sample, std::vector<std::uint8_t>& bytes);
    // Reads and decodes one sample; null on failure. Runs on the decode-ahead
    // worker as well: it touches only the file, which stays open while the
    // worker lives.
    ImageHandle decodeSample(const Sample& sample);
    void setNext(std::size_t next);
    ImageHandle takeSample(std::size_t index);
    void requireDeliverableDepth() const;

    std::unique_ptr<std::FILE, FileCloser> file_;
    std::uint64_t fileSize_ = 0;
    bool opened_ = false;
    bool openFlag_ = false;
    Movie movie_;
    FrameFormat format_;
    std::size_t next_ = 0;  // index of the sample the next readFrame decodes
    bool endOfStream_ = false;
    double currentTime_ = 0.0;
    unsigned threads_ = 1;  // OpenJPEG threads per decode
    // One sample decoded ahead of the caller, by its index.
    struct AheadJob {
        std::size_t index = 0;
        Sample sample;
    };
    // Declared last: destroyed (its worker joined) before the file it reads.
    std::unique_ptr<decoders::DecodeAhead<AheadJob, ImageHandle>> ahead_;
};

}  // namespace mj2k
