// GstReader: positioning, frame delivery and shutting the pipeline down.

#include <videoreader/gstreader.hpp>

#include <videoreader/chunktrack.hpp>
#include <videoreader/gsthandles.hpp>
#include <videoreader/yuvtorgb.hpp>

#include <platform/services/framekit/framekit.hpp>

#include <gst/app/gstappsink.h>
#include <gst/pbutils/missing-plugins.h>
#include <gst/video/video.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace qsVideoReader {

namespace {

// How long one wait for a sample lasts before the reader looks whether the
// pipeline has failed, and how long it waits in all before it gives up on a
// pipeline that neither delivers, ends nor reports an error.
constexpr GstClockTime POLL_NS = 50000000ULL;  // 50 ms
constexpr GstClockTime STALL_LIMIT_NS = 20000000000ULL;  // 20 s

// Seconds to nanoseconds, rounded to nearest. Times before the start (and
// NaN) become 0 and times beyond the unsigned range saturate, instead of the
// undefined conversion of an out-of-range double.
std::uint64_t toNanoseconds(double seconds) {
    if (!(seconds > 0.0)) {
        return 0;
    }
    const double ns = seconds * 1e9 + 0.5;
    constexpr double two63 = 9223372036854775808.0;
    if (ns >= 2.0 * two63) {
        return std::numeric_limits<std::uint64_t>::max();
    }
    if (ns >= two63) {
        return static_cast<std::uint64_t>(ns - two63) + (std::uint64_t{1} << 63);
    }
    return static_cast<std::uint64_t>(ns);
}

// One frame period in nanoseconds, 0 without a frame rate. The period the
// reader counts pictures with and the one it has the chunk track skip them
// with must be the same number.
std::uint64_t framePeriodNs(double frameRate) {
    return frameRate > 0.0 ? toNanoseconds(1.0 / frameRate) : 0;
}

// A sample's buffer mapped as a video frame of its caps; unmapped when gone.
class FrameMapping {
public:
    FrameMapping(const GstVideoInfo& info, GstBuffer* buffer) {
        GstVideoInfo copy = info;
        mapped_ = gst_video_frame_map(&frame_, &copy, buffer, GST_MAP_READ);
    }
    ~FrameMapping() {
        if (mapped_) {
            gst_video_frame_unmap(&frame_);
        }
    }
    FrameMapping(const FrameMapping&) = delete;
    FrameMapping& operator=(const FrameMapping&) = delete;

    bool mapped() const { return mapped_; }
    const GstVideoFrame& frame() const { return frame_; }
    const std::uint8_t* data() const {
        return static_cast<const std::uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame_, 0));
    }
    std::size_t stride() const { return static_cast<std::size_t>(GST_VIDEO_FRAME_PLANE_STRIDE(&frame_, 0)); }

private:
    GstVideoFrame frame_{};
    bool mapped_ = false;
};

class BufferMapping {
public:
    explicit BufferMapping(GstBuffer* buffer) : buffer_(buffer) {
        mapped_ = gst_buffer_map(buffer_, &info_, GST_MAP_READ);
    }
    ~BufferMapping() {
        if (mapped_) {
            gst_buffer_unmap(buffer_, &info_);
        }
    }
    BufferMapping(const BufferMapping&) = delete;
    BufferMapping& operator=(const BufferMapping&) = delete;

    bool mapped() const { return mapped_; }
    const std::uint8_t* data() const { return info_.data; }

private:
    GstBuffer* buffer_;
    GstMapInfo info_{};
    bool mapped_ = false;
};

// Three 8-bit planes of Y'CbCr, each sample a byte of its own: what
// yuvToRgb24 reads.
bool isPlanarYuv8(const GstVideoInfo& info) {
    const GstVideoFormatInfo* format = info.finfo;
    if (format == nullptr || !GST_VIDEO_FORMAT_INFO_IS_YUV(format) || GST_VIDEO_FORMAT_INFO_N_COMPONENTS(format) != 3) {
        return false;
    }
    for (guint c = 0; c < 3; ++c) {
        if (GST_VIDEO_FORMAT_INFO_DEPTH(format, c) != 8 || GST_VIDEO_FORMAT_INFO_PSTRIDE(format, c) != 1 ||
            GST_VIDEO_FORMAT_INFO_W_SUB(format, c) > 2 || GST_VIDEO_FORMAT_INFO_H_SUB(format, c) > 2) {
            return false;
        }
    }
    return GST_VIDEO_FORMAT_INFO_PLANE(format, 0) != GST_VIDEO_FORMAT_INFO_PLANE(format, 1) &&
           GST_VIDEO_FORMAT_INFO_PLANE(format, 1) != GST_VIDEO_FORMAT_INFO_PLANE(format, 2);
}

}  // namespace

void GstReader::clearSamples() {
    samples.clear();
    nextPullFailed = false;
}

void GstReader::shutdown() {
    if (!pipeline) {
        return;
    }
    if (!gst::changeStateAndWait(pipeline.get(), GST_STATE_NULL)) {
        return;
    }
    dropChunkTrack();
    pipeline.reset();
    appsink = nullptr;
}

void GstReader::dropChunkTrack() {
    // Before the pipeline it watches goes.
    if (chunks) {
        chunks->detach();
        chunks.reset();
    }
}

void GstReader::close() {
    clearSamples();
    shutdown();
}

bool GstReader::pipelineFailed() {
    if (!pipeline) {
        return true;
    }
    // Nobody else reads this bus: drain it so messages do not pile up, and
    // remember whether the pipeline reported an error.
    auto bus = gst::adoptBus(gst_element_get_bus(pipeline.get()));
    if (bus) {
        while (GstMessage* raw = gst_bus_pop(bus.get())) {
            auto message = gst::adoptMiniObject(raw);
            if (GST_MESSAGE_TYPE(raw) == GST_MESSAGE_ERROR) {
                streamFailed = true;
            } else if (GST_MESSAGE_TYPE(raw) == GST_MESSAGE_STREAM_START) {
                ++streamStarts;
            } else if (gst_is_missing_plugin_message(raw)) {
                auto detail = gst::adoptString(gst_missing_plugin_message_get_installer_detail(raw));
                if (detail && std::strstr(detail.get(), "|decoder-video/") != nullptr) {
                    auto description = gst::adoptString(gst_missing_plugin_message_get_description(raw));
                    // "<codec> decoder": the codec's name is what the caller needs.
                    std::string name = description ? description.get() : "unknown";
                    const std::string suffix = " decoder";
                    if (name.size() > suffix.size() &&
                        name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
                        name.resize(name.size() - suffix.size());
                    }
                    // A codec GStreamer does not know by name is named by its FourCC.
                    const GstStructure* fields = gst_message_get_structure(raw);
                    const GValue* detailCaps = fields ? gst_structure_get_value(fields, "detail") : nullptr;
                    const GstCaps* caps = detailCaps && GST_VALUE_HOLDS_CAPS(detailCaps) ? gst_value_get_caps(detailCaps)
                                                                                         : nullptr;
                    gint fourcc = 0;
                    if (caps && gst_caps_get_size(caps) > 0 &&
                        gst_structure_get_int(gst_caps_get_structure(caps, 0), "fourcc", &fourcc)) {
                        std::string code;
                        for (int shift = 0; shift < 32; shift += 8) {
                            const char c = static_cast<char>((static_cast<guint32>(fourcc) >> shift) & 0xFF);
                            code += g_ascii_isprint(c) ? c : '?';
                        }
                        name += " (FourCC " + code + ")";
                    }
                    missingVideoDecoder = name;
                }
            }
        }
    }
    return streamFailed;
}

GstReader::SampleHandle GstReader::pull() {
    if (appsink == nullptr) {
        throw ReadFailedException();
    }
    GstAppSink* app = GST_APP_SINK(appsink);
    GstClockTime waited = 0;
    for (;;) {
        GstSample* raw = gst_app_sink_try_pull_sample(app, POLL_NS);  // transfer full
        if (raw != nullptr) {
            return gst::adoptMiniObject(raw);
        }
        // An error is looked for before the end of the stream: a stream that
        // broke usually ends as well, and a failure must not pass for a
        // normal end. A failed pipeline may also never send the end, and an
        // appsink that was never linked (a file without video) never
        // receives anything: waiting on would hang the caller.
        if (pipelineFailed()) {
            throw ReadFailedException();
        }
        if (gst_app_sink_is_eos(app)) {
            return nullptr;
        }
        GstState state = GST_STATE_VOID_PENDING;
        gst_element_get_state(appsink, &state, nullptr, 0);
        if (state < GST_STATE_PAUSED) {
            throw ReadFailedException();
        }
        waited += POLL_NS;
        if (waited >= STALL_LIMIT_NS) {
            throw ReadFailedException();
        }
    }
}

void GstReader::seek(std::uint64_t positionNs) {
    if (!pipeline) {
        throw SeekFailedException();
    }
    const std::uint64_t maxPosition = static_cast<std::uint64_t>(G_MAXINT64);
    const gint64 position = static_cast<gint64>(positionNs > maxPosition ? maxPosition : positionNs);
    pipelineFailed();  // drain what the pipeline said before the seek
    if (!gst_element_seek_simple(pipeline.get(), GST_FORMAT_TIME,
                                 static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE),
                                 position)) {
        throw SeekFailedException();
    }
    // A flushing seek restarts the streams; an earlier error no longer holds.
    streamFailed = false;
}

void GstReader::forgetPreviousTime(std::uint64_t restart) {
    havePrevious = false;
    previousNs = 0;
    restartNs = restart;
}

std::uint64_t GstReader::sampleTime(GstSample* sample) {
    GstBuffer* buffer = gst_sample_get_buffer(sample);  // transfer none
    std::uint64_t period = framePeriodNs(frameRate);
    if (period == 0 && buffer != nullptr && GST_BUFFER_DURATION_IS_VALID(buffer)) {
        period = GST_BUFFER_DURATION(buffer);
    }
    if (chunks && chunks->numbered()) {
        // Pictures leave the decoder in display order: each is shown one
        // period after the one before, the first at its keyframe's time.
        std::uint64_t time = previousNs + period;
        if (chunks->nextShown(time)) {
            // a packed bitstream's own list
        } else if (!havePrevious && !chunks->anchor(period, time)) {
            time = restartNs;
        }
        havePrevious = true;
        previousNs = time;
        return time;
    }
    // The stream time, not the buffer's own timestamp: each part of a
    // chained file starts its timestamps again at 0 in a segment that says
    // where the part lies in the whole, and a flushing seek restarts the
    // running time at 0 while the stream time stays that of the file.
    std::uint64_t candidate = GST_CLOCK_TIME_NONE;
    if (buffer != nullptr && GST_BUFFER_PTS_IS_VALID(buffer)) {
        candidate = GST_BUFFER_PTS(buffer);
        const GstSegment* segment = gst_sample_get_segment(sample);  // transfer none
        if (segment != nullptr && segment->format == GST_FORMAT_TIME) {
            candidate = gst_segment_to_stream_time(segment, GST_FORMAT_TIME, candidate);
        }
    }
    std::uint64_t time = 0;
    if (!havePrevious) {
        time = candidate != GST_CLOCK_TIME_NONE ? candidate : restartNs;
    } else if (candidate == GST_CLOCK_TIME_NONE || candidate < previousNs) {
        // No time of its own, or one that would go back: the frame follows
        // the previous one by a frame period.
        time = previousNs + period;
    } else {
        time = candidate;
    }
    havePrevious = true;
    previousNs = time;
    return time;
}

bool GstReader::pullTimed(Queued& out) {
    SampleHandle sample = pull();
    if (!sample) {
        return false;
    }
    out.timeNs = sampleTime(sample.get());
    out.sample = std::move(sample);
    return true;
}

void GstReader::startFromBeginning() {
    endOfStream = false;
    try {
        if (started) {
            seekToTime(0.0);
            return;
        }
        forgetPreviousTime(0);
        countingFromStart = true;
        delivered = 0;
        Queued first;
        if (pullTimed(first)) {
            samples.push_back(std::move(first));
        }
        started = true;
    } catch (const SeekFailedException&) {
        throw SeekFailedException();
    } catch (const std::exception&) {
        // A failed first pull leaves the reader unpositioned; the next
        // readFrame then reports the end of the stream.
    }
}

void GstReader::seekToTime(double seconds) {
    clearSamples();
    endOfStream = false;
    countingFromStart = seconds == 0.0;
    delivered = 0;
    // Whatever happens below, the stream has left its opening position, so
    // a later startFromBeginning must seek back to the start.
    started = true;

    if (seconds == NO_START_TIME) {
        Queued next;
        if (pullTimed(next)) {
            samples.push_back(std::move(next));
        }
        return;
    }
    if (std::isnan(seconds)) {
        throw SeekFailedException();
    }

    const std::uint64_t target = toNanoseconds(seconds);
    const double duration = getDuration();
    // A video stream shows a frame at every time before its end.
    const bool withinStream = duration > 0.0 && target < toNanoseconds(duration) && hasVideo();
    // A file made of parts one after the other (chained Ogg) plays through
    // from its start, but a flushing seek cannot take GStreamer from one
    // part to another: it fails, or the stream ends at once. Such a file is
    // read again from a new pipeline up to the target instead.
    pipelineFailed();  // counts the parts the stream has gone through so far
    if (streamStarts <= 1) {
        try {
            seekAndQueue(seconds, target, duration);
        } catch (const std::exception&) {
            if (!withinStream) {
                throw;
            }
            clearSamples();
        }
        pipelineFailed();
        if (!samples.empty() || !withinStream) {
            return;
        }
    }
    readFromNewPipeline(target);
    if (samples.empty()) {
        // Nothing to deliver would pass for the end of the stream.
        throw SeekFailedException();
    }
}

void GstReader::readFromNewPipeline(std::uint64_t target) {
    const std::uint64_t starts = streamStarts;
    createVideoElements();
    startPlayback();
    // What was learnt about the file holds for the new pipeline too.
    streamStarts = starts;
    started = true;
    countingFromStart = target == 0;
    forgetPreviousTime(0);
    Queued next;
    while (pullTimed(next)) {
        if (target < next.timeNs && !samples.empty()) {
            samples.push_back(std::move(next));
            return;
        }
        samples.clear();
        samples.push_back(std::move(next));
        if (target < samples.front().timeNs) {
            return;  // the first frame is shown after the target: it is the one
        }
    }
}

void GstReader::seekAndQueue(double seconds, std::uint64_t target, double duration) {
    // Start three frame periods early: demuxers land on or before the asked
    // position only approximately, and the frame shown at the target may
    // start before it. Closer to the start than that the seek goes to the
    // start itself: a segment starting at the target would clip the shown
    // frame's timestamp to the target and report a time the frame does not
    // have. Without a frame rate there is no period to back off by, and the
    // seek goes to the target.
    const double backOff = seconds - 3.0 * (1.0 / frameRate);
    std::uint64_t position = target;
    if (backOff >= 0.0) {
        position = toNanoseconds(backOff);
    } else if (frameRate > 0.0 && std::isfinite(backOff)) {
        position = 0;
    }
    if (chunks) {
        chunks->skipBefore(target, framePeriodNs(frameRate));
    }
    seek(position);
    forgetPreviousTime(position);

    // Without an index the demuxer cannot tell keyframes, and decoding
    // starts at the first real one after the position: when that is shown
    // after the target, the seek goes back further, a second more each time.
    // (No keyframe at all after the position shows as the end of the stream.)
    std::uint64_t stepBack = GST_SECOND;
    std::uint64_t lastTime = 0;
    for (;;) {
        Queued next;
        const bool pulled = pullTimed(next);
        const bool landedPast = samples.empty() && (!pulled || target < next.timeNs);
        if (landedPast && position > 0 && chunks && chunks->numbered()) {
            position = position > stepBack ? position - stepBack : 0;
            stepBack *= 2;
            seek(position);
            forgetPreviousTime(position);
            continue;
        }
        if (!pulled) {
            break;
        }
        lastTime = next.timeNs;
        if (target < next.timeNs) {
            samples.push_back(std::move(next));
            return;
        }
        if (!samples.empty()) {
            samples.pop_front();
        }
        samples.push_back(std::move(next));
    }

    // End of stream before a frame after the target: the queued frame (the
    // last one) is shown at the target only when the target lies before the
    // end of the stream. An unknown duration never removes it.
    if (duration >= 0.0) {
        const std::uint64_t durationNs = toNanoseconds(duration);
        if (lastTime < durationNs && target >= durationNs && !samples.empty()) {
            samples.pop_front();
        }
    }
}

bool GstReader::convertYuv(const GstVideoInfo& info, GstBuffer* buffer, bool rowMajorInterleaved,
                           void* destination) {
    static const char* const fn = "copyBitmapData";  // the log names the step of delivering a frame
    // A buffer too short for the planes its caps describe is no frame: it is
    // consumed as a failed read, never read beyond its end.
    if (gst_buffer_get_video_meta(buffer) == nullptr && gst_buffer_get_size(buffer) < GST_VIDEO_INFO_SIZE(&info)) {
        QS_GST_WARNING(fn, "Received a buffer of size %lu that does not hold a %lux%lu picture!",
                       static_cast<unsigned long>(gst_buffer_get_size(buffer)), static_cast<unsigned long>(width),
                       static_cast<unsigned long>(height));
        return false;
    }
    FrameMapping map(info, buffer);
    if (!map.mapped()) {
        throw UnexpectedException("Unable to get map from buffer");
    }
    const GstVideoFrame& yuv = map.frame();
    const GstVideoFormatInfo* format = info.finfo;
    YuvPlanes planes;
    planes.y = static_cast<const std::uint8_t*>(GST_VIDEO_FRAME_COMP_DATA(&yuv, GST_VIDEO_COMP_Y));
    planes.u = static_cast<const std::uint8_t*>(GST_VIDEO_FRAME_COMP_DATA(&yuv, GST_VIDEO_COMP_U));
    planes.v = static_cast<const std::uint8_t*>(GST_VIDEO_FRAME_COMP_DATA(&yuv, GST_VIDEO_COMP_V));
    planes.yStride = static_cast<std::size_t>(GST_VIDEO_FRAME_COMP_STRIDE(&yuv, GST_VIDEO_COMP_Y));
    planes.uStride = static_cast<std::size_t>(GST_VIDEO_FRAME_COMP_STRIDE(&yuv, GST_VIDEO_COMP_U));
    planes.vStride = static_cast<std::size_t>(GST_VIDEO_FRAME_COMP_STRIDE(&yuv, GST_VIDEO_COMP_V));
    planes.shiftX = GST_VIDEO_FORMAT_INFO_W_SUB(format, GST_VIDEO_COMP_U);
    planes.shiftY = GST_VIDEO_FORMAT_INFO_H_SUB(format, GST_VIDEO_COMP_U);

    // The stream's own matrix and range; pictures that say nothing are
    // BT.601 (GStreamer fills in BT.709 for HD sizes itself).
    gdouble kr = 0.299;
    gdouble kb = 0.114;
    if (!gst_video_color_matrix_get_Kr_Kb(info.colorimetry.matrix, &kr, &kb)) {
        kr = 0.299;
        kb = 0.114;
    }
    const YuvToRgbMatrix matrix = yuvToRgbMatrix(kr, kb, info.colorimetry.range == GST_VIDEO_COLOR_RANGE_0_255);

    const std::size_t rowLength = width * 3;
    if (rowMajorInterleaved) {
        yuvToRgb24(planes, matrix, width, height, static_cast<std::uint8_t*>(destination), rowLength);
        return true;
    }
    // The frame object turns packed rows into its own layout.
    packedScratch.resize(rowLength * height);
    yuvToRgb24(planes, matrix, width, height, packedScratch.data(), rowLength);
    frame->copy(std::vector<void*>{destination}, packedScratch.data(), false);
    return true;
}

bool GstReader::copyBitmapData(GstSample* sample, bool rowMajorInterleaved, void* destination) {
    static const char* const fn = "copyBitmapData";
    GstBuffer* buffer = gst_sample_get_buffer(sample);  // transfer none
    if (buffer == nullptr) {
        throw UnexpectedException("Unable to get map from buffer");
    }
    if (!frame || destination == nullptr) {
        throw UnexpectedException("No frame to copy into");
    }
    // The caps say what the bytes are; a byte count alone cannot tell a
    // frame of another size from a padded one of the published size.
    GstCaps* caps = gst_sample_get_caps(sample);  // transfer none
    GstVideoInfo info;
    gst_video_info_init(&info);
    const bool known = caps != nullptr && gst_video_info_from_caps(&info, caps);
    const bool planarYuv = known && isPlanarYuv8(info);
    if (!known || (!planarYuv && GST_VIDEO_INFO_FORMAT(&info) != GST_VIDEO_FORMAT_RGB) ||
        static_cast<std::size_t>(GST_VIDEO_INFO_WIDTH(&info)) != width ||
        static_cast<std::size_t>(GST_VIDEO_INFO_HEIGHT(&info)) != height) {
        QS_GST_WARNING(fn, "Received a frame of %dx%d instead of %lux%lu!",
                       GST_VIDEO_INFO_WIDTH(&info), GST_VIDEO_INFO_HEIGHT(&info),
                       static_cast<unsigned long>(width), static_cast<unsigned long>(height));
        return false;
    }

    if (planarYuv) {
        return convertYuv(info, buffer, rowMajorInterleaved, destination);
    }
    const std::vector<void*> destinations{destination};
    const std::size_t frameSize = frame->getFrameSize();
    const std::size_t bufferSize = gst_buffer_get_size(buffer);
    if (bufferSize == frameSize) {
        BufferMapping map(buffer);
        if (!map.mapped()) {
            throw UnexpectedException("Unable to get map from buffer");
        }
        frame->copy(destinations, map.data(), rowMajorInterleaved);
        return true;
    }
    if (bufferSize < frameSize) {
        QS_GST_WARNING(fn, "Received a smaller buffer of size %lu!",
                       static_cast<unsigned long>(bufferSize));
        return false;
    }

    // Larger than packed: rows at the stride of the caps (GStreamer pads each
    // RGB row to a multiple of 4 bytes), or as a video meta lays them out. A
    // buffer too short for that layout is no frame; it is not read beyond
    // its end.
    if (gst_buffer_get_video_meta(buffer) == nullptr && bufferSize < GST_VIDEO_INFO_SIZE(&info)) {
        QS_GST_WARNING(fn, "Received a buffer of size %lu that does not hold %lu padded rows!",
                       static_cast<unsigned long>(bufferSize), static_cast<unsigned long>(height));
        return false;
    }
    FrameMapping map(info, buffer);
    if (!map.mapped()) {
        throw UnexpectedException("Unable to get map from buffer");
    }
    int dimension0 = 0;
    int rows = 0;
    int dimension2 = 0;
    frame->getDimensions(dimension0, rows, dimension2);
    const std::size_t rowLength = static_cast<std::size_t>(dimension0) *
                                  static_cast<std::size_t>(dimension2) *
                                  static_cast<std::size_t>(frame->getBitsPerSample() / 8);
    const std::size_t rowCount = static_cast<std::size_t>(rows);
    const std::size_t stride = map.stride();
    if (rowLength * rowCount != frameSize || stride < rowLength) {
        QS_GST_WARNING(fn, "Received rows of stride %lu for rows of %lu bytes!",
                       static_cast<unsigned long>(stride), static_cast<unsigned long>(rowLength));
        return false;
    }
    // The frame object reads the rows at their stride: no second pass over a
    // packed copy of the whole frame.
    frame->copyRows(destinations, map.data(), stride, rowMajorInterleaved);
    return true;
}

void GstReader::readFrame(bool rowMajorInterleaved, void* destination) {
    if (samples.empty()) {
        if (nextPullFailed) {
            currentTime = std::numeric_limits<double>::infinity();
        } else {
            endOfStream = true;
            checkFrameCount(false);  // a stream that delivered nothing at all
        }
        return;
    }
    try {
        Queued held = samples.front();
        // A sample that is no frame of the published size is consumed but
        // marked as a failed read: its bytes are never handed out as a frame.
        const bool good = copyBitmapData(held.sample.get(), rowMajorInterleaved, destination);
        currentTime = good ? static_cast<double>(held.timeNs) / 1e9
                           : std::numeric_limits<double>::infinity();
        samples.pop_front();
        if (good) {
            ++delivered;
        }
    } catch (const std::exception&) {
        currentTime = std::numeric_limits<double>::infinity();
        return;
    }
    // The frame just copied is good and keeps its time even when the stream
    // fails behind it: the failure shows on the next read instead.
    try {
        Queued next;
        if (pullTimed(next)) {
            samples.push_back(std::move(next));
        } else {
            checkFrameCount(false);
        }
    } catch (const std::exception&) {
        nextPullFailed = true;
        checkFrameCount(true);
    }
}

void GstReader::checkFrameCount(bool failed) {
    if (!countingFromStart) {
        return;
    }
    countingFromStart = false;
    const double duration = getDuration();
    const double expected = duration > 0.0 && frameRate > 0.0 ? std::floor(duration * frameRate + 0.5) : 0.0;
    std::string counts = std::to_string(delivered) + " frames";
    if (expected > 0.0) {
        counts += " of the " + std::to_string(static_cast<std::uint64_t>(expected)) + " its duration holds";
    }
    if (failed) {
        warnings.push_back({"DecoderStopped", "The video decoder stopped with an error after " + counts});
        return;
    }
    // A frame or two less is how some encoders end a stream; a tenth less is
    // a stream that broke off.
    if (expected > 0.0 && static_cast<double>(delivered) < 0.9 * expected) {
        warnings.push_back({"FrameCountMismatch", "The video stream ended after " + counts});
    }
}

double GstReader::getCurrentTime() {
    return currentTime;
}

bool GstReader::isEndOfStream() {
    return endOfStream;
}

}  // namespace qsVideoReader
