// GstReader: GStreamer start-up, building and prerolling the pipeline, and
// the properties read from it.

#include <videoreader/gstreader.hpp>

#include <videoreader/chunktrack.hpp>
#include <videoreader/gsthandles.hpp>

#include <platform/services/framekit/framekit.hpp>
#include <platform/services/i18n/i18n.hpp>

#include <gst/app/gstappsink.h>
#include <gst/pbutils/pbutils.h>
#include <gst/video/video.h>

namespace qsVideoReader {

namespace {

std::string toUtf8(const std::u16string& text) {
    if (text.empty()) {
        return std::string();
    }
    return vq::i18n::codecvt_ustring_to_string("UTF-8", true).do_convert(text.data(), text.size());
}

// The URI playbin reads. A relative name is taken relative to the current
// directory; g_filename_to_uri alone refuses it.
std::shared_ptr<gchar> fileUri(const std::string& utf8Name) {
    if (utf8Name.empty()) {
        return gst::adoptString(nullptr);
    }
    if (g_path_is_absolute(utf8Name.c_str())) {
        return gst::adoptString(g_filename_to_uri(utf8Name.c_str(), nullptr, nullptr));
    }
    auto absolute = gst::adoptString(g_canonicalize_filename(utf8Name.c_str(), nullptr));
    return gst::adoptString(g_filename_to_uri(absolute.get(), nullptr, nullptr));
}

// What the appsink takes: packed RGB, or the planar 8-bit Y'CbCr most
// decoders put out, which the reader converts itself (yuvtorgb.hpp) instead
// of a conversion element in the pipeline. The planar formats come first so
// that a decoder's own pictures pass through unconverted. With a size the
// caps are fixed to it.
std::string sinkCaps(std::size_t width, std::size_t height) {
    std::string caps = "video/x-raw, format = {I420, YV12, Y42B, Y444, RGB}";
    if (width > 0 && height > 0) {
        caps += ", width = (int) " + std::to_string(width) + ", height = (int) " + std::to_string(height);
    }
    return caps;
}

// Clears one of playbin's "flags" by its name.
void clearPlaybinFlag(GstElement* playbin, const char* nick) {
    GParamSpec* property = g_object_class_find_property(G_OBJECT_GET_CLASS(playbin), "flags");
    if (property == nullptr || !G_IS_PARAM_SPEC_FLAGS(property)) {
        return;
    }
    const GFlagsValue* value = g_flags_get_value_by_nick(G_PARAM_SPEC_FLAGS(property)->flags_class, nick);
    if (value == nullptr) {
        return;
    }
    guint flags = 0;
    g_object_get(playbin, "flags", &flags, nullptr);
    g_object_set(playbin, "flags", flags & ~value->value, nullptr);
}

GstPadProbeReturn acceptVideoMeta(GstPad*, GstPadProbeInfo* info, gpointer) {
    GstQuery* query = GST_PAD_PROBE_INFO_QUERY(info);
    if (query != nullptr && GST_QUERY_TYPE(query) == GST_QUERY_ALLOCATION &&
        !gst_query_find_allocation_meta(query, GST_VIDEO_META_API_TYPE, nullptr)) {
        gst_query_add_allocation_meta(query, GST_VIDEO_META_API_TYPE, nullptr);
    }
    return GST_PAD_PROBE_OK;
}

}  // namespace

GstReader::GstReader() {
    GError* error = nullptr;
    gboolean ok = gst_init_check(nullptr, nullptr, &error);
    if (error != nullptr) {
        g_error_free(error);
        ok = FALSE;
    }
    if (!ok) {
        throw PluginRequirementException("Gstreamer version 0.10.0");
    }
    gst_segtrap_set_enabled(FALSE);
    gst_pb_utils_init();
}

GstReader::~GstReader() {
    clearSamples();
    try {
        shutdown();
    } catch (...) {
    }
    frame.reset();
    dropChunkTrack();
    pipeline.reset();
}

IVideoReader* createGstReaderInstance() {
    return new GstReader();
}

void GstReader::open(const std::u16string& name, bool flag) {
    fileName = name;
    openFlag = flag;
    try {
        createVideoElements();
        startPlayback();
    } catch (...) {
        clearSamples();
        try {
            shutdown();
        } catch (...) {
        }
        throw;
    }
}

void GstReader::startPlayback() {
    if (!gst::changeStateAndWait(pipeline.get(), GST_STATE_PLAYING)) {
        throw ReadFailedException();
    }
}

void GstReader::resetState() {
    // A reader opened a second time starts from a clean slate: the earlier
    // pipeline is stopped before it is released, and nothing learnt from the
    // earlier file survives.
    clearSamples();
    shutdown();
    dropChunkTrack();
    pipeline.reset();
    appsink = nullptr;
    frame.reset();
    height = 0;
    width = 0;
    frameRate = 0.0;
    started = false;
    endOfStream = false;
    currentTime = 0.0;
    streamFailed = false;
    missingVideoDecoder.clear();
    countingFromStart = false;
    delivered = 0;
    streamStarts = 0;
}

void GstReader::createVideoElements() {
    static const char* const fn = "createVideoElements";
    resetState();

    auto uri = fileUri(toUtf8(fileName));
    auto playbin = gst::sinkElement(gst_element_factory_make("playbin", "qsxplaybin"));
    if (!playbin) {
        throw InitializationFailedException();
    }
    pipeline = playbin;
    chunks = ChunkTrack::attach(pipeline.get());
    QS_GST_INFO(fn, "Playbin has been created");

    // Interlaced pictures are delivered as the file stores them, both fields
    // in one frame at the file's frame rate, as FFmpeg and the Motion-JPEG
    // reader deliver them: playbin's deinterlacer would make a frame of each
    // field, twice the frames the file holds, and frame numbers would no
    // longer be the file's.
    clearPlaybinFlag(pipeline.get(), "deinterlace");

    auto videoSink = makeVideoSink();
    g_object_set(pipeline.get(), "uri", uri.get(), nullptr);
    g_object_set(pipeline.get(), "video-sink", videoSink.get(), nullptr);

    // Audio and subtitles are decoded and discarded.
    g_object_set(pipeline.get(), "audio-sink",
                 gst_element_factory_make("fakesink", "qsxfakeaudiosink"), nullptr);
    g_object_set(pipeline.get(), "text-sink",
                 gst_element_factory_make("fakesink", "qsxfaketextsink"), nullptr);

    // Without a clock frames come as fast as they are pulled, not in real time.
    gst_pipeline_use_clock(GST_PIPELINE(pipeline.get()), nullptr);
    QS_GST_INFO(fn, "playbin initialization has been completed");

    const bool paused = gst::changeStateAndWait(pipeline.get(), GST_STATE_PAUSED);
    // A video stream nothing here decodes is a failure, whatever else the
    // file holds: without it the file would pass for one without video.
    pipelineFailed();
    if (!missingVideoDecoder.empty()) {
        throw UnknownCodecException("No decoder for the video codec \"" + missingVideoDecoder + "\"");
    }
    if (!paused) {
        throw UnexpectedException("Unable to initialize the video properties");
    }
    QS_GST_INFO(fn, "playbin successfully changed to paused");

    if (hasVideo()) {
        readVideoCaps();
        GstPad* decoded = nullptr;
        g_signal_emit_by_name(pipeline.get(), "get-video-pad", currentStream("current-video"), &decoded);
        auto pad = gst::adoptPad(decoded);  // transfer full
        if (pad) {
            chunks->watchDecoded(pad.get());
        }
    }
}

std::shared_ptr<GstElement> GstReader::makeVideoSink() {
    static const char* const fn = "createVideoElements";  // the log names the step of opening
    // Held by us until the bin takes its own reference.
    auto sink = gst::sinkElement(gst_element_factory_make("appsink", "qsxvideoappsink"));
    if (!sink) {
        throw InitializationFailedException();
    }
    appsink = sink.get();
    GstAppSink* app = GST_APP_SINK(appsink);

    auto caps = gst::adoptMiniObject(gst_caps_from_string(sinkCaps(0, 0).c_str()));
    gst_app_sink_set_caps(app, caps.get());
    QS_GST_INFO(fn, "RGB caps set on the Appsink");

    // The reader maps every picture by its video meta (strides and plane
    // offsets), so a decoder may hand over its own padded pictures instead of
    // copying each into a tightly packed buffer.
    auto sinkPad = gst::adoptPad(gst_element_get_static_pad(appsink, "sink"));
    if (sinkPad) {
        gst_pad_add_probe(sinkPad.get(), GST_PAD_PROBE_TYPE_QUERY_DOWNSTREAM, acceptVideoMeta, nullptr, nullptr);
    }

    // One buffer and no dropping: the streaming thread waits for each pull,
    // so decoding runs at most one frame ahead and never skips one.
    gst_app_sink_set_max_buffers(app, 1);
    gst_app_sink_set_drop(app, FALSE);
    QS_GST_INFO(fn, "Appsink has been created");

    // The video sink is a bin: a scaler in front of the appsink. Once the
    // size is known the appsink's caps are fixed to it, so that a stream
    // whose picture size changes on the way (chained Ogg) still arrives at
    // the size published at open, scaled by GStreamer, and every delivered
    // frame holds the whole picture.
    auto bin = gst::sinkElement(gst_bin_new("qsxvideosinkbin"));
    auto scaler = gst::sinkElement(gst_element_factory_make("videoscale", "qsxvideoscale"));
    if (!bin || !scaler) {
        throw InitializationFailedException();
    }
    // Fill the whole frame: no black borders for a part of another aspect.
    g_object_set(scaler.get(), "add-borders", FALSE, nullptr);
    gst_bin_add_many(GST_BIN(bin.get()), scaler.get(), appsink, nullptr);
    if (!gst_element_link(scaler.get(), appsink)) {
        throw InitializationFailedException();
    }
    auto scalerSink = gst::adoptPad(gst_element_get_static_pad(scaler.get(), "sink"));
    GstPad* ghost = gst_ghost_pad_new("sink", scalerSink.get());  // floating, taken by the bin
    if (ghost == nullptr || !gst_element_add_pad(bin.get(), ghost)) {
        throw InitializationFailedException();
    }
    return bin;
}

void GstReader::readVideoCaps() {
    static const char* const fn = "createVideoElements";
    auto pad = gst::adoptPad(gst_element_get_static_pad(appsink, "sink"));
    if (!pad) {
        throw InitializationFailedException();
    }
    auto videoCaps = gst::adoptMiniObject(gst_pad_get_current_caps(pad.get()));
    if (!videoCaps || gst_caps_get_size(videoCaps.get()) == 0) {
        throw InitializationFailedException();
    }
    QS_GST_INFO(fn, "Obtain the videoCaps from the appsink");
    const GstStructure* structure = gst_caps_get_structure(videoCaps.get(), 0);  // owned by the caps
    QS_GST_INFO(fn, "Obtain the videoCapsStruct from the videoCaps");

    gint value = 0;
    if (gst_structure_get_int(structure, "height", &value)) {
        height = static_cast<std::size_t>(value < 0 ? 0 : value);
    }
    if (gst_structure_get_int(structure, "width", &value)) {
        width = static_cast<std::size_t>(value < 0 ? 0 : value);
    }
    gint num = 0;
    gint den = 0;
    if (gst_structure_get_fraction(structure, "framerate", &num, &den) && den != 0) {
        frameRate = static_cast<double>(num) / static_cast<double>(den);
    }
    fixOutputSize();

    frame = pixcapframekit::frameFactory(pixcapframekit::frametypes::FRAMETYPE_RGB8, static_cast<int>(width),
                                         static_cast<int>(height));
    if (!frame) {
        throw InitializationFailedException();
    }
}

void GstReader::fixOutputSize() {
    if (width == 0 || height == 0 || width > static_cast<std::size_t>(G_MAXINT) ||
        height > static_cast<std::size_t>(G_MAXINT)) {
        return;
    }
    auto caps = gst::adoptMiniObject(gst_caps_from_string(sinkCaps(width, height).c_str()));
    // The pixel aspect ratio stays open: a part of another shape then fills
    // the whole frame (with pixels of another aspect) instead of being
    // framed by borders, whichever scaler of the pipeline takes it on.
    gst_app_sink_set_caps(GST_APP_SINK(appsink), caps.get());
}

int GstReader::currentStream(const char* property) {
    gint index = -1;
    if (pipeline) {
        g_object_get(pipeline.get(), property, &index, nullptr);
    }
    return index;
}

bool GstReader::hasVideo() {
    return currentStream("current-video") != -1;
}

bool GstReader::hasAudio() {
    return currentStream("current-audio") != -1;
}

double GstReader::getDuration() {
    gint64 ns = 0;
    if (pipeline && gst_element_query_duration(pipeline.get(), GST_FORMAT_TIME, &ns)) {
        const double seconds = static_cast<double>(ns) / 1e9;
        QS_GST_INFO("getDuration", "Duration in seconds is %f", seconds);
        return seconds;
    }
    QS_GST_WARNING("getDuration", "Could not determine pipeline duration");
    return -1.0;
}

std::u16string GstReader::streamCodec(const char* indexProperty, const char* signal,
                                      const char* tag) {
    const gint index = currentStream(indexProperty);
    if (!pipeline) {
        return std::u16string();
    }
    GstTagList* list = nullptr;
    g_signal_emit_by_name(pipeline.get(), signal, index, &list);
    auto tags = gst::adoptMiniObject(list);  // transfer full
    if (!tags) {
        return std::u16string();
    }
    gchar* raw = nullptr;
    if (!gst_tag_list_get_string(tags.get(), tag, &raw)) {
        return std::u16string();
    }
    auto text = gst::adoptString(raw);
    return vq::i18n::to_ustring(text.get());
}

std::u16string GstReader::getVideoCodec() {
    return streamCodec("current-video", "get-video-tags", "video-codec");
}

std::u16string GstReader::getAudioCodec() {
    return streamCodec("current-audio", "get-audio-tags", "audio-codec");
}

std::size_t GstReader::getHeight() {
    return height;
}

std::size_t GstReader::getWidth() {
    return width;
}

double GstReader::getFrameRate() {
    return frameRate;
}

unsigned int GstReader::getBitsPerPixel() {
    return hasVideo() ? 24u : 0u;
}

std::u16string GstReader::getVideoFormat() {
    return hasVideo() ? vq::i18n::to_ustring("RGB24") : std::u16string();
}

std::size_t GstReader::getNumColorChannels() {
    return hasVideo() ? 3u : 0u;
}

double GstReader::getNumAudioChannels() {
    // The channels of the audio stream playbin plays, as it leaves its decoder.
    const gint index = currentStream("current-audio");
    if (!pipeline || index < 0) {
        return 0.0;
    }
    GstPad* raw = nullptr;
    g_signal_emit_by_name(pipeline.get(), "get-audio-pad", index, &raw);
    auto pad = gst::adoptPad(raw);  // transfer full
    if (!pad) {
        return 0.0;
    }
    auto caps = gst::adoptMiniObject(gst_pad_get_current_caps(pad.get()));
    if (!caps || gst_caps_get_size(caps.get()) == 0) {
        return 0.0;
    }
    gint channels = 0;
    if (!gst_structure_get_int(gst_caps_get_structure(caps.get(), 0), "channels", &channels) || channels < 0) {
        return 0.0;
    }
    return static_cast<double>(channels);
}

std::vector<ReaderWarning> GstReader::takeWarnings() {
    std::vector<ReaderWarning> taken;
    taken.swap(warnings);
    return taken;
}

VideoDataType GstReader::getVideoDataType() {
    return static_cast<VideoDataType>(3);
}

bool GstReader::getOpenFlag() {
    return openFlag;
}

}  // namespace qsVideoReader
