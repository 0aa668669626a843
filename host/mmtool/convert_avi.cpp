// mmtool convert, first kind: an AVI that avi::File reads (uncompressed
// video, PCM audio) is copied stream by stream into a new uncompressed
// OpenDML AVI, keeping its bit depth, palette and audio.
#include "convert.hpp"
#include "progress.hpp"

#include <host/lib/pluginhost.hpp>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace mmtool {

bool copyableAvi(avi::File& in, const std::string& path) {
    if (mmhost::extensionOf(path) != "avi" || !in.open(path.c_str(), "r")) return false;
    if (in.getErrorCode() != avi::errors::NO_ERROR) return false;
    if (in.hasVideo() && in.isVideoCompressed()) return false;
    if (in.hasAudio() && in.isAudioCompressed()) return false;
    return in.hasVideo() || in.hasAudio();
}

namespace {

int fail(const std::string& output, const std::string& what, const char* message) {
    std::fprintf(stderr, "mmtool convert: %s: %s\n", what.c_str(), message);
    std::remove(output.c_str());
    return 1;
}

}  // namespace

int copyAvi(avi::File& in, const std::string& input, const std::string& output) {
    avi::File out;
    if (!out.open(output.c_str(), "w")) return fail(output, output, out.getErrorMsg());

    const bool video = in.hasVideo(), audio = in.hasAudio();
    const std::uint64_t frames = video ? in.getVideoTotalFrames() : 0;
    const double fps = video ? in.getVideoFrameRate() : 0;
    if (video) {
        if (in.getVideoBitsPerPixel() == 8) out.setColormap(in.getColormap());
        out.setVideoInfo(in.getVideoWidth(), in.getVideoHeight(), fps, "", in.getVideoBitsPerPixel());
        if (out.getErrorCode()) return fail(output, output, out.getErrorMsg());
    }
    const unsigned rate = audio ? in.getAudioSampleRate() : 0;
    const unsigned bits = audio ? in.getAudioBitsPerSample() : 0;
    const unsigned channels = audio ? in.getAudioNumberOfChannels() : 0;
    const std::uint64_t sampleBytes = std::uint64_t(bits) * channels / 8;
    const std::uint64_t audioTotal = audio ? in.getAudioTotalBytes() : 0;
    std::uint64_t chunkBytes = 0;
    if (audio) {
        // One chunk per frame (a tenth of a second without video), in whole samples.
        const double seconds = video && fps > 0 ? 1.0 / fps : 0.1;
        chunkBytes = std::max<std::uint64_t>(1, static_cast<std::uint64_t>(std::llround(rate * seconds))) *
                     std::max<std::uint64_t>(1, sampleBytes);
        out.setAudioInfo(rate, bits, channels, static_cast<unsigned>(chunkBytes));
        if (out.getErrorCode()) return fail(output, output, out.getErrorMsg());
    }

    Progress progress(video ? frames : audioTotal, video ? "frames" : "audio bytes");
    std::vector<char> frame, chunk(audio ? out.getAudioChunkSize() : 0);
    std::uint64_t audioDone = 0, padding = 0;
    // Writes audio chunks until `until` bytes of the input's audio are in.
    auto writeAudioUpTo = [&](std::uint64_t until) -> bool {
        while (audioDone < std::min(until, audioTotal)) {
            const std::uint64_t take = std::min(chunkBytes, audioTotal - audioDone);
            // The last chunk is completed with silence: chunks have one size.
            std::fill(chunk.begin(), chunk.end(), static_cast<char>(bits == 8 ? 0x80 : 0));
            in.readAudio(chunk.data(), static_cast<unsigned long>(take));
            if (in.getErrorCode()) return false;
            out.writeAudio(chunk.data());
            if (out.getErrorCode()) return false;
            audioDone += take;
            padding += chunkBytes - take;
        }
        return true;
    };
    for (std::uint64_t i = 0; i < frames; ++i) {
        const std::uint32_t size = in.getRawVideoFrameSize(static_cast<long>(i));
        frame.resize(size);
        in.readVideoFrame(frame.data(), static_cast<long>(i));
        if (in.getErrorCode()) return fail(output, input, in.getErrorMsg());
        if (audio) {
            const double until = static_cast<double>(i + 1) / fps * rate * static_cast<double>(sampleBytes);
            if (!writeAudioUpTo(static_cast<std::uint64_t>(until)))
                return fail(output, in.getErrorCode() ? input : output,
                            in.getErrorCode() ? in.getErrorMsg() : out.getErrorMsg());
        }
        out.writeVideoFrame(frame.data(), size);
        if (out.getErrorCode()) return fail(output, output, out.getErrorMsg());
        progress.update(i + 1);
    }
    if (audio && !writeAudioUpTo(audioTotal))
        return fail(output, in.getErrorCode() ? input : output,
                    in.getErrorCode() ? in.getErrorMsg() : out.getErrorMsg());
    if (!video) progress.update(audioTotal);
    out.close();
    progress.finish();
    if (out.getErrorCode()) return fail(output, output, out.getErrorMsg());

    std::printf("%s -> %s:", input.c_str(), output.c_str());
    if (video)
        std::printf(" %llu frames %ux%u %u-bit at %.3f fps", static_cast<unsigned long long>(frames),
                    in.getVideoWidth(), in.getVideoHeight(), unsigned(in.getVideoBitsPerPixel()), fps);
    if (audio) {
        std::printf("%s %llu audio bytes (%u Hz, %u-bit, %u ch)", video ? "," : "",
                    static_cast<unsigned long long>(audioTotal), rate, bits, channels);
        if (padding)
            std::printf(", last chunk padded with %llu bytes of silence", static_cast<unsigned long long>(padding));
    }
    std::printf("\n");
    return 0;
}

}  // namespace mmtool
