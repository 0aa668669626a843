// Four reader devices in one process, on four threads, each reading its own
// file through its own plugin: every frame is what a lone sequential read of
// the same file delivers, and fifty rounds of it leave no threads,
// descriptors or memory behind.

#include "media.hpp"

#include <host/lib/pluginhost.hpp>
#include <mj2k/mj2builder.hpp>

#include <gtest/gtest.h>

#include <dirent.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Delivery {
    std::vector<double> times;
    std::vector<std::uint64_t> hashes;
    std::size_t failures = 0;  // frames with an infinite time or no data

    bool operator==(const Delivery& other) const {
        return times == other.times && hashes == other.hashes && failures == other.failures;
    }
};

std::uint64_t fnv1a(const unsigned char* data, std::uint64_t size) {
    std::uint64_t hash = 0xcbf29ce484222325ull;
    for (std::uint64_t i = 0; i < size; ++i) hash = (hash ^ data[i]) * 0x100000001b3ull;
    return hash;
}

Delivery readThrough(const mmhost::Plugin& plugin, const std::string& file) {
    Delivery out;
    auto device = plugin.createDevice();
    if (!device->initialize(mmhost::toUtf16(file))) {
        ++out.failures;
        return out;
    }
    device->start(std::nullopt, true);
    while (device->isDataAvailable()) {
        mmhost::BufferPtr buffer = device->getData();
        const video::VideoFrame* frame = mmhost::asFrame(buffer);
        if (frame == nullptr) break;
        out.times.push_back(frame->timestamp);
        out.hashes.push_back(fnv1a(frame->buffer->data, frame->buffer->sizeInBytes));
        if (!(frame->timestamp < 1e300)) ++out.failures;
    }
    return out;
}

std::size_t entries(const char* directory) {
    std::size_t count = 0;
    if (DIR* dir = opendir(directory)) {
        while (readdir(dir) != nullptr) ++count;
        closedir(dir);
    }
    return count;
}

std::size_t residentKilobytes() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) return std::stoul(line.substr(6));
    }
    return 0;
}

std::string mj2File() {
    mj2test::MovieLayout layout;
    layout.width = 24;
    layout.height = 16;
    for (std::uint32_t i = 0; i < 6; ++i) {
        layout.samples.push_back(mj2test::encodeJ2k(mj2test::makePicture(24, 16, 3, 8, i)));
    }
    const std::vector<std::uint8_t> bytes = mj2test::writeMovie(layout);
    return plugin_test::scratchFile("movie.mj2", std::string(bytes.begin(), bytes.end()));
}

#if defined(__SANITIZE_ADDRESS__)
// AddressSanitizer keeps up to 256 MB of freed blocks resident on purpose
// (its quarantine); LeakSanitizer checks for leaks in that build instead.
constexpr std::size_t kMemorySlackKb = 320 * 1024;
#elif defined(__SANITIZE_THREAD__)
constexpr std::size_t kMemorySlackKb = 64 * 1024;  // the sanitizer's own bookkeeping grows
#else
constexpr std::size_t kMemorySlackKb = 8 * 1024;
#endif

TEST(ReaderDevicesAtOnce, FourThreadsReadLikeOneAndLeaveNothingBehind) {
    const auto gst = mmhost::Plugin::load(plugin_test::pluginPath("gstplugin"));
    const auto mjpeg = mmhost::Plugin::load(plugin_test::pluginPath("mjpegaviplugin"));
    const auto mj2 = mmhost::Plugin::load(plugin_test::pluginPath("mj2kplugin"));
    struct Job {
        const mmhost::Plugin* plugin;
        std::string file;
        Delivery expected;
    };
    std::vector<Job> jobs{{gst.get(), plugin_test::theoraFile(20), {}},
                          {mjpeg.get(), plugin_test::mjpegAviFile(), {}},
                          {mj2.get(), mj2File(), {}},
                          {gst.get(), plugin_test::chainedOggFile(), {}}};
    for (Job& job : jobs) {
        ASSERT_FALSE(job.file.empty());
        job.expected = readThrough(*job.plugin, job.file);
        ASSERT_GE(job.expected.times.size(), 6u) << job.file;
        EXPECT_EQ(job.expected.failures, 0u) << job.file;
    }
    EXPECT_EQ(jobs[3].expected.times.size(), 20u);  // both parts of the chain

    constexpr int kRounds = 50;
    constexpr int kSettled = 10;  // pools and caches are warm by then
    std::size_t threads = 0, descriptors = 0, memory = 0;
    for (int round = 0; round < kRounds; ++round) {
        std::vector<Delivery> got(jobs.size());
        std::vector<std::thread> workers;
        for (std::size_t i = 0; i < jobs.size(); ++i) {
            workers.emplace_back([&, i] { got[i] = readThrough(*jobs[i].plugin, jobs[i].file); });
        }
        for (auto& worker : workers) worker.join();
        for (std::size_t i = 0; i < jobs.size(); ++i) {
            ASSERT_TRUE(got[i] == jobs[i].expected) << "round " << round << ", " << jobs[i].file;
        }
        if (round == kSettled) {
            threads = entries("/proc/self/task");
            descriptors = entries("/proc/self/fd");
            memory = residentKilobytes();
        }
    }
    // A thread pool may keep an idle worker or two around; it must not grow
    // with the rounds.
    EXPECT_LE(entries("/proc/self/task"), threads + 2);
    EXPECT_LE(entries("/proc/self/fd"), descriptors);
    EXPECT_LE(residentKilobytes(), memory + kMemorySlackKb);
}

}  // namespace
