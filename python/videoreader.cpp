// multimedia.VideoReader and multimedia.Frame: a reader plugin chosen the way
// the reference host chooses one, its device driven frame by frame, and each
// delivered frame handed to NumPy without a copy.
//
// The array of a Frame is a view of the block the device allocated; a capsule
// holding the delivered frame is the array's base, so the block lives exactly
// as long as some array (or view of one) refers to it. Device calls run with
// the interpreter lock released and under the reader's own mutex, so two
// readers decode in parallel and one reader shared by threads is used by one
// thread at a time.
#include "module.hpp"
#include "pluginchoice.hpp"
#include "samplecount.hpp"

#include <avi/avifile.hpp>
#include <common/avbuffer/blocksize.hpp>
#include <host/lib/pluginhost.hpp>
#include <videoreader/ivideoreader.hpp>

#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace mmpython {

namespace {

namespace kd = asyncioplugin::kit::device;
using mmhost::BufferPtr;
using mmhost::PostedMessage;

py::dtype dtypeOf(multimedia::common::avbuffer::VideoDataType type) {
    switch (type) {
    case multimedia::common::avbuffer::VIDEO_UINT8: return py::dtype::of<std::uint8_t>();
    case multimedia::common::avbuffer::VIDEO_UINT16: return py::dtype::of<std::uint16_t>();
    default: throw KindError("ReadFailed", "frames of sample type " + std::to_string(type) + " have no array form");
    }
}

// --- frames ---

struct Frame {
    py::array array;
    double time = 0.0;
    long index = -1;
};

// A delivered frame, not yet handed to Python.
struct Delivered {
    BufferPtr buffer;
    double time = 0.0;
    long index = -1;
};

constexpr const char kFrameCapsule[] = "multimedia.frame";

// The frame a device delivered; raises for a buffer without pixels.
const video::VideoFrame& frameOf(const BufferPtr& buffer) {
    const video::VideoFrame* frame = mmhost::asFrame(buffer);
    if (frame == nullptr || frame->buffer == nullptr || frame->buffer->data == nullptr) {
        throw KindError("ReadFailed", "the device delivered a buffer that is no frame");
    }
    return *frame;
}

// The bytes a delivered block's dimensions take; raises when the block is
// smaller than that, so nothing reads past its end.
template <class Block>
std::size_t pixelBytes(const Block& block) {
    std::uint64_t bytes = 0;
    if (!multimedia::common::avbuffer::blockBytes(bytes, block.height, block.width, block.numChannels,
                                                  multimedia::common::avbuffer::sampleBytes(block.dataType)) ||
        bytes > block.sizeInBytes || bytes == 0) {
        throw KindError("ReadFailed", "the delivered frame is smaller than its dimensions");
    }
    return static_cast<std::size_t>(bytes);
}

// The array over a delivered frame's block; the capsule that is its base
// owns the frame. Needs the interpreter lock.
py::array arrayOf(BufferPtr buffer) {
    const video::VideoFrame& frame = frameOf(buffer);
    const auto& block = *frame.buffer;
    const py::dtype dtype = dtypeOf(block.dataType);
    pixelBytes(block);
    const auto sample = static_cast<std::uint64_t>(dtype.itemsize());
    const auto h = static_cast<py::ssize_t>(block.height), w = static_cast<py::ssize_t>(block.width),
               c = static_cast<py::ssize_t>(block.numChannels), s = static_cast<py::ssize_t>(sample);
    // Interleaved: row-major, the samples of a pixel side by side. Planar:
    // one column-major plane per channel, which is the Fortran order of the
    // same (height, width, channels) shape.
    const std::vector<py::ssize_t> strides = frame.isRowMajorInterleaved
                                                 ? std::vector<py::ssize_t>{w * c * s, c * s, s}
                                                 : std::vector<py::ssize_t>{s, h * s, h * w * s};
    void* data = block.data;
    py::capsule owner(buffer.get(), kFrameCapsule, [](PyObject* capsule) {
        if (void* object = PyCapsule_GetPointer(capsule, kFrameCapsule)) {
            static_cast<asyncioplugin::interfaces::IDataBuffer*>(object)->destroy();
        }
    });
    buffer.release();  // the capsule's now
    return py::array(dtype, {h, w, c}, strides, data, owner);
}

Frame toFrame(Delivered delivered) {
    Frame frame;
    frame.time = delivered.time;
    frame.index = delivered.index;
    frame.array = arrayOf(std::move(delivered.buffer));
    return frame;
}

// --- the reader ---

class VideoReader {
public:
    // `plugin`: empty to choose as the host does, else a plugin name such as
    // "gstplugin" or the path of a plugin library, used without probing.
    VideoReader(const std::string& path, const std::string& layout, const std::string& plugin) : path_(path) {
        if (layout != "interleaved" && layout != "planar") {
            throw py::value_error("layout must be \"interleaved\" or \"planar\", not \"" + layout + "\"");
        }
        interleaved_ = layout == "interleaved";
        std::vector<PostedMessage> messages;
        bool opened = false;
        {
            py::gil_scoped_release unlocked;
            requireReadable(path_);
            try {
                plugin_ = plugin.empty() ? choosePlugin(path_) : loadPlugin(plugin);
                device_ = plugin_->createDevice();
            } catch (const mmhost::HostError& failure) {
                throw KindError("PluginNotLoaded", failure.what());
            }
            try {
                opened = device_->initialize(mmhost::toUtf16(path_));
            } catch (const std::exception& failure) {
                const KindError why = refusal(plugin_->name(), failure);
                throw KindError(why.kind(), path_ + ": " + why.what());
            }
            messages = device_->messages().take();
        }
        deliverMessages(messages, path_);
        if (!opened) throw KindError("ReadFailed", path_ + ": " + plugin_->name() + " could not open the file");
        const auto& outputs = device_->properties();
        width_ = static_cast<long>(outputs.get<double>("Width").value_or(0));
        height_ = static_cast<long>(outputs.get<double>("Height").value_or(0));
        channels_ = static_cast<long>(outputs.get<double>("NumColorChannels").value_or(0));
        frameRate_ = outputs.get<double>("FrameRate").value_or(0);
        duration_ = outputs.get<double>("Duration").value_or(-1.0);
        bitsPerPixel_ = static_cast<long>(outputs.get<double>("BitsPerPixel").value_or(0));
        codec_ = mmhost::toUtf8(outputs.get<std::u16string>("VideoCodec").value_or(u""));
        if (!outputs.get<bool>("HasVideo").value_or(true) || width_ <= 0 || height_ <= 0 || channels_ <= 0) {
            throw KindError("NoVideo", path_ + ": the file holds no video");
        }
    }

    // --- properties ---

    const std::string& path() const { return path_; }
    long width() const { return width_; }
    long height() const { return height_; }
    long channels() const { return channels_; }
    double frameRate() const { return frameRate_; }
    double duration() const { return duration_; }
    long bitsPerPixel() const { return bitsPerPixel_; }
    const std::string& codec() const { return codec_; }
    std::string plugin() const { return plugin_->name(); }
    std::string layout() const { return interleaved_ ? "interleaved" : "planar"; }

    // Samples deeper than 8 bits come as 16-bit integers.
    py::dtype dtype() const {
        const long bitsPerSample = channels_ > 0 ? bitsPerPixel() / channels_ : 8;
        return bitsPerSample > 8 ? py::dtype::of<std::uint16_t>() : py::dtype::of<std::uint8_t>();
    }

    py::dict properties() const {
        py::dict all;
        for (const auto* property : open().properties().list()) {
            if (property == nullptr || property->getName() == nullptr) continue;
            const char* name = property->getName();
            if (const auto* p = dynamic_cast<const kd::DoubleProperty*>(property)) {
                all[name] = p->value;
            } else if (const auto* p = dynamic_cast<const kd::BoolProperty*>(property)) {
                all[name] = p->value;
            } else if (const auto* p = dynamic_cast<const kd::TextProperty*>(property)) {
                all[name] = mmhost::toUtf8(p->value);
            } else if (const auto* p = dynamic_cast<const kd::BytesProperty*>(property)) {
                all[name] = py::bytes(reinterpret_cast<const char*>(p->value.data()), p->value.size());
            }
        }
        return all;
    }

    // The frame count: what the AVI index states, else counted by reading
    // the file through once, unless an iteration to the end has already.
    long length() {
        std::vector<PostedMessage> messages;
        {
            py::gil_scoped_release unlocked;
            std::lock_guard<std::mutex> lock(mutex_);
            open();
            if (count_) return *count_;
            count_ = statedCount();
            if (!count_) {
                startFromBeginning();
                while (readNext()) {
                }
            }
            messages = device_->messages().take();
            for (const PostedMessage& message : messages) {
                if (message.type == "error") count_.reset();  // the count is not known after all
            }
        }
        deliverMessages(messages, path_);
        return *count_;
    }

    // --- reading ---

    // The frame after `next` in display order, or none at the end. Used by
    // iterators, which each remember where they are.
    std::optional<Frame> next(long index) {
        return deliver([&] {
            if (index == 0 && nextIndex_ != 0) {
                startFromBeginning();
            } else if (nextIndex_ != index) {
                positionAt(index);
            }
            std::optional<Delivered> delivered = readNext();
            if (!delivered && index == 0 && count_ && *count_ > 0) {
                throw KindError("ReadFailed", path_ + ": the reader delivered no frame from the start, though the "
                                                      "file holds " + std::to_string(*count_));
            }
            return delivered;
        });
    }

    Frame at(long index) {
        if (index < 0) index += length();
        if (index < 0) throw py::index_error("frame index out of range");
        auto frame = deliver([&] {
            positionAt(index);
            return readNext();
        });
        if (!frame) noFrame(index);
        return std::move(*frame);
    }

    Frame readAt(double seconds) {
        if (!std::isfinite(seconds) || seconds < 0) throw py::value_error("a time is a finite number of seconds >= 0");
        auto frame = deliver([&] {
            start(seconds);
            std::optional<Delivered> delivered = readNext();
            if (delivered) {
                delivered->index = indexOfTime(delivered->time);
                nextIndex_ = delivered->index >= 0 ? delivered->index + 1 : -1;
            }
            return delivered;
        });
        if (!frame) throw py::index_error("no frame is shown at " + std::to_string(seconds) + " s in " + path_);
        return std::move(*frame);
    }

    // One (n, height, width, channels) array of the frames at `indices`, in
    // the order asked. Frames are read in file order, each once.
    py::array batch(std::vector<long> indices) {
        if (indices.empty()) {
            const std::vector<py::ssize_t> shape{0, height_, width_, channels_};
            return py::array(dtype(), shape);
        }
        for (long& index : indices) {
            if (index < 0) index += length();
            if (index < 0) throw py::index_error("frame index out of range");
        }
        std::vector<std::size_t> order(indices.size());
        for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
        std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return indices[a] < indices[b]; });

        std::optional<py::array> out;
        char* base = nullptr;
        std::size_t frameBytes = 0;
        std::vector<py::ssize_t> frameShape;
        std::vector<PostedMessage> messages;
        std::optional<KindError> failure;
        long missing = -1;
        {
            py::gil_scoped_release unlocked;
            std::lock_guard<std::mutex> lock(mutex_);
            try {
                open();
                for (std::size_t k = 0; k < order.size(); ++k) {
                    const long index = indices[order[k]];
                    if (k > 0 && indices[order[k - 1]] == index) {
                        std::memcpy(base + order[k] * frameBytes, base + order[k - 1] * frameBytes, frameBytes);
                        continue;
                    }
                    positionAt(index);
                    std::optional<Delivered> delivered = readNext();
                    if (!delivered) {
                        missing = index;
                        break;
                    }
                    const auto& block = *frameOf(delivered->buffer).buffer;
                    if (!out) {
                        py::gil_scoped_acquire locked;
                        const py::dtype type = dtypeOf(block.dataType);
                        const std::size_t bytes = pixelBytes(block);
                        const std::size_t sample = multimedia::common::avbuffer::sampleBytes(block.dataType);
                        const auto h = static_cast<py::ssize_t>(block.height),
                                   w = static_cast<py::ssize_t>(block.width),
                                   c = static_cast<py::ssize_t>(block.numChannels),
                                   s = static_cast<py::ssize_t>(sample);
                        const auto n = static_cast<py::ssize_t>(indices.size());
                        // Each frame keeps the layout it is delivered in.
                        const std::vector<py::ssize_t> strides =
                            interleaved_ ? std::vector<py::ssize_t>{h * w * c * s, w * c * s, c * s, s}
                                         : std::vector<py::ssize_t>{h * w * c * s, s, h * s, h * w * s};
                        out = py::array(type, {n, h, w, c}, strides);
                        base = static_cast<char*>(out->mutable_data());
                        frameBytes = bytes;
                        frameShape = {h, w, c};
                    } else if (pixelBytes(block) != frameBytes || static_cast<py::ssize_t>(block.height) != frameShape[0] ||
                               static_cast<py::ssize_t>(block.width) != frameShape[1]) {
                        throw KindError("StreamFormatChanged",
                                        path_ + ": frame " + std::to_string(index) +
                                            " has another size than the first frame of the batch");
                    }
                    std::memcpy(base + order[k] * frameBytes, block.data, frameBytes);
                }
            } catch (const KindError& error) {
                failure = error;
            }
            messages = device_->messages().take();
        }
        deliverMessages(messages, path_);
        if (failure) throw *failure;
        if (missing >= 0) noFrame(missing);
        return *out;
    }

    void close() {
        py::gil_scoped_release unlocked;
        std::lock_guard<std::mutex> lock(mutex_);
        device_.reset();
        nextIndex_ = -1;
    }

    bool closed() const { return !device_; }

private:
    // No frame came for `index`: beyond the end, or a reader that lost its way.
    [[noreturn]] void noFrame(long index) const {
        if (count_ && index < *count_) {
            throw KindError("SeekFailed", path_ + ": the reader found no frame " + std::to_string(index) + " of " +
                                              std::to_string(*count_));
        }
        throw py::index_error("frame " + std::to_string(index) + " is beyond the end of " + path_);
    }

    mmhost::Device& open() const {
        if (!device_) throw py::value_error("I/O operation on a closed VideoReader");
        return *device_;
    }

    // Runs `read` (a device conversation) without the interpreter lock, then
    // hands what the device posted to Python and makes the frame.
    template <class Read>
    std::optional<Frame> deliver(Read read) {
        std::optional<Delivered> delivered;
        std::vector<PostedMessage> messages;
        std::optional<KindError> failure;
        {
            py::gil_scoped_release unlocked;
            std::lock_guard<std::mutex> lock(mutex_);
            try {
                open();
                delivered = read();
            } catch (const KindError& error) {
                failure = error;
            }
            if (device_) messages = device_->messages().take();
        }
        deliverMessages(messages, path_);
        if (failure) throw *failure;
        if (!delivered) return std::nullopt;
        return toFrame(std::move(*delivered));
    }

    std::optional<long> statedCount() {
        if (mmhost::extensionOf(path_) == "mj2") return isoVideoSampleCount(path_);
        if (mmhost::extensionOf(path_) != "avi") return std::nullopt;
        avi::File file;
        if (!file.openToGetInformation(path_.c_str()) || !file.hasVideo()) return std::nullopt;
        return static_cast<long>(file.getVideoTotalFrames());
    }

    long indexOfTime(double seconds) const {
        if (frameRate_ <= 0 || !std::isfinite(seconds)) return -1;
        return std::lround(seconds * frameRate_);
    }

    void startFromBeginning() {
        start(std::nullopt);
        nextIndex_ = 0;
        fromStart_ = true;
    }

    // Positions the device; a reader that refuses raises. The device posts
    // what it reports as a message, read by the caller afterwards.
    void start(std::optional<double> seconds) {
        pending_.reset();
        nextIndex_ = -1;
        fromStart_ = false;
        try {
            device_->start(seconds, interleaved_);
        } catch (const qsVideoReader::SeekFailedException& failure) {
            throw KindError("SeekFailed", path_ + ": " + failure.what());
        } catch (const std::exception& failure) {
            throw KindError("ReadFailed", path_ + ": " + failure.what());
        }
    }

    // The next delivered frame, or none at the end of the stream.
    BufferPtr fetch() {
        if (pending_) return std::move(pending_);
        if (!device_->isDataAvailable()) return nullptr;
        const auto started = Clock::now();
        BufferPtr buffer = device_->getData();
        if (!buffer) return nullptr;
        learn(frameSeconds_, started);
        const video::VideoFrame* frame = mmhost::asFrame(buffer);
        if (frame == nullptr) throw KindError("ReadFailed", path_ + ": the device delivered a buffer that is no frame");
        if (video::isFailedFrameTime(frame->timestamp)) {
            const std::string which = nextIndex_ >= 0 ? "frame " + std::to_string(nextIndex_) : "the frame";
            nextIndex_ = -1;
            throw KindError("ReadFailed", path_ + ": " + which + " could not be read");
        }
        return buffer;
    }

    std::optional<Delivered> readNext() {
        const long index = nextIndex_;
        BufferPtr buffer = fetch();
        if (!buffer) {
            // A read from the first frame to the end has counted the frames.
            if (fromStart_ && index >= 0 && !count_) count_ = index;
            nextIndex_ = -1;
            return std::nullopt;
        }
        Delivered delivered;
        delivered.time = mmhost::asFrame(buffer)->timestamp;
        delivered.index = index;
        delivered.buffer = std::move(buffer);
        if (index >= 0) nextIndex_ = index + 1;
        return delivered;
    }

    // Leaves the device so that the next frame it delivers is frame `index`
    // (or the end of the stream). A frame's display number is its time times
    // the frame rate: the seek aims at the middle of the frame's period, and
    // what the reader lands on is checked by the time it reports.
    void positionAt(long index) {
        if (nextIndex_ >= 0 && index >= nextIndex_ && index - nextIndex_ <= readOnLimit()) {
            while (nextIndex_ < index) {
                if (!readNext()) return;
            }
            return;
        }
        if (frameRate_ > 0) {
            const auto started = Clock::now();
            start((static_cast<double>(index) + 0.5) / frameRate_);
            BufferPtr first = fetch();
            if (!first) return;  // beyond the end: the next read finds nothing
            learn(seekSeconds_, started);
            long landed = indexOfTime(mmhost::asFrame(first)->timestamp);
            if (landed == index) {
                pending_ = std::move(first);
                nextIndex_ = index;
                return;
            }
            // Landed early: read on to the frame.
            while (landed >= 0 && landed < index && index - landed <= kLandedShort) {
                BufferPtr buffer = fetch();
                if (!buffer) return;
                landed = indexOfTime(mmhost::asFrame(buffer)->timestamp);
                if (landed == index) {
                    pending_ = std::move(buffer);
                    nextIndex_ = index;
                    return;
                }
            }
        }
        // No frame rate, or times that do not count frames: count from the start.
        startFromBeginning();
        while (nextIndex_ < index) {
            if (!readNext()) return;
        }
    }

    // How far a reader reads on instead of seeking. A seek restarts decoding
    // at a key frame (and a GStreamer pipeline flushes), so frames ahead are
    // read on for as long as that costs less than a seek did so far.
    long readOnLimit() const {
        if (seekSeconds_ <= 0 || frameSeconds_ <= 0) return kReadOn;
        return std::min(kMaxReadOn, static_cast<long>(seekSeconds_ / frameSeconds_));
    }

    using Clock = std::chrono::steady_clock;
    // A running average of the seconds one kind of step took.
    static void learn(double& average, Clock::time_point started) {
        const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
        average = average > 0 ? 0.75 * average + 0.25 * seconds : seconds;
    }

    static constexpr long kReadOn = 1;  // until both costs are known
    // How many frames short of its target a seek may land and be read on from.
    static constexpr long kLandedShort = 4;
    static constexpr long kMaxReadOn = 250;
    double seekSeconds_ = 0.0;   // positioning by a seek, with its first frame
    double frameSeconds_ = 0.0;  // one frame read in order

    std::string path_;
    bool interleaved_ = true;
    std::shared_ptr<mmhost::Plugin> plugin_;
    std::unique_ptr<mmhost::Device> device_;
    long width_ = 0, height_ = 0, channels_ = 0;
    double frameRate_ = 0.0;
    double duration_ = -1.0;
    long bitsPerPixel_ = 0;
    std::string codec_;
    std::optional<long> count_;
    // The display number of the frame the device delivers next; -1 when not known.
    long nextIndex_ = -1;
    // Whether the device has delivered every frame from the first on, in order.
    bool fromStart_ = false;
    // A frame positionAt already took from the device: the next one to deliver.
    BufferPtr pending_;
    std::mutex mutex_;
};

// Iteration from the first frame; each iterator remembers its place, so
// random access between two steps does not disturb it.
struct FrameIterator {
    py::object owner;  // keeps the reader alive
    VideoReader* reader;
    long next = 0;
    bool done = false;
};

}  // namespace

void defineVideoReader(py::module_& m) {
    py::class_<Frame>(m, "Frame", "One delivered frame: its pixels, its time and its display number.")
        .def_readonly("array", &Frame::array,
                      "The pixels as an array of shape (height, width, channels), uint8 or uint16; a view of the "
                      "block the reader delivered, no copy.")
        .def_readonly("time", &Frame::time, "When the frame is shown, in seconds.")
        .def_readonly("index", &Frame::index, "The frame's display number, from 0.")
        .def_property_readonly("shape", [](const Frame& f) { return f.array.attr("shape"); })
        .def(
            "__array__",
            [](const Frame& f, py::object dtype, py::object copy) -> py::object {
                if (!dtype.is_none() && !f.array.dtype().is(py::dtype::from_args(dtype))) {
                    return f.array.attr("astype")(dtype);
                }
                if (!copy.is_none() && copy.cast<bool>()) return f.array.attr("copy")();
                return f.array;
            },
            py::arg("dtype") = py::none(), py::arg("copy") = py::none())
        .def("__repr__", [](const Frame& f) {
            return "<multimedia.Frame index=" + std::to_string(f.index) + " time=" + std::to_string(f.time) +
                   " shape=" + py::repr(f.array.attr("shape")).cast<std::string>() + ">";
        });

    py::class_<FrameIterator>(m, "FrameIterator")
        .def("__iter__", [](FrameIterator& it) -> FrameIterator& { return it; })
        .def("__next__", [](FrameIterator& it) {
            if (it.done) throw py::stop_iteration();
            std::optional<Frame> frame;
            try {
                frame = it.reader->next(it.next);
            } catch (...) {
                it.done = true;
                throw;
            }
            if (!frame) {
                it.done = true;
                throw py::stop_iteration();
            }
            it.next = frame->index + 1;
            return std::move(*frame);
        });

    py::class_<VideoReader>(m, "VideoReader",
                            "A video file read frame by frame through the reader plugin chosen for it.")
        .def(py::init([](const py::object& path, const std::string& layout, const py::object& plugin) {
                 return std::make_unique<VideoReader>(fspath(path), layout,
                                                      plugin.is_none() ? std::string() : fspath(plugin));
             }),
             py::arg("path"), py::arg("layout") = "interleaved", py::arg("plugin") = py::none(),
             "Opens `path` with the plugin that reads it. layout: \"interleaved\" (rows of pixels, the samples of "
             "a pixel side by side) or \"planar\" (one column-major plane per channel, a Fortran-ordered array). "
             "plugin: a plugin name such as \"gstplugin\" or a plugin library's path, to use that one.")
        .def_property_readonly("path", &VideoReader::path)
        .def_property_readonly("width", &VideoReader::width)
        .def_property_readonly("height", &VideoReader::height)
        .def_property_readonly("channels", &VideoReader::channels)
        .def_property_readonly("frame_rate", &VideoReader::frameRate)
        .def_property_readonly("duration", &VideoReader::duration, "Seconds; -1.0 when the file does not say.")
        .def_property_readonly("codec", &VideoReader::codec)
        .def_property_readonly("bits_per_pixel", &VideoReader::bitsPerPixel)
        .def_property_readonly("dtype", &VideoReader::dtype)
        .def_property_readonly("plugin", &VideoReader::plugin)
        .def_property_readonly("layout", &VideoReader::layout)
        .def_property_readonly("properties", &VideoReader::properties, "Every property the plugin published, by name.")
        .def_property_readonly("closed", &VideoReader::closed)
        .def("__len__", &VideoReader::length,
             "The frame count: as the AVI index states it, else counted by reading the file once.")
        .def("__iter__", [](py::object self) { return FrameIterator{self, &self.cast<VideoReader&>()}; })
        .def("__getitem__", &VideoReader::at, py::arg("index"), "The frame with display number `index`.")
        .def("read_at", &VideoReader::readAt, py::arg("seconds"), "The frame shown at `seconds`.")
        .def("get_batch", &VideoReader::batch, py::arg("indices"),
             "The frames with the display numbers `indices` as one (n, height, width, channels) array.")
        .def("close", &VideoReader::close, "Releases the reader; frames already read stay valid.")
        .def("__enter__", [](py::object self) { return self; })
        .def("__exit__", [](VideoReader& reader, py::args) { reader.close(); })
        .def("__repr__", [](const VideoReader& r) {
            return "<multimedia.VideoReader " + py::repr(py::str(r.path())).cast<std::string>() + " " +
                   std::to_string(r.width()) + "x" + std::to_string(r.height()) + " " + r.plugin() + ">";
        });
}

}  // namespace mmpython
