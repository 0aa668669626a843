// The reader: opening and closing, where reads stand, and the one way bytes
// come from the file.
#include <avi/reader.hpp>

#include <algorithm>
#include <cerrno>
#include <limits>

#include <sys/stat.h>
#include <unistd.h>

namespace avi {
namespace detail {

bool Reader::open(const std::string& name) {
    stream.adopt(std::fopen(name.c_str(), "rb"));
    if (!stream.isOpen()) {
        setError(errors::OPEN_FAILED);
        return false;
    }
    struct stat info {};
    if (::fstat(stream.descriptor(), &info) == 0 && info.st_size > 0) fileSize = static_cast<std::uint64_t>(info.st_size);
    parseFile();
    return status.code == errors::NO_ERROR;
}

bool Reader::prepareFrames() {
    verifySupport();
    verifyIndex();
    if (hasVideoStream && videoIndex.empty() && hasAudioStream && audioIndex.empty()) {
        setError(errors::ALL_CHUNKS_MISSING);
        return false;
    }
    return true;
}

void Reader::close() {
    if (!stream.isOpen()) return;
    colormap.clear();
    if (stream.close() != 0) setError(errors::FREAD_FAILED);
    videoFramesRead = 0;
}

void Reader::resetAudio() {
    audioChunkIndex = 0;
    audioBytesRead = 0;
    audioChunkOffset = 0;
}

bool Reader::isVideoKeyFrame(long frame) const {
    if (frame < 0 || static_cast<std::uint64_t>(frame) >= videoKeyFrames.size()) return false;
    return videoKeyFrames[static_cast<std::size_t>(frame)];
}

bool Reader::isVideoFrameDropped(long frame) const {
    if (frame < 0 || static_cast<std::uint64_t>(frame) >= videoIndex.size()) return false;
    return videoIndex[static_cast<std::size_t>(frame)].size == 0;
}

// ---- reading the file ----

std::size_t Reader::readAt(std::uint64_t position, void* buffer, std::size_t length) {
    const int fd = stream.descriptor();
    if (fd < 0 || position > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) return 0;
    auto* out = static_cast<char*>(buffer);
    std::size_t done = 0;
    while (done < length) {
        const ssize_t n = ::pread(fd, out + done, length - done, static_cast<off_t>(position + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

bool Reader::readExact(std::uint64_t position, void* buffer, std::size_t length) {
    return readAt(position, buffer, length) == length;
}

std::size_t Reader::readRecord(std::uint64_t position, std::size_t length, std::vector<char>& storage) {
    // Never more than the file holds, whatever size the file claims.
    const std::uint64_t left = position < fileSize ? fileSize - position : 0;
    storage.resize(static_cast<std::size_t>(std::min<std::uint64_t>(length, left)));
    storage.resize(readAt(position, storage.data(), storage.size()));
    return storage.size();
}

}  // namespace detail
}  // namespace avi
