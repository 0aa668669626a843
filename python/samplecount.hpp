#pragma once
// The number of samples of the video track of an ISO media file (Motion JPEG
// 2000), as its sample table states it: moov / trak (handler "vide") / mdia /
// minf / stbl / stsz. Reads only box headers and the movie box.

#include <optional>
#include <string>

namespace mmpython {

std::optional<long> isoVideoSampleCount(const std::string& path);

}  // namespace mmpython
