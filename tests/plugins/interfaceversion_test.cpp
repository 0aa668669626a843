// The host loads only plugins built for its interface version.

#include <host/lib/pluginhost.hpp>
#include <plugins/kit/interfaceversion.hpp>

#include <gtest/gtest.h>

#include <string>

namespace {

std::string loadFailure(const std::string& path) {
    try {
        mmhost::Plugin::load(path);
    } catch (const mmhost::HostError& e) {
        return e.what();
    }
    return "loaded";
}

TEST(PluginInterfaceVersion, APluginWithoutOrWithAnotherVersionIsRefusedSayingWhy) {
    const std::string current = std::to_string(asyncioplugin::kit::kPluginInterfaceVersion);

    const std::string missing = loadFailure(MMTEST_UNVERSIONED_PLUGIN);
    EXPECT_NE(missing.find("exports no plugin interface version"), std::string::npos) << missing;
    EXPECT_NE(missing.find("this host uses version " + current), std::string::npos) << missing;

    const std::string other = loadFailure(MMTEST_OTHER_VERSION_PLUGIN);
    EXPECT_NE(other.find("built for plugin interface version 999; this host uses version " + current),
              std::string::npos)
        << other;
}

}  // namespace
