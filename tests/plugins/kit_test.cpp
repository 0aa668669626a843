// The kit's objects on their own: error reports, catch lists, frames, the
// registry's ranking.

#include <common/exceptions/exceptions.hpp>
#include <host/lib/pluginhost.hpp>
#include <platform/services/pluginregistry/pluginregistry.hpp>
#include <plugins/kit/catchlist.hpp>
#include <plugins/kit/messages.hpp>
#include <plugins/kit/reporterror.hpp>
#include <plugins/kit/videoframe.hpp>
#include <videoreader/videoreaderexceptions.hpp>

#include <gtest/gtest.h>

#include <string>

namespace {

namespace kd = asyncioplugin::kit::device;
namespace ex = multimedia::common::exceptions;
namespace qs = qsVideoReader;

TEST(KitReport, ErrorMessageCarriesPrefixNameAndText) {
    mmhost::MessageLog host;
    kd::reportError(ex::NoVideoException(), &host);
    kd::reportError(ex::UnexpectedException("caps went away"), &host);
    kd::reportError(ex::ColorspaceConversionException(), &host);
    const auto posted = host.messages();
    ASSERT_EQ(posted.size(), 3u);
    EXPECT_EQ(posted[0].type, "error");
    EXPECT_EQ(posted[0].id, "multimedia:videofile:NoVideo");
    EXPECT_EQ(posted[0].text, "");
    EXPECT_EQ(posted[1].id, "multimedia:videofile:Unexpected");
    EXPECT_EQ(posted[1].text, "caps went away");
    EXPECT_EQ(posted[2].id, "multimedia:videofile:ColorSpaceConversion");
    // Nowhere to post: dropped, not dereferenced.
    EXPECT_NO_THROW(kd::reportError(ex::ReadFailedException(), nullptr));
}

TEST(KitReport, MessagesAnswerTheirFields) {
    auto* error = new kd::ErrorInfo("id:x", "text");
    asyncioplugin::interfaces::IMessageInfo* message = error;
    EXPECT_STREQ(message->getType(), "error");
    EXPECT_STREQ(message->getId(), "id:x");
    EXPECT_STREQ(message->getMessage(), "text");
    message->destroy();
    kd::MessageInfo info("warning", "w", "t");
    EXPECT_STREQ(info.getType(), "warning");
}

// Which common exception a list picks for a thrown reader exception.
template <class List, class Thrown>
std::string pick(const Thrown& thrown, std::string* text = nullptr) {
    std::string name;
    try {
        throw thrown;
    } catch (...) {
        List::translate(std::current_exception(), [&](const ex::Exception& e) {
            name = e.name();
            if (text != nullptr) *text = e.what();
        });
    }
    return name;
}

TEST(KitCatchList, FirstMatchingEntryWinsAndTheBaseCatchesTheRest) {
    using List = kd::CatchList<kd::Becomes<qs::NoVideoException, ex::NoVideoException>,
                               kd::WithMessage<qs::NonAsciiUnsupportedException, ex::NonAsciiUnsupportedException>,
                               kd::Becomes<qs::VideoReaderException, ex::FileCorruptException>,
                               kd::Becomes<qs::SeekFailedException, ex::SeekFailedException>,  // shadowed
                               kd::Otherwise<ex::ReadFailedException>>;
    std::string text;
    EXPECT_EQ(pick<List>(qs::NoVideoException("n")), "NoVideo");
    EXPECT_EQ(pick<List>(qs::NonAsciiUnsupportedException("name x"), &text), "NonAsciiUnsupported");
    EXPECT_EQ(text, "name x");
    EXPECT_EQ(pick<List>(qs::SeekFailedException()), "FileCorrupt");
    EXPECT_EQ(pick<List>(std::runtime_error("x")), "ReadFailed");
    EXPECT_EQ(pick<List>(17), "ReadFailed");
    // A list without a final entry still answers a read failure.
    using Short = kd::CatchList<kd::Becomes<qs::NoVideoException, ex::NoVideoException>>;
    EXPECT_EQ(pick<Short>(qs::SeekFailedException()), "ReadFailed");
}

TEST(KitFrame, OwnsItsBufferAndCountsOne) {
    auto* frame = new video::VideoFrame();
    EXPECT_EQ(frame->getCount(), 1u);  // even without a buffer
    EXPECT_EQ(frame->timestamp, 0.0);
    EXPECT_FALSE(frame->isRowMajorInterleaved);
    frame->buffer = new multimedia::common::avbuffer::VideoDataBuffer(640 * 480 * 3, 480, 640,
                                                                      multimedia::common::avbuffer::VIDEO_UINT8, 3);
    EXPECT_EQ(frame->getCount(), 1u);
    static_cast<asyncioplugin::interfaces::IDataBuffer*>(frame)->destroy();  // frees the buffer too (ASan)
}

TEST(KitRegistry, SpecialisedPluginsOutrankGStreamerAndUnknownKeysRankZero) {
    auto table = multimedia::PluginInfo::getVideoPluginInfoMap();
    ASSERT_EQ(table.count("Gstreamer"), 1u);
    ASSERT_EQ(table.count("MotionJpegAvi"), 1u);
    ASSERT_EQ(table.count("MotionJpeg2000"), 1u);
    EXPECT_GT(table["MotionJpegAvi"], table["Gstreamer"]);
    EXPECT_GT(table["MotionJpeg2000"], table["Gstreamer"]);
    EXPECT_GT(table["Gstreamer"], 0);
    EXPECT_EQ(table["NoSuchPlugin"], 0);
    EXPECT_EQ(sizeof(multimedia::PluginInfo::PluginPriority), 4u);
    // Every call gives a fresh copy.
    EXPECT_EQ(multimedia::PluginInfo::getVideoPluginInfoMap().count("NoSuchPlugin"), 0u);
}

}  // namespace
