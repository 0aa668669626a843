#include "media.hpp"

#include <support/files.hpp>
#include <videoreader/gsthandles.hpp>

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>
#include <gst/gst.h>
#include <gst/video/video.h>


#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <memory>
#include <random>
#include <stdexcept>

namespace gstreader_test {

namespace {

namespace fs = std::filesystem;

fs::path scratch() { return testsupport::scratchDir(); }

void ensureGst() {
    static const bool ready = [] {
        gst_init(nullptr, nullptr);
        return true;
    }();
    (void)ready;
}

struct ElementUnref {
    void operator()(GstElement* e) const { gst_object_unref(e); }
};
using Element = std::unique_ptr<GstElement, ElementUnref>;

Element launch(const std::string& description) {
    ensureGst();
    GError* error = nullptr;
    GstElement* raw = gst_parse_launch(description.c_str(), &error);
    if (error != nullptr) {
        std::string message = error->message;
        g_error_free(error);
        if (raw != nullptr) {
            gst_object_unref(raw);
        }
        throw std::runtime_error("cannot build pipeline '" + description + "': " + message);
    }
    gst_object_ref_sink(raw);
    return Element(raw);
}

void replaceAll(std::string& text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
}

// Waits (a minute at most) for a playing pipeline to end, then stops it; true
// when it reached the end of the stream rather than an error.
bool runToEnd(GstElement* pipeline) {
    GstBus* bus = gst_element_get_bus(pipeline);
    GstMessage* message = gst_bus_timed_pop_filtered(
        bus, 60 * GST_SECOND, static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    const bool ok = message != nullptr && GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS;
    if (message != nullptr) {
        gst_message_unref(message);
    }
    gst_object_unref(bus);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    return ok;
}

}  // namespace

std::string scratchPath(const std::string& fileName) {
    return (scratch() / fileName).string();
}

std::string makeMedia(const std::string& fileName, const std::string& description) {
    static std::map<std::string, std::string> made;
    auto found = made.find(fileName);
    if (found != made.end()) {
        return found->second;
    }
    const std::string out = (scratch() / fileName).string();
    std::string text = description;
    replaceAll(text, "@OUT@", "\"" + out + "\"");
    Element pipeline = launch(text);
    gst_element_set_state(pipeline.get(), GST_STATE_PLAYING);
    const bool ok = runToEnd(pipeline.get());
    if (!ok) {
        throw std::runtime_error("pipeline did not finish: " + text);
    }
    made[fileName] = out;
    return out;
}

std::string theoraFile(int frames, bool withAudio, int keyframeDistance) {
    const std::string gop = std::to_string(keyframeDistance);
    const std::string name = "theora-" + std::to_string(frames) + "-" + gop +
                             (withAudio ? "-av" : "") + ".ogv";
    std::string description =
        "videotestsrc num-buffers=" + std::to_string(frames) +
        " pattern=ball ! video/x-raw,width=64,height=48,framerate=25/1 ! theoraenc "
        "keyframe-freq=" + gop + " keyframe-force=" + gop + " ! queue ! mux. oggmux name=mux ! filesink location=@OUT@";
    if (withAudio) {
        // Audio a little longer than the video would make the duration the
        // audio's: keep it shorter.
        description += " audiotestsrc num-buffers=" + std::to_string(frames * 44100 / 25 / 1024 - 1) +
                       " samplesperbuffer=1024 ! audio/x-raw,rate=44100,channels=2 ! audioconvert ! "
                       "vorbisenc ! queue ! mux.";
    }
    return makeMedia(name, description);
}

std::string narrowFile() {
    return makeMedia("narrow.ogv",
                     "videotestsrc num-buffers=12 pattern=snow ! "
                     "video/x-raw,width=5,height=6,framerate=10/1 ! theoraenc ! oggmux ! "
                     "filesink location=@OUT@");
}

std::string mjpegAviFile() {
    return makeMedia("mjpeg.avi",
                     "videotestsrc num-buffers=20 pattern=ball ! "
                     "video/x-raw,width=32,height=24,framerate=10/1 ! jpegenc ! avimux ! "
                     "filesink location=@OUT@");
}

std::string audioOnlyFile() {
    return makeMedia("audio.ogg",
                     "audiotestsrc num-buffers=30 ! audioconvert ! vorbisenc ! oggmux ! "
                     "filesink location=@OUT@");
}

std::string stillImageFile() {
    return makeMedia("still.jpg",
                     "videotestsrc num-buffers=1 pattern=smpte ! video/x-raw,width=40,height=30 ! "
                     "jpegenc ! filesink location=@OUT@");
}

std::string noFrameRateFile() {
    return makeMedia("nofps.mkv",
                     "videotestsrc num-buffers=10 pattern=ball ! "
                     "video/x-raw,width=32,height=24,framerate=10/1 ! jpegenc ! "
                     "capssetter caps=\"image/jpeg,framerate=(fraction)0/1\" ! matroskamux ! "
                     "filesink location=@OUT@");
}

std::string chainedOgg(int firstWidth, int firstHeight, int secondWidth, int secondHeight,
                       std::vector<std::string>* parts) {
    const auto part = [](int w, int h) {
        const std::string size = std::to_string(w) + "x" + std::to_string(h);
        return makeMedia("part-" + size + ".ogv",
                         "videotestsrc num-buffers=10 pattern=smpte horizontal-speed=23 ! video/x-raw,width=" + std::to_string(w) +
                             ",height=" + std::to_string(h) +
                             ",framerate=10/1 ! theoraenc ! oggmux ! filesink location=@OUT@");
    };
    const std::string a = part(firstWidth, firstHeight);
    const std::string b = part(secondWidth, secondHeight);
    if (parts != nullptr) {
        *parts = {a, b};
    }
    const std::string out = scratchPath("chained-" + fs::path(a).stem().string() + "-" +
                                        fs::path(b).stem().string() + ".ogv");
    std::ofstream file(out, std::ios::binary);
    for (const std::string& source : {a, b}) {
        std::ifstream in(source, std::ios::binary);
        file << in.rdbuf();
    }
    return out;
}

std::string heldFrameFile() {
    const std::string out = scratchPath("held.mkv");
    if (fs::exists(out)) {
        return out;
    }
    Element pipeline = launch(
        "appsrc name=src format=time caps=video/x-raw,format=RGB,width=32,height=24,framerate=10/1 ! "
        "videoconvert ! jpegenc quality=95 ! matroskamux ! filesink location=\"" + out + "\"");
    GstElement* src = gst_bin_get_by_name(GST_BIN(pipeline.get()), "src");
    gst_element_set_state(pipeline.get(), GST_STATE_PLAYING);
    for (int i = 0; i < 16; ++i) {
        // Frames 0.1 s apart but for frame 10 (1.0 s), shown until 1.3 s.
        const GstClockTime pts = i <= 10 ? i * GST_SECOND / 10 : (i + 2) * GST_SECOND / 10;
        const GstClockTime duration = i == 10 ? 3 * GST_SECOND / 10 : GST_SECOND / 10;
        GstBuffer* buffer = gst_buffer_new_allocate(nullptr, 32 * 24 * 3, nullptr);
        GstMapInfo map;
        gst_buffer_map(buffer, &map, GST_MAP_WRITE);
        for (std::size_t k = 0; k < map.size; ++k) {
            map.data[k] = static_cast<std::uint8_t>((k / 3 % 32) * 8 * (k % 3 == 0) + i * 15);
        }
        gst_buffer_unmap(buffer, &map);
        GST_BUFFER_PTS(buffer) = pts;
        GST_BUFFER_DURATION(buffer) = duration;
        gst_app_src_push_buffer(GST_APP_SRC(src), buffer);  // takes the buffer
    }
    gst_app_src_end_of_stream(GST_APP_SRC(src));
    gst_object_unref(src);
    const bool ok = runToEnd(pipeline.get());
    if (!ok) {
        throw std::runtime_error("cannot make " + out);
    }
    return out;
}

double psnr(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
    if (a.size() != b.size() || a.empty()) {
        return 0.0;
    }
    double squared = 0.0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const double d = static_cast<double>(a[i]) - static_cast<double>(b[i]);
        squared += d * d;
    }
    if (squared == 0.0) {
        return std::numeric_limits<double>::infinity();
    }
    return 10.0 * std::log10(255.0 * 255.0 / (squared / static_cast<double>(a.size())));
}

std::string truncatedCopy(const std::string& source, std::size_t bytes, const std::string& name) {
    std::ifstream in(source, std::ios::binary);
    std::vector<char> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (data.size() > bytes) {
        data.resize(bytes);
    }
    const std::string out = (scratch() / name).string();
    std::ofstream(out, std::ios::binary).write(data.data(), static_cast<std::streamsize>(data.size()));
    return out;
}

std::string corruptedCopy(const std::string& source, std::size_t offset, const std::string& name) {
    std::ifstream in(source, std::ios::binary);
    std::vector<char> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::mt19937 gen(12345);
    for (std::size_t i = offset; i < data.size(); ++i) {
        data[i] = static_cast<char>(gen());
    }
    const std::string out = (scratch() / name).string();
    std::ofstream(out, std::ios::binary).write(data.data(), static_cast<std::streamsize>(data.size()));
    return out;
}

std::string brokenJpegFramesCopy(const std::string& source, int firstBroken, const std::string& name) {
    std::ifstream in(source, std::ios::binary);
    std::vector<char> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    int frame = 0;
    for (std::size_t at = 0; at + 8 <= data.size(); ++at) {
        const std::string id(&data[at], 4);
        if (id != "00dc" && id != "00db") {
            continue;
        }
        const std::size_t size = static_cast<unsigned char>(data[at + 4]) |
                                 static_cast<unsigned char>(data[at + 5]) << 8 |
                                 static_cast<unsigned char>(data[at + 6]) << 16 |
                                 static_cast<std::size_t>(static_cast<unsigned char>(data[at + 7])) << 24;
        const std::size_t begin = at + 8;
        const std::size_t end = std::min(data.size(), begin + size);
        if (size == 0 || static_cast<unsigned char>(data[begin]) != 0xFF) {
            continue;  // an index entry naming the chunk, not the chunk
        }
        if (frame++ >= firstBroken) {
            for (std::size_t i = begin; i + 1 < end; ++i) {
                if (static_cast<unsigned char>(data[i]) == 0xFF && static_cast<unsigned char>(data[i + 1]) == 0xC0) {
                    data[i + 1] = static_cast<char>(0xC3);  // lossless process
                    break;
                }
            }
        }
        at = end - 1;
    }
    const std::string out = (scratch() / name).string();
    std::ofstream(out, std::ios::binary).write(data.data(), static_cast<std::streamsize>(data.size()));
    return out;
}

void plainPlaybinCycle(const std::string& path) {
    ensureGst();
    gchar* uri = g_filename_to_uri(path.c_str(), nullptr, nullptr);
    Element playbin(static_cast<GstElement*>(gst_object_ref_sink(gst_element_factory_make("playbin", nullptr))));
    g_object_set(playbin.get(), "uri", uri, "video-sink", gst_element_factory_make("appsink", nullptr),
                 "audio-sink", gst_element_factory_make("fakesink", nullptr), nullptr);
    g_free(uri);
    qsVideoReader::gst::changeStateAndWait(playbin.get(), GST_STATE_PAUSED);
    qsVideoReader::gst::changeStateAndWait(playbin.get(), GST_STATE_NULL);
}

namespace {

// What a picture of planar Y'CbCr shows, in real numbers: each chroma sample
// stands for the pixels it covers; the caps' matrix (BT.601 when they name
// none) and range.
std::vector<std::uint8_t> referenceRgb(const GstVideoFrame& frame) {
    const GstVideoInfo& info = frame.info;
    gdouble kr = 0.299;
    gdouble kb = 0.114;
    if (!gst_video_color_matrix_get_Kr_Kb(info.colorimetry.matrix, &kr, &kb)) {
        kr = 0.299;
        kb = 0.114;
    }
    const bool full = info.colorimetry.range == GST_VIDEO_COLOR_RANGE_0_255;
    const double yScale = full ? 1.0 : 255.0 / 219.0;
    const double cScale = full ? 1.0 : 255.0 / 224.0;
    const int width = GST_VIDEO_INFO_WIDTH(&info);
    const int height = GST_VIDEO_INFO_HEIGHT(&info);
    const auto sample = [&](int component, int x, int y) {
        const int subX = GST_VIDEO_FORMAT_INFO_W_SUB(info.finfo, component);
        const int subY = GST_VIDEO_FORMAT_INFO_H_SUB(info.finfo, component);
        const auto* plane = static_cast<const std::uint8_t*>(GST_VIDEO_FRAME_COMP_DATA(&frame, component));
        return static_cast<double>(plane[(y >> subY) * GST_VIDEO_FRAME_COMP_STRIDE(&frame, component) + (x >> subX)]);
    };
    const auto byte = [](double v) { return static_cast<std::uint8_t>(std::clamp(std::lround(v), 0L, 255L)); };
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(width) * height * 3);
    std::uint8_t* out = rgb.data();
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x, out += 3) {
            const double l = (sample(GST_VIDEO_COMP_Y, x, y) - (full ? 0.0 : 16.0)) * yScale;
            const double u = (sample(GST_VIDEO_COMP_U, x, y) - 128.0) * cScale;
            const double v = (sample(GST_VIDEO_COMP_V, x, y) - 128.0) * cScale;
            out[0] = byte(l + 2.0 * (1.0 - kr) * v);
            out[1] = byte(l - 2.0 * kb * (1.0 - kb) / (1.0 - kr - kb) * u - 2.0 * kr * (1.0 - kr) / (1.0 - kr - kb) * v);
            out[2] = byte(l + 2.0 * (1.0 - kb) * u);
        }
    }
    return rgb;
}

}  // namespace

Decoded decodeReference(const std::string& path, int width, int height) {
    // Unscaled, the decoder's own planar pictures are converted here; scaled,
    // GStreamer converts and scales in RGB.
    const std::string convert =
        width > 0 ? "videoconvert ! video/x-raw,format=RGB ! videoscale add-borders=false ! "
                    "video/x-raw,format=RGB,width=" + std::to_string(width) + ",height=" + std::to_string(height) + " ! "
                  : "videoconvert ! video/x-raw,format={I420,YV12,Y42B,Y444,RGB} ! ";
    Element pipeline = launch("filesrc location=\"" + path + "\" ! decodebin ! " + convert +
                              "appsink name=sink sync=false");
    GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline.get()), "sink");
    gst_element_set_state(pipeline.get(), GST_STATE_PLAYING);
    Decoded decoded;
    for (;;) {
        GstSample* sample = gst_app_sink_try_pull_sample(GST_APP_SINK(sink), 20 * GST_SECOND);
        if (sample == nullptr) {
            const bool eos = gst_app_sink_is_eos(GST_APP_SINK(sink));
            gst_object_unref(sink);
            gst_element_set_state(pipeline.get(), GST_STATE_NULL);
            if (!eos) {
                throw std::runtime_error("reference decode failed for " + path);
            }
            return decoded;
        }
        GstVideoInfo info;
        gst_video_info_from_caps(&info, gst_sample_get_caps(sample));
        GstBuffer* buffer = gst_sample_get_buffer(sample);
        GstVideoFrame frame;
        gst_video_frame_map(&frame, &info, buffer, GST_MAP_READ);
        decoded.width = GST_VIDEO_INFO_WIDTH(&info);
        decoded.height = GST_VIDEO_INFO_HEIGHT(&info);
        DecodedFrame out;
        out.pts = GST_BUFFER_PTS(buffer);
        if (GST_VIDEO_INFO_FORMAT(&info) == GST_VIDEO_FORMAT_RGB) {
            const std::size_t row = static_cast<std::size_t>(decoded.width) * 3;
            const std::size_t stride = static_cast<std::size_t>(GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0));
            const auto* data = static_cast<const std::uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0));
            out.rgb.resize(row * static_cast<std::size_t>(decoded.height));
            for (int y = 0; y < decoded.height; ++y) {
                std::copy(data + y * stride, data + y * stride + row, out.rgb.begin() + y * row);
            }
        } else {
            out.rgb = referenceRgb(frame);
        }
        gst_video_frame_unmap(&frame);
        gst_sample_unref(sample);
        decoded.frames.push_back(std::move(out));
    }
}

bool samePicture(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::abs(static_cast<int>(a[i]) - static_cast<int>(b[i])) > 1) {
            return false;
        }
    }
    return true;
}

std::vector<std::uint8_t> toColumnMajorPlanes(const std::vector<std::uint8_t>& rgb, int width,
                                              int height) {
    const std::size_t w = static_cast<std::size_t>(width);
    const std::size_t h = static_cast<std::size_t>(height);
    std::vector<std::uint8_t> out(rgb.size());
    for (std::size_t y = 0; y < h; ++y)
        for (std::size_t x = 0; x < w; ++x)
            for (std::size_t c = 0; c < 3; ++c)
                out[c * h * w + x * h + y] = rgb[(y * w + x) * 3 + c];
    return out;
}

std::string ffmpegAvi(const std::string& name, const std::string& codecArguments) {
    static std::map<std::string, std::string> made;
    auto found = made.find(name);
    if (found != made.end()) {
        return found->second;
    }
    const std::string out = scratchPath(name);
    const std::string command =
        "ffmpeg -nostdin -y -v error -f lavfi -i testsrc2=size=320x240:rate=25:duration=4 " + codecArguments +
        " '" + out + "'";
    if (!testsupport::runQuiet(command)) {
        return std::string();
    }
    made[name] = out;
    return out;
}

std::vector<std::vector<std::uint8_t>> ffmpegFrames(const std::string& path) {
    // Passed through as decoded: no frame repeated or dropped to fit a rate.
    const std::string raw = testsupport::run("ffmpeg -nostdin -v error -i '" + path +
                                             "' -fps_mode passthrough -f rawvideo -pix_fmt rgb24 -");
    const std::size_t frameBytes = 320 * 240 * 3;
    std::vector<std::vector<std::uint8_t>> frames;
    for (std::size_t at = 0; at + frameBytes <= raw.size(); at += frameBytes) {
        frames.emplace_back(raw.begin() + static_cast<std::ptrdiff_t>(at),
                            raw.begin() + static_cast<std::ptrdiff_t>(at + frameBytes));
    }
    return frames;
}

std::string withVideoFourcc(const std::string& source, const std::string& from, const std::string& fourcc,
                            const std::string& name) {
    std::string data = testsupport::readFile(source);
    // The stream header's handler and the format's compression, both in
    // the header list at the start of the file.
    const std::size_t headers = std::min<std::size_t>(data.size(), 4096);
    for (std::size_t at = data.find(from); at != std::string::npos && at < headers; at = data.find(from, at + 4)) {
        data.replace(at, 4, fourcc);
    }
    return testsupport::writeFile(scratchPath(name), data);
}

std::u16string toU16(const std::string& text) {
    return std::u16string(text.begin(), text.end());  // test paths are ASCII
}

}  // namespace gstreader_test

