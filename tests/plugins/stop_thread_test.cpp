// stop() from another thread while one thread polls: the device's running flag
// is the only state the two share.

#include "media.hpp"

#include <host/lib/pluginhost.hpp>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

TEST(GstPluginThreads, StopFromASecondThreadEndsPolling) {
    const std::string file = plugin_test::theoraFile(300);
    ASSERT_FALSE(file.empty());
    auto plugin = mmhost::Plugin::load(plugin_test::pluginPath("gstplugin"));
    auto device = plugin->createDevice();
    ASSERT_TRUE(device->initialize(mmhost::toUtf16(file)));
    device->start(std::nullopt, true);
    ASSERT_TRUE(device->isDataAvailable());

    std::atomic<int> delivered{0};
    std::thread poller([&] {
        while (device->isDataAvailable()) {
            if (device->getData()) ++delivered;
        }
    });
    while (delivered.load() < 5) std::this_thread::yield();
    auto* control = device->control();
    std::thread stopper([control] { control->stop(); });
    stopper.join();
    poller.join();
    EXPECT_TRUE(device->isDone());
    EXPECT_LT(delivered.load(), 300);
    EXPECT_EQ(device->messages().size(), 0u);
}

}  // namespace
