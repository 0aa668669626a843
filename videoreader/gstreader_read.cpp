// GstReader: positioning, frame delivery and shutting the pipeline down.

#include <videoreader/gstreader.hpp>

#include <videoreader/gsthandles.hpp>

#include <platform/framekit/framekit.hpp>

#include <gst/app/gstappsink.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace qsVideoReader {

namespace {

constexpr GstClockTime STATE_WAIT_NS = 5000000000ULL;  // 5 seconds
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

std::uint64_t presentationTime(GstSample* sample) {
    GstBuffer* buffer = gst_sample_get_buffer(sample);  // transfer none
    return buffer != nullptr ? GST_BUFFER_PTS(buffer) : GST_CLOCK_TIME_NONE;
}

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
    std::size_t size() const { return info_.size; }

private:
    GstBuffer* buffer_;
    GstMapInfo info_{};
    bool mapped_ = false;
};

}  // namespace

void GstReader::clearSamples() {
    samples.clear();
    nextPullFailed = false;
}

void GstReader::shutdown() {
    if (!pipeline) {
        return;
    }
    if (gst_element_set_state(pipeline.get(), GST_STATE_NULL) == GST_STATE_CHANGE_FAILURE) {
        return;
    }
    const GstStateChangeReturn state =
        gst_element_get_state(pipeline.get(), nullptr, nullptr, STATE_WAIT_NS);
    if (state == GST_STATE_CHANGE_FAILURE || state == GST_STATE_CHANGE_NO_PREROLL) {
        return;
    }
    pipeline.reset();
    appsink = nullptr;
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

void GstReader::startFromBeginning() {
    endOfStream = false;
    try {
        if (started) {
            seekToTime(0.0);
            return;
        }
        SampleHandle sample = pull();
        if (sample) {
            samples.push_back(std::move(sample));
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
    // Whatever happens below, the stream has left its opening position, so
    // a later startFromBeginning must seek back to the start.
    started = true;

    if (seconds == NO_START_TIME) {
        SampleHandle sample = pull();
        if (sample) {
            samples.push_back(std::move(sample));
        }
        return;
    }
    if (std::isnan(seconds)) {
        throw SeekFailedException();
    }

    const std::uint64_t target = toNanoseconds(seconds);
    const double duration = getDuration();
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
    seek(position);

    std::uint64_t lastPts = 0;
    for (;;) {
        SampleHandle sample = pull();
        if (!sample) {
            break;
        }
        const std::uint64_t pts = presentationTime(sample.get());
        lastPts = pts;
        if (target < pts) {
            samples.push_back(std::move(sample));
            return;
        }
        if (!samples.empty()) {
            samples.pop_front();
        }
        samples.push_back(std::move(sample));
    }

    // End of stream before a frame after the target: the queued frame (the
    // last one) is shown at the target only when the target lies before the
    // end of the stream. An unknown duration never removes it.
    if (duration >= 0.0) {
        const std::uint64_t durationNs = toNanoseconds(duration);
        if (lastPts < durationNs && target >= durationNs && !samples.empty()) {
            samples.pop_front();
        }
    }
}

void GstReader::copyBitmapData(GstSample* sample, bool rowMajorInterleaved, void* destination) {
    static const char* const fn = "copyBitmapData";
    GstBuffer* buffer = gst_sample_get_buffer(sample);  // transfer none
    if (buffer == nullptr) {
        throw UnexpectedException("Unable to get map from buffer");
    }
    if (!frame || destination == nullptr) {
        throw UnexpectedException("No frame to copy into");
    }
    BufferMapping map(buffer);
    if (!map.mapped()) {
        throw UnexpectedException("Unable to get map from buffer");
    }
    const std::size_t bufferSize = map.size();
    const std::vector<void*> destinations{destination};
    const std::size_t frameSize = frame->getFrameSize();

    if (bufferSize < frameSize) {
        QS_GST_WARNING(fn, "Received a smaller buffer of size %lu!",
                       static_cast<unsigned long>(bufferSize));
        return;
    }
    if (bufferSize == frameSize) {
        frame->copy(destinations, map.data(), rowMajorInterleaved);
        return;
    }

    // GStreamer pads each RGB row to a multiple of 4 bytes: repack the rows
    // back to back before the layout copy.
    int dimension0 = 0;
    int rows = 0;
    int dimension2 = 0;
    frame->getDimensions(dimension0, rows, dimension2);
    const std::size_t rowLength = static_cast<std::size_t>(dimension0) *
                                  static_cast<std::size_t>(dimension2) *
                                  static_cast<std::size_t>(frame->getBitsPerSample() / 8);
    const std::size_t stride = (rowLength + 3) & ~static_cast<std::size_t>(3);
    const std::size_t rowCount = static_cast<std::size_t>(rows);
    // The padded rows must lie inside the buffer; a buffer of another shape
    // (a size between the packed and the padded frame) is refused rather
    // than read beyond its end.
    if (rowCount > 0 && (rowCount - 1) * stride + rowLength > bufferSize) {
        QS_GST_WARNING(fn, "Received a buffer of size %lu that does not hold %d padded rows!",
                       static_cast<unsigned long>(bufferSize), rows);
        return;
    }
    std::unique_ptr<std::uint8_t[]> scratch(new std::uint8_t[frameSize]);
    for (std::size_t row = 0; row < rowCount; ++row) {
        std::memcpy(scratch.get() + row * rowLength, map.data() + row * stride, rowLength);
    }
    frame->copy(destinations, scratch.get(), rowMajorInterleaved);
}

void GstReader::readFrame(bool rowMajorInterleaved, void* destination) {
    if (samples.empty()) {
        if (nextPullFailed) {
            currentTime = std::numeric_limits<double>::infinity();
        } else {
            endOfStream = true;
        }
        return;
    }
    try {
        SampleHandle held = samples.front();
        copyBitmapData(held.get(), rowMajorInterleaved, destination);
        currentTime = static_cast<double>(presentationTime(held.get())) / 1e9;
        samples.pop_front();
    } catch (const std::exception&) {
        currentTime = std::numeric_limits<double>::infinity();
        return;
    }
    // The frame just copied is good and keeps its time even when the stream
    // fails behind it: the failure shows on the next read instead.
    try {
        SampleHandle next = pull();
        if (next) {
            samples.push_back(std::move(next));
        }
    } catch (const std::exception&) {
        nextPullFailed = true;
    }
}

double GstReader::getCurrentTime() {
    return currentTime;
}

bool GstReader::isEndOfStream() {
    return endOfStream;
}

}  // namespace qsVideoReader
