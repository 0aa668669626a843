// multimedia.avi: avi::File for Python. File reads frames (as stored, or as
// RGB) and audio into arrays; AviWriter writes a 24-bit recording with
// optional PCM audio from arrays. Failures raise multimedia.avi.AviError with
// the library's error code and text.
#include "module.hpp"

#include <avi/avifile.hpp>
#include <avi/bitmaprows.hpp>

#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

namespace mmpython {

namespace {

PyObject* gAviError = nullptr;

[[noreturn]] void raise(const avi::File& file, const std::string& what) {
    const int code = static_cast<int>(file.getErrorCode());
    const std::string text = file.getErrorMsg() != nullptr ? file.getErrorMsg() : "";
    py::object error = py::handle(gAviError)(what + ": " + text + " (error " + std::to_string(code) + ")");
    error.attr("code") = code;
    error.attr("text") = text;
    PyErr_SetObject(gAviError, error.ptr());
    throw py::error_already_set();
}

void check(const avi::File& file, const std::string& what) {
    if (file.getErrorCode() != avi::errors::NO_ERROR) raise(file, what);
}

// The NumPy type of a stored PCM sample: 8-bit samples are unsigned, wider
// ones signed; 24-bit samples widen to int32.
py::dtype audioType(unsigned bits) {
    switch (bits) {
    case 8: return py::dtype::of<std::uint8_t>();
    case 16: return py::dtype::of<std::int16_t>();
    case 24:
    case 32: return py::dtype::of<std::int32_t>();
    default: throw py::value_error("audio of " + std::to_string(bits) + " bits per sample has no array form");
    }
}

class File {
public:
    explicit File(const std::string& path) : path_(path) {
        if (!file_.open(path.c_str(), "r")) raise(file_, path);
    }

    avi::File& file() {
        if (closed_) throw py::value_error("I/O operation on a closed avi.File");
        return file_;
    }

    long frameCount() { return static_cast<long>(file().getVideoTotalFrames()); }

    // The frame as stored: the compressed chunk, or the uncompressed bitmap
    // (bottom-up rows padded to 4 bytes), as one uint8 array.
    py::array_t<std::uint8_t> readRaw(long index) {
        index = frameNumber(index);
        avi::File& f = file();
        const std::uint32_t size = f.getRawVideoFrameSize(index);
        check(f, path_ + ": frame " + std::to_string(index));
        py::array_t<std::uint8_t> raw(static_cast<py::ssize_t>(size));
        f.readVideoFrame(reinterpret_cast<char*>(raw.mutable_data()), index);
        check(f, path_ + ": frame " + std::to_string(index));
        return raw;
    }

    // The frame as (height, width, 3) RGB, top row first. The library's
    // RGB24 form is bottom-up BGR with padded rows; the array is a view of it
    // that reverses both, so nothing is copied after the read.
    py::array readRgb(long index) {
        index = frameNumber(index);
        avi::File& f = file();
        const auto w = static_cast<py::ssize_t>(f.getVideoWidth()), h = static_cast<py::ssize_t>(f.getVideoHeight());
        const py::ssize_t row = 3 * w + static_cast<py::ssize_t>(f.getRgb24PadLength());
        const std::uint32_t size = f.getRGB24VideoFrameSize();
        if (size < static_cast<std::uint64_t>(row * h) || w == 0 || h == 0) {
            f.setError(avi::errors::INVALID_BITS_PER_PIXEL);
            raise(f, path_ + ": frame " + std::to_string(index) + " has no RGB form");
        }
        py::array_t<std::uint8_t> block(static_cast<py::ssize_t>(size));
        f.readRGB24VideoFrame(reinterpret_cast<char*>(block.mutable_data()), index);
        check(f, path_ + ": frame " + std::to_string(index));
        auto* last = block.mutable_data() + (h - 1) * row + 2;  // blue... red of the top row's first pixel
        return py::array(py::dtype::of<std::uint8_t>(), {h, w, py::ssize_t{3}}, {-row, py::ssize_t{3}, py::ssize_t{-1}},
                         last, block);
    }

    // The whole audio stream as (samples, channels) of the stored type.
    py::array readAudio() {
        avi::File& f = file();
        if (!f.hasAudio()) throw py::value_error(path_ + " has no audio stream");
        const unsigned bits = f.getAudioBitsPerSample();
        const unsigned channels = f.getAudioNumberOfChannels();
        const py::dtype type = audioType(bits);
        const std::uint64_t frameBytes = std::uint64_t(bits / 8) * channels;
        if (frameBytes == 0) throw py::value_error(path_ + ": audio without samples");
        f.resetAudio();
        const std::uint64_t total = f.getAudioTotalBytes() / frameBytes * frameBytes;
        std::vector<char> bytes(total);
        if (total > 0) f.readAudio(bytes.data(), static_cast<unsigned long>(total));
        check(f, path_ + ": audio");
        const auto samples = static_cast<py::ssize_t>(total / frameBytes);
        py::array out(type, {samples, static_cast<py::ssize_t>(channels)});
        if (bits != 24) {
            std::memcpy(out.mutable_data(), bytes.data(), total);
            return out;
        }
        auto* wide = static_cast<std::int32_t*>(out.mutable_data());
        for (std::uint64_t i = 0; i < total / 3; ++i) {
            const auto* b = reinterpret_cast<const unsigned char*>(&bytes[3 * i]);
            const std::uint32_t v = b[0] | (b[1] << 8) | (std::uint32_t(b[2]) << 16);
            wide[i] = static_cast<std::int32_t>(v << 8) >> 8;  // sign-extend
        }
        return out;
    }

    void close() {
        if (!closed_) file_.close();
        closed_ = true;
    }

    const std::string& path() const { return path_; }

private:
    // A frame number from Python (negative counts from the end), checked.
    long frameNumber(long index) {
        if (index < 0) index += frameCount();
        if (index < 0 || index >= frameCount()) throw py::index_error("frame index out of range");
        return index;
    }

    std::string path_;
    avi::File file_;
    bool closed_ = false;
};

// A 24-bit recording with optional PCM audio. Audio goes into chunks of one
// frame period's samples; a last partial chunk is completed with silence.
class Writer {
public:
    Writer(const std::string& path, unsigned width, unsigned height, double frameRate,
           std::optional<std::tuple<double, unsigned, unsigned>> audio)
        : path_(path), width_(width), height_(height) {
        if (width == 0 || height == 0 || !(frameRate > 0)) {
            throw py::value_error("a recording needs a width, a height and a frame rate above 0");
        }
        if (!file_.open(path.c_str(), "w")) raise(file_, path);
        file_.setVideoInfo(width, height, frameRate);
        check(file_, path);
        if (audio) {
            const auto [rate, bits, channels] = *audio;
            if (bits != 8 && bits != 16 && bits != 24 && bits != 32) {
                throw py::value_error("audio samples are 8, 16, 24 or 32 bits");
            }
            if (channels == 0 || !(rate > 0)) throw py::value_error("audio needs channels and a rate above 0");
            bits_ = bits;
            channels_ = channels;
            const auto perFrame = static_cast<std::uint64_t>(rate / frameRate + 0.5);
            chunkBytes_ = (perFrame > 0 ? perFrame : 1) * (bits / 8) * channels;
            file_.setAudioInfo(rate, bits, channels, static_cast<unsigned>(chunkBytes_));
            check(file_, path);
        }
        rowBytes_ = static_cast<std::size_t>(avi::bitmapRowBytes(width, 24));
        stored_.assign(rowBytes_ * height, 0);
    }

    ~Writer() {
        try {
            close();
        } catch (...) {
            // A recording being dropped says nothing; close() reports.
        }
    }

    // An RGB frame of (height, width, 3) uint8, top row first.
    void writeFrame(const py::array& frame) {
        requireOpen();
        if (!frame.dtype().is(py::dtype::of<std::uint8_t>()) || frame.ndim() != 3 ||
            frame.shape(0) != height_ || frame.shape(1) != width_ || frame.shape(2) != 3) {
            throw py::value_error("a frame is a uint8 array of shape (" + std::to_string(height_) + ", " +
                                  std::to_string(width_) + ", 3)");
        }
        const auto pixels = frame.unchecked<std::uint8_t, 3>();
        // Stored bottom-up as BGR.
        for (py::ssize_t y = 0; y < height_; ++y) {
            std::uint8_t* row = stored_.data() + std::size_t(height_ - 1 - y) * rowBytes_;
            for (py::ssize_t x = 0; x < width_; ++x) {
                row[3 * x] = pixels(y, x, 2);
                row[3 * x + 1] = pixels(y, x, 1);
                row[3 * x + 2] = pixels(y, x, 0);
            }
        }
        file_.writeVideoFrame(reinterpret_cast<char*>(stored_.data()));
        check(file_, path_ + ": writing a frame");
    }

    // Samples of (n, channels), or (n,) for one channel, of the stored type.
    void writeAudio(const py::array& samples) {
        requireOpen();
        if (chunkBytes_ == 0) throw py::value_error(path_ + " was opened without audio");
        const bool shaped = (samples.ndim() == 2 && samples.shape(1) == channels_) ||
                            (samples.ndim() == 1 && channels_ == 1);
        if (!samples.dtype().is(audioType(bits_)) || !shaped) {
            throw py::value_error("audio is an array of (samples, " + std::to_string(channels_) + ") " +
                                  py::str(audioType(bits_)).cast<std::string>());
        }
        const py::array packed = py::array::ensure(samples, py::array::c_style);
        const auto* data = static_cast<const char*>(packed.data());
        const auto count = static_cast<std::size_t>(packed.size());
        if (bits_ == 24) {
            const auto* wide = reinterpret_cast<const std::int32_t*>(data);
            for (std::size_t i = 0; i < count; ++i) {
                const auto v = static_cast<std::uint32_t>(wide[i]);
                for (int b = 0; b < 3; ++b) pending_.push_back(static_cast<char>((v >> (8 * b)) & 0xFF));
            }
        } else {
            pending_.insert(pending_.end(), data, data + count * (bits_ / 8));
        }
        flushAudio(false);
    }

    void close() {
        if (closed_) return;
        closed_ = true;
        flushAudio(true);
        file_.close();
        check(file_, path_ + ": closing");
    }

private:
    void requireOpen() const {
        if (closed_) throw py::value_error("I/O operation on a closed AviWriter");
    }

    void flushAudio(bool last) {
        std::size_t at = 0;
        for (; pending_.size() - at >= chunkBytes_ && chunkBytes_ > 0; at += chunkBytes_) {
            file_.writeAudio(pending_.data() + at);
            check(file_, path_ + ": writing audio");
        }
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(at));
        if (last && !pending_.empty()) {
            pending_.resize(chunkBytes_, bits_ == 8 ? char(0x80) : char(0));
            file_.writeAudio(pending_.data());
            pending_.clear();
            check(file_, path_ + ": writing audio");
        }
    }

    std::string path_;
    py::ssize_t width_, height_;
    avi::File file_;
    std::vector<std::uint8_t> stored_;
    std::size_t rowBytes_ = 0;
    unsigned bits_ = 0, channels_ = 0;
    std::size_t chunkBytes_ = 0;
    std::vector<char> pending_;
    bool closed_ = false;
};

}  // namespace

void defineAvi(py::module_& m) {
    py::module_ avi = m.def_submodule("avi", "AVI files read and written through the AVI library.");
    // `import multimedia.avi` finds the submodule like a package's module.
    py::module_::import("sys").attr("modules")["multimedia.avi"] = avi;
    gAviError = PyErr_NewExceptionWithDoc("multimedia.avi.AviError",
                                          "A failure of the AVI library: `code` and `text` are its error code and text.",
                                          errorBase().ptr(), nullptr);
    if (gAviError == nullptr) throw py::error_already_set();
    avi.attr("AviError") = py::handle(gAviError);

    py::class_<File>(avi, "File", "An AVI file opened for reading.")
        .def(py::init([](const py::object& path) { return std::make_unique<File>(fspath(path)); }), py::arg("path"))
        .def_property_readonly("path", &File::path)
        .def_property_readonly("width", [](File& f) { return f.file().getVideoWidth(); })
        .def_property_readonly("height", [](File& f) { return f.file().getVideoHeight(); })
        .def_property_readonly("frame_rate", [](File& f) { return f.file().getVideoFrameRate(); })
        .def_property_readonly("frame_count", &File::frameCount)
        .def_property_readonly("bits_per_pixel", [](File& f) { return f.file().getVideoBitsPerPixel(); })
        .def_property_readonly("fourcc", [](File& f) { return py::bytes(f.file().getVideoFourCC()); })
        .def_property_readonly("compressed", [](File& f) { return f.file().isVideoCompressed(); })
        .def_property_readonly("has_video", [](File& f) { return f.file().hasVideo(); })
        .def_property_readonly("has_audio", [](File& f) { return f.file().hasAudio(); })
        .def_property_readonly("audio_rate", [](File& f) { return f.file().getAudioSampleRate(); })
        .def_property_readonly("audio_bits", [](File& f) { return f.file().getAudioBitsPerSample(); })
        .def_property_readonly("audio_channels", [](File& f) { return f.file().getAudioNumberOfChannels(); })
        .def_property_readonly("error_code", [](File& f) { return static_cast<int>(f.file().getErrorCode()); })
        .def_property_readonly("error_text", [](File& f) { return std::string(f.file().getErrorMsg()); })
        .def("__len__", &File::frameCount)
        .def("read_frame", &File::readRgb, py::arg("index"), "Frame `index` as (height, width, 3) RGB, top row first.")
        .def("read_raw_frame", &File::readRaw, py::arg("index"), "Frame `index` as stored, as one uint8 array.")
        .def("read_audio", &File::readAudio, "The audio stream as (samples, channels) of the stored sample type.")
        .def("close", &File::close)
        .def("__enter__", [](py::object self) { return self; })
        .def("__exit__", [](File& f, py::args) { f.close(); });

    py::class_<Writer>(avi, "AviWriter", "A new uncompressed 24-bit AVI recording, with optional PCM audio.")
        .def(py::init([](const py::object& path, unsigned width, unsigned height, double frameRate,
                         std::optional<std::tuple<double, unsigned, unsigned>> audio) {
                 return std::make_unique<Writer>(fspath(path), width, height, frameRate, audio);
             }),
             py::arg("path"), py::arg("width"), py::arg("height"), py::arg("frame_rate"),
             py::arg("audio") = py::none(), "audio: (sample rate, bits per sample, channels), or None.")
        .def("write_frame", &Writer::writeFrame, py::arg("frame"), "An RGB frame of (height, width, 3) uint8.")
        .def("write_audio", &Writer::writeAudio, py::arg("samples"),
             "PCM samples of (n, channels): uint8 for 8 bits, int16 for 16, int32 for 24 and 32.")
        .def("close", &Writer::close, "Finishes the file: indexes and headers.")
        .def("__enter__", [](py::object self) { return self; })
        .def("__exit__", [](Writer& w, py::args) { w.close(); });
}

}  // namespace mmpython
