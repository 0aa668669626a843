// Distinct exception objects are independent: threads formatting their own
// exceptions at once share no state (run under the tsan preset).

#include <common/exceptions/exceptions.hpp>

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace ex = multimedia::common::exceptions;

TEST(CommonExceptionsThreads, DistinctObjectsFormatIndependently) {
    constexpr int kThreads = 4;
    std::vector<std::string> seen(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &seen] {
            const std::string text = "thread " + std::to_string(t) + " \xC3\xA9";
            bool allEqual = true;
            for (int i = 0; i < 2000; ++i) {
                const ex::UnexpectedException e(text);
                allEqual = allEqual && text == e.what() && std::string("Unexpected") == e.name();
            }
            seen[t] = allEqual ? text : "mismatch";
        });
    }
    for (std::thread& th : threads) th.join();
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ("thread " + std::to_string(t) + " \xC3\xA9", seen[t]);
    }
}
