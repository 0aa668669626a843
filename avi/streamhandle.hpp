#pragma once
// The one stdio stream of an AVI reader or writer.

#include <cstdio>

namespace avi {
namespace detail {

// The one stdio stream of a reader or writer. Reads and writes go through
// its descriptor at explicit positions (pread/pwrite), so the stream's own
// position and buffer are never used; close() reports what fclose says.
class StreamHandle {
public:
    StreamHandle() = default;
    ~StreamHandle() { close(); }
    StreamHandle(const StreamHandle&) = delete;
    StreamHandle& operator=(const StreamHandle&) = delete;

    // Takes ownership of an open stream (null: nothing is open).
    void adopt(std::FILE* stream) {
        close();
        stream_ = stream;
        fd_ = stream ? ::fileno(stream) : -1;
    }
    // Closes the stream; the result of fclose, 0 when nothing was open.
    int close() {
        if (!stream_) return 0;
        std::FILE* s = stream_;
        stream_ = nullptr;
        fd_ = -1;
        return std::fclose(s);
    }
    bool isOpen() const { return stream_ != nullptr; }
    int descriptor() const { return fd_; }

private:
    std::FILE* stream_ = nullptr;
    int fd_ = -1;
};

}  // namespace detail
}  // namespace avi
