#pragma once
// The processor features the SIMD paths choose by, detected once and kept.
// MM_FORCE_PLAIN_CPU=1 in the environment makes every library take its plain
// (scalar) path, so a user or a test can compare both without rebuilding.
// Header-only: each library that includes it keeps one copy, filled on first
// use; the environment is read at that moment, so set it before the process
// starts.

#include <cstdlib>
#include <cstring>

namespace mmcpu {

struct CpuFeatures {
    // What the processor runs, whatever the environment says.
    bool ssse3 = false;
    bool avx2 = false;
    bool avx512vbmi = false;  // with AVX-512 F and BW
    // MM_FORCE_PLAIN_CPU asks for the plain path.
    bool forcePlain = false;
};

inline bool plainPathForced() {
    const char* value = std::getenv("MM_FORCE_PLAIN_CPU");
    return value != nullptr && *value != '\0' && std::strcmp(value, "0") != 0;
}

inline const CpuFeatures& cpuFeatures() {
    static const CpuFeatures features = [] {
        CpuFeatures f;
        __builtin_cpu_init();
        f.ssse3 = __builtin_cpu_supports("ssse3");
        f.avx2 = __builtin_cpu_supports("avx2");
        f.avx512vbmi = f.avx2 && __builtin_cpu_supports("avx512f") &&
                       __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vbmi");
        f.forcePlain = plainPathForced();
        return f;
    }();
    return features;
}

}  // namespace mmcpu
