// Decoding ahead on a worker thread: frames stay exact and in order whatever
// the caller does between reads (seeks, restarts, closing, reopening,
// destroying the reader while the next frame is being decoded), and the
// device's stop may come from another thread while frames are delivered.

#include "common.hpp"

#include <atomic>
#include <thread>

using namespace mj2test;

namespace {

std::vector<std::vector<std::uint8_t>> expectedFrames(const std::vector<std::vector<std::uint8_t>>& codestreams) {
    std::vector<std::vector<std::uint8_t>> out;
    for (const auto& cs : codestreams) out.push_back(asBytes(expectedFrame<std::uint8_t>(decodeJ2k(cs.data(), cs.size()), 3, true)));
    return out;
}

TEST(Mj2kDecodeAhead, SeeksRestartsAndClosesBetweenReadsKeepFramesExact) {
    std::vector<std::vector<std::uint8_t>> codestreams;
    const std::string path = writeTemp("ahead.mj2", writeMovie(simpleMovie(64, 48, 3, 8, 8, &codestreams)));
    const auto want = expectedFrames(codestreams);

    ReaderPtr r = openFile(path);
    // The order of reads: forwards, then jumps that throw the frame decoded
    // ahead away, then the same frame twice in a row.
    const int order[] = {0, 1, 2, 5, 6, 3, 3, 7, 0, 4};
    for (int k : order) {
        r->seekToTime(k * 0.04);
        EXPECT_EQ(readOne(*r, true), want[k]) << "frame " << k;
        EXPECT_DOUBLE_EQ(r->getCurrentTime(), k * 0.04);
    }
    r->startFromBeginning();
    for (std::size_t i = 0; i < want.size(); ++i) EXPECT_EQ(readOne(*r, true), want[i]) << "frame " << i;
    readOne(*r, true);
    EXPECT_TRUE(r->isEndOfStream());

    // Closed and reopened while the next frame is on its way.
    r->startFromBeginning();
    readOne(*r, true);
    r->close();
    r->close();
    r->open(u16(path), false);
    r->seekToTime(0.0);
    EXPECT_EQ(readOne(*r, true), want[0]);
    EXPECT_EQ(readOne(*r, true), want[1]);
    // Destroyed while decoding ahead.
    r.reset();
}

TEST(Mj2kDecodeAhead, ManyReadersAtOnce) {
    std::vector<std::vector<std::uint8_t>> codestreams;
    const std::string path = writeTemp("ahead-many.mj2", writeMovie(simpleMovie(40, 24, 3, 8, 6, &codestreams)));
    const auto want = expectedFrames(codestreams);
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t)
        threads.emplace_back([&, t] {
            ReaderPtr r = openFile(path);
            for (int pass = 0; pass < 3; ++pass) {
                r->seekToTime(((t + pass) % 3) * 0.04);
                for (std::size_t i = (t + pass) % 3; i < want.size(); ++i)
                    if (readOne(*r, true) != want[i]) ++wrong;
            }
        });
    for (auto& th : threads) th.join();
    EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
