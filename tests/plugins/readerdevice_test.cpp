// The shared reader device over a scripted back end: open and publication,
// the catch lists, the three start policies and frame delivery.

#include "fakereader.hpp"

#include <common/exceptions/exceptions.hpp>
#include <host/lib/pluginhost.hpp>
#include <plugins/kit/entrypoints.hpp>
#include <plugins/kit/readerdevice.hpp>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

namespace {

namespace kd = asyncioplugin::kit::device;
namespace ex = multimedia::common::exceptions;
namespace qs = qsVideoReader;
using asyncioplugin::interfaces::IPropertyInfo;
using asyncioplugin::interfaces::PropertyList;
using mmhost::MessageLog;
using mmhost::OwnedProperties;

// The reader every factory below makes; set per test.
std::shared_ptr<fake::Script> gScript;
std::shared_ptr<fake::Journal> gJournal;
bool gFactoryThrows = false;

template <kd::StartPolicy Policy, bool CloseOnDestroy = true>
struct TestTraits : kd::DefaultReaderTraits {
    static constexpr const char* kRegistryKey = "Gstreamer";
    static constexpr const char* kReadFormats[] = {"avi", "ogg", "ogv"};
    static constexpr kd::StartPolicy kStartPolicy = Policy;
    static constexpr bool kCloseOnDestroy = CloseOnDestroy;
    using OpenFailures =
        kd::CatchList<kd::WithMessage<qs::PluginRequirementException, ex::PluginRequirementException>,
                      kd::Becomes<qs::InitializationFailedException, ex::InitializationFailedException>,
                      kd::WithMessage<qs::UnexpectedException, ex::UnexpectedException>,
                      kd::Becomes<qs::ReadFailedException, ex::ReadFailedException>,
                      kd::Otherwise<ex::ReadFailedException>>;
    using ProbeFailures = OpenFailures;
    static qs::IVideoReader* createReader() {
        if (gFactoryThrows) throw qs::PluginRequirementException("no library");
        return new fake::Reader(gScript, gJournal);
    }
};

using PostedDevice = kd::ReaderDevice<TestTraits<kd::StartPolicy::Posted>>;
using SilentDevice = kd::ReaderDevice<TestTraits<kd::StartPolicy::Silent>>;
using ThrowingDevice = kd::ReaderDevice<TestTraits<kd::StartPolicy::Throwing, false>>;
using Info = kd::ReaderPluginInfo<TestTraits<kd::StartPolicy::Posted>>;

class ReaderDeviceTest : public ::testing::Test {
protected:
    void SetUp() override {
        gScript = std::make_shared<fake::Script>();
        gJournal = std::make_shared<fake::Journal>();
        gFactoryThrows = false;
    }
    void TearDown() override {
        gScript.reset();
        gJournal.reset();
    }

    static OwnedProperties openInputs(const std::u16string& name = u"clip.ogv", bool errorOnFail = true) {
        OwnedProperties in;
        in.add<std::u16string>("Filename", name).add<bool>("IsErrorOnInitFail", errorOnFail);
        return in;
    }

    template <class Device>
    void initialize(Device& device, const OwnedProperties& in = openInputs()) {
        outputs.clear();
        device.initialize(in.list(), outputs.list());
    }

    MessageLog host;
    OwnedProperties outputs;
};

struct Expected {
    const char* name;
    enum Kind { Double, Text, Bool } kind;
};

TEST_F(ReaderDeviceTest, SuccessfulOpenPublishesTheThirteenPropertiesInOrderAndType) {
    PostedDevice device(&host);
    initialize(device);
    const Expected expected[] = {
        {"Height", Expected::Double},       {"Width", Expected::Double},          {"FrameRate", Expected::Double},
        {"Duration", Expected::Double},     {"BitsPerPixel", Expected::Double},   {"VideoFormat", Expected::Text},
        {"VideoCodec", Expected::Text},     {"AudioCodec", Expected::Text},       {"NumAudioChannels", Expected::Double},
        {"NumColorChannels", Expected::Double}, {"HasAudio", Expected::Bool},     {"HasVideo", Expected::Bool},
        {"IsPluginSuccess", Expected::Bool},
    };
    ASSERT_EQ(outputs.size(), std::size(expected));
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        const IPropertyInfo* p = outputs.list()[i];
        EXPECT_STREQ(p->getName(), expected[i].name);
        switch (expected[i].kind) {
            case Expected::Double: EXPECT_NE(dynamic_cast<const kd::DoubleProperty*>(p), nullptr) << i; break;
            case Expected::Text: EXPECT_NE(dynamic_cast<const kd::TextProperty*>(p), nullptr) << i; break;
            case Expected::Bool: EXPECT_NE(dynamic_cast<const kd::BoolProperty*>(p), nullptr) << i; break;
        }
    }
    EXPECT_EQ(outputs.get<double>("Height"), 2.0);
    EXPECT_EQ(outputs.get<double>("Width"), 4.0);
    EXPECT_EQ(outputs.get<double>("BitsPerPixel"), 24.0);
    EXPECT_EQ(outputs.get<std::u16string>("VideoCodec"), u"Fake");
    EXPECT_EQ(outputs.get<bool>("IsPluginSuccess"), true);
    EXPECT_EQ(host.size(), 0u);
    EXPECT_EQ(gJournal->lastFileName, u"clip.ogv");
    EXPECT_FALSE(device.isDataAvailable());  // open does not start delivery
}

TEST_F(ReaderDeviceTest, OpenFailuresFollowTheCatchListAndTheErrorFlag) {
    struct Case {
        std::function<void()> fail;
        const char* id;
        const char* text;
    };
    const Case cases[] = {
        {[] { throw qs::PluginRequirementException("needs 1.0"); }, "multimedia:videofile:PluginRequirement",
         "needs 1.0"},
        {[] { throw qs::InitializationFailedException(); }, "multimedia:videofile:InitializationFailed", ""},
        {[] { throw qs::UnexpectedException("odd caps"); }, "multimedia:videofile:Unexpected", "odd caps"},
        {[] { throw qs::ReadFailedException(); }, "multimedia:videofile:ReadFailed", ""},
        {[] { throw qs::SeekFailedException(); }, "multimedia:videofile:ReadFailed", ""},  // not listed
        {[] { throw qs::NoVideoException("none"); }, "multimedia:videofile:ReadFailed", ""},
        {[] { throw std::bad_alloc(); }, "multimedia:videofile:ReadFailed", ""},
        {[] { throw 42; }, "multimedia:videofile:ReadFailed", ""},
    };
    for (const Case& c : cases) {
        gScript->onOpen = c.fail;
        {
            PostedDevice device(&host);
            initialize(device, openInputs(u"x.ogv", true));
            EXPECT_EQ(outputs.size(), 0u) << c.id;
            const auto posted = host.take();
            ASSERT_EQ(posted.size(), 1u) << c.id;
            EXPECT_EQ(posted[0].type, "error");
            EXPECT_EQ(posted[0].id, c.id);
            EXPECT_EQ(posted[0].text, c.text);
        }
        {
            PostedDevice device(&host);
            initialize(device, openInputs(u"x.ogv", false));
            ASSERT_EQ(outputs.size(), 1u) << c.id;
            EXPECT_STREQ(outputs.list()[0]->getName(), "IsPluginSuccess");
            EXPECT_EQ(outputs.get<bool>("IsPluginSuccess"), false);
            EXPECT_EQ(host.size(), 0u);
        }
    }
}

TEST_F(ReaderDeviceTest, FactoryFailureIsReportedWithTheReaderText) {
    gFactoryThrows = true;
    PostedDevice device(&host);
    initialize(device);
    EXPECT_EQ(outputs.size(), 0u);
    const auto posted = host.take();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].id, "multimedia:videofile:PluginRequirement");
    EXPECT_EQ(posted[0].text, "no library");
    // Without a reader nothing can be positioned or read.
    device.start(OwnedProperties().list());
    EXPECT_FALSE(device.isDataAvailable());
    EXPECT_EQ(host.take().at(0).id, "multimedia:videofile:ReadFailed");
    EXPECT_EQ(device.getData(), nullptr);
}

TEST_F(ReaderDeviceTest, MissingOrMistypedInputsTakeTheirDefaults) {
    gScript->onOpen = [] {
        if (gJournal->lastFileName.empty()) throw qs::ReadFailedException();
    };
    {
        // No inputs: empty name, errors posted.
        PostedDevice device(&host);
        initialize(device, OwnedProperties());
        EXPECT_EQ(gJournal->lastFileName, u"");
        EXPECT_EQ(outputs.size(), 0u);
        EXPECT_EQ(host.take().size(), 1u);
    }
    {
        // "Filename" as a bool, "IsErrorOnInitFail" as a double: both absent.
        OwnedProperties in;
        in.add<bool>("Filename", true).add<double>("IsErrorOnInitFail", 0.0);
        PostedDevice device(&host);
        initialize(device, in);
        EXPECT_EQ(gJournal->lastFileName, u"");
        EXPECT_EQ(host.take().size(), 1u);
    }
    {
        // A mistyped first entry hides a well-typed later one; case and prefixes matter.
        OwnedProperties in;
        in.add<bool>("Filename", true).add<std::u16string>("Filename", u"later.ogv");
        in.add<std::u16string>("filename", u"lower.ogv").add<std::u16string>("FilenameX", u"x.ogv");
        PostedDevice device(&host);
        initialize(device, in);
        EXPECT_EQ(gJournal->lastFileName, u"");
        EXPECT_EQ(host.take().size(), 1u);
    }
    {
        // Of two well-typed entries the first wins; null entries are skipped.
        OwnedProperties in;
        in.list().push_back(nullptr);
        in.add<std::u16string>("Filename", u"first.ogv").add<std::u16string>("Filename", u"second.ogv");
        PostedDevice device(&host);
        initialize(device, in);
        EXPECT_EQ(gJournal->lastFileName, u"first.ogv");
        EXPECT_EQ(host.size(), 0u);
    }
}

TEST_F(ReaderDeviceTest, GetterFailurePropagatesWithWhatWasPublished) {
    gScript->onGetDuration = [] { throw qs::UnexpectedException("duration"); };
    PostedDevice device(&host);
    EXPECT_THROW(initialize(device), qs::UnexpectedException);
    ASSERT_EQ(outputs.size(), 3u);  // Height, Width, FrameRate
    EXPECT_STREQ(outputs.list()[2]->getName(), "FrameRate");
    EXPECT_EQ(host.size(), 0u);
}

TEST_F(ReaderDeviceTest, ReinitializeReplacesTheReaderAndAFailedOneLeavesNothingToRead) {
    PostedDevice device(&host);
    initialize(device);
    EXPECT_EQ(gJournal->created, 1);
    initialize(device);
    EXPECT_EQ(gJournal->created, 2);
    EXPECT_EQ(gJournal->destroyed, 1);

    gScript->onOpen = [] { throw qs::ReadFailedException(); };
    initialize(device);
    EXPECT_EQ(gJournal->destroyed, 2);
    host.take();
    // The failed open must not let the device deliver anything.
    device.start(OwnedProperties().list());
    EXPECT_FALSE(device.isDataAvailable());
    EXPECT_EQ(gJournal->startsFromBeginning, 0);
    EXPECT_EQ(device.getData(), nullptr);
}

TEST_F(ReaderDeviceTest, PostedStartChoosesBeginningOrSeekAndPostsFailures) {
    PostedDevice device(&host);
    initialize(device);

    device.start(OwnedProperties().list());  // absent
    OwnedProperties noPosition;
    noPosition.add<double>("ReadPosition", -100.0);
    device.start(noPosition.list());
    OwnedProperties mistyped;
    mistyped.add<bool>("ReadPosition", true);
    device.start(mistyped.list());
    EXPECT_EQ(gJournal->startsFromBeginning, 3);
    EXPECT_TRUE(gJournal->seeks.empty());
    EXPECT_TRUE(device.isDataAvailable());
    EXPECT_FALSE(device.isDone());

    OwnedProperties zero;
    zero.add<double>("ReadPosition", 0.0);
    device.start(zero.list());
    ASSERT_EQ(gJournal->seeks.size(), 1u);
    EXPECT_EQ(gJournal->seeks[0], 0.0);

    gScript->onSeek = [](double) { throw qs::SeekFailedException(); };
    OwnedProperties at;
    at.add<double>("ReadPosition", 1.5);
    device.start(at.list());
    EXPECT_FALSE(device.isDataAvailable());
    EXPECT_TRUE(device.isDone());
    gScript->onSeek = [](double) { throw qs::ReadFailedException(); };
    device.start(at.list());
    gScript->onSeek = [](double) { throw std::runtime_error("other"); };
    device.start(at.list());
    const auto posted = host.take();
    ASSERT_EQ(posted.size(), 3u);
    EXPECT_EQ(posted[0].id, "multimedia:videofile:SeekFailed");
    EXPECT_EQ(posted[1].id, "multimedia:videofile:ReadFailed");
    EXPECT_EQ(posted[2].id, "multimedia:videofile:ReadFailed");
}

TEST_F(ReaderDeviceTest, SilentAndThrowingStartsSeekToTheDefaultPosition) {
    {
        SilentDevice device(&host);
        initialize(device);
        device.start(OwnedProperties().list());
        ASSERT_EQ(gJournal->seeks.size(), 1u);
        EXPECT_EQ(gJournal->seeks[0], 0.0);
        EXPECT_TRUE(device.isDataAvailable());
        gScript->onSeek = [](double) { throw qs::SeekFailedException(); };
        device.start(OwnedProperties().list());
        EXPECT_FALSE(device.isDataAvailable());
        EXPECT_EQ(host.size(), 0u);  // silent
        gScript->onSeek = [](double) { throw 7; };  // not a std::exception: passes
        EXPECT_THROW(device.start(OwnedProperties().list()), int);
    }
    gScript->onSeek = nullptr;
    {
        ThrowingDevice device(&host);
        initialize(device);
        device.start(OwnedProperties().list());
        EXPECT_TRUE(device.isDataAvailable());
        gScript->onSeek = [](double) { throw qs::SeekFailedException(); };
        EXPECT_THROW(device.start(OwnedProperties().list()), qs::SeekFailedException);
        EXPECT_TRUE(device.isDataAvailable());  // left as it was
        EXPECT_EQ(host.size(), 0u);
    }
}

TEST_F(ReaderDeviceTest, EveryFrameHasItsSizeTypeTimeAndLayoutThenEndOfStreamOnce) {
    gScript->width = 5;
    gScript->height = 3;
    gScript->frames = 4;
    PostedDevice device(&host);
    initialize(device);
    OwnedProperties in;
    in.add<bool>("IsOutputRowMajorInterleaved", true);
    device.start(in.list());
    int delivered = 0;
    while (device.isDataAvailable()) {
        mmhost::BufferPtr buffer(device.getData());
        if (!buffer) break;
        video::VideoFrame* frame = mmhost::asFrame(buffer);
        ASSERT_NE(frame, nullptr);
        EXPECT_EQ(buffer->getCount(), 1u);
        ASSERT_NE(frame->buffer, nullptr);
        EXPECT_EQ(frame->buffer->sizeInBytes, 5u * 3u * 3u);
        EXPECT_EQ(frame->buffer->width, 5u);
        EXPECT_EQ(frame->buffer->height, 3u);
        EXPECT_EQ(frame->buffer->numChannels, 3u);
        EXPECT_EQ(frame->buffer->dataType, 3);
        EXPECT_DOUBLE_EQ(frame->timestamp, delivered / 25.0);
        EXPECT_TRUE(frame->isRowMajorInterleaved);
        EXPECT_EQ(frame->buffer->data[44], 0x10 + delivered);
        ++delivered;
    }
    EXPECT_EQ(delivered, 4);
    EXPECT_FALSE(device.isDataAvailable());
    EXPECT_TRUE(device.isDone());
    for (bool layout : gJournal->readLayouts) EXPECT_TRUE(layout);

    // The layout flag holds until the next start.
    device.start(OwnedProperties().list());
    mmhost::BufferPtr again(device.getData());
    ASSERT_NE(mmhost::asFrame(again), nullptr);
    EXPECT_FALSE(mmhost::asFrame(again)->isRowMajorInterleaved);
    EXPECT_FALSE(gJournal->readLayouts.back());
}

TEST_F(ReaderDeviceTest, SizesAreAskedOnEveryFrame) {
    PostedDevice device(&host);
    initialize(device);
    device.start(OwnedProperties().list());
    mmhost::BufferPtr first(device.getData());
    gScript->width = 8;
    mmhost::BufferPtr second(device.getData());
    EXPECT_EQ(mmhost::asFrame(first)->buffer->sizeInBytes, 4u * 2u * 3u);
    EXPECT_EQ(mmhost::asFrame(second)->buffer->sizeInBytes, 8u * 2u * 3u);
}

// A read that throws and one the reader marks with an infinite time are the
// same failure: the frame goes out cleared with an infinite time, and
// delivery ends with it.
TEST_F(ReaderDeviceTest, FailedReadsDeliverAClearedFrameAndEndDelivery) {
    const double inf = std::numeric_limits<double>::infinity();
    gScript->frames = 5;
    gScript->times = {0.0, std::nan(""), 0.08, -inf, 0.16};
    gScript->onRead = [](std::size_t index) {
        if (index == 2) throw std::runtime_error("decoder hiccup");
    };
    PostedDevice device(&host);
    initialize(device);
    const auto expectFailedFrame = [&](const mmhost::BufferPtr& frame) {
        ASSERT_TRUE(frame);
        EXPECT_TRUE(std::isinf(mmhost::asFrame(frame)->timestamp));
        const auto* pixels = mmhost::asFrame(frame)->buffer;
        for (std::uint64_t i = 0; i < pixels->sizeInBytes; ++i) ASSERT_EQ(pixels->data[i], 0) << i;
        EXPECT_FALSE(device.isDataAvailable());
    };
    device.start(OwnedProperties().list());
    mmhost::BufferPtr f0(device.getData());
    mmhost::BufferPtr f1(device.getData());
    ASSERT_TRUE(f1);
    EXPECT_TRUE(std::isnan(mmhost::asFrame(f1)->timestamp));
    EXPECT_TRUE(device.isDataAvailable());  // NaN is no failure mark
    expectFailedFrame(mmhost::BufferPtr(device.getData()));  // readFrame threw

    gScript->onRead = nullptr;
    device.start(OwnedProperties().list());
    for (int i = 0; i < 3; ++i) mmhost::BufferPtr(device.getData());
    expectFailedFrame(mmhost::BufferPtr(device.getData()));  // marked -inf
}

// What a reader says without failing reaches the host as warnings, each once,
// in order, and the frame it came with is still delivered.
TEST_F(ReaderDeviceTest, ReaderWarningsArePostedOnceAfterOpenAndAfterTheirFrame) {
    gScript->frames = 2;
    gScript->pendingWarnings = {{"FrameCountMismatch", "index holds 9 frames"}};
    gScript->onRead = [](std::size_t index) {
        if (index == 1) gScript->pendingWarnings.push_back({"CorruptFrame", "frame 1: bad Huffman code"});
    };
    PostedDevice device(&host);
    initialize(device);
    auto posted = host.take();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].type, "warning");
    EXPECT_EQ(posted[0].id, "multimedia:videofile:FrameCountMismatch");
    EXPECT_EQ(posted[0].text, "index holds 9 frames");

    device.start(OwnedProperties().list());
    mmhost::BufferPtr f0(device.getData());
    EXPECT_TRUE(host.take().empty());
    mmhost::BufferPtr f1(device.getData());
    ASSERT_NE(mmhost::asFrame(f1), nullptr);
    EXPECT_DOUBLE_EQ(mmhost::asFrame(f1)->timestamp, 1 / 25.0);
    posted = host.take();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].id, "multimedia:videofile:CorruptFrame");
    EXPECT_EQ(posted[0].text, "frame 1: bad Huffman code");
    EXPECT_TRUE(device.isDataAvailable());
}

TEST_F(ReaderDeviceTest, AbsurdFrameSizesAreRefusedInsteadOfUnderAllocated) {
    gScript->width = std::size_t{1} << 40;
    gScript->height = std::size_t{1} << 30;
    PostedDevice device(&host);
    initialize(device);
    device.start(OwnedProperties().list());
    EXPECT_THROW(device.getData(), std::bad_alloc);
    EXPECT_TRUE(gJournal->readLayouts.empty());  // the reader never got the buffer
    EXPECT_THROW(kd::frameBytes(std::size_t{1} << 63, 2, 1, 1), std::bad_alloc);
    EXPECT_EQ(kd::frameBytes(640, 480, 3, 1), 921600u);
}

TEST_F(ReaderDeviceTest, StopFromTheHostEndsDeliveryWithoutTouchingTheReader) {
    PostedDevice device(&host);
    initialize(device);
    device.start(OwnedProperties().list());
    const auto reads = gJournal->readLayouts.size();
    device.stop();
    EXPECT_FALSE(device.isDataAvailable());
    EXPECT_TRUE(device.isDone());
    EXPECT_EQ(gJournal->readLayouts.size(), reads);
    device.pause();
    EXPECT_EQ(device.getPollingPeriod(), 0.0);
    EXPECT_EQ(device.getDataSink(), nullptr);
}

TEST_F(ReaderDeviceTest, DestructionClosesOnlyWhenTheVariantSaysSoAndIgnoresErrors) {
    gScript->onClose = [] { throw qs::ReadFailedException(); };
    {
        PostedDevice device(&host);
        initialize(device);
    }
    EXPECT_EQ(gJournal->closes, 1);
    EXPECT_EQ(gJournal->destroyed, 1);
    {
        ThrowingDevice device(&host);
        initialize(device);
    }
    EXPECT_EQ(gJournal->closes, 1);
    EXPECT_EQ(gJournal->destroyed, 2);
}

TEST_F(ReaderDeviceTest, EntryPointMakesADeviceThatAnswersThroughItsFaces) {
    asyncioplugin::interfaces::device::IControl* control = nullptr;
    ASSERT_TRUE(asyncioplugin::kit::createDeviceOf<PostedDevice>(&host, &control));
    ASSERT_NE(control, nullptr);
    EXPECT_FALSE(asyncioplugin::kit::createDeviceOf<PostedDevice>(&host, nullptr));
    auto* source = control->getDataSource();
    ASSERT_NE(source, nullptr);
    EXPECT_TRUE(source->isDone());
    auto* polling = source->getDataSourcePolling();
    ASSERT_NE(polling, nullptr);
    EXPECT_FALSE(polling->isDataAvailable());
    // The interface defaults of the other source slots.
    source->reserved0();
    EXPECT_EQ(source->reserved1(), 0);
    EXPECT_EQ(source->reserved2(), 0);
    EXPECT_EQ(gJournal->created, 0);  // creation opens nothing
    control->destroy();
}

// An Itanium pointer to a virtual member holds 1 + the byte offset of its slot.
template <class F>
std::uintptr_t slotOf(F member) {
    static_assert(sizeof(F) == 2 * sizeof(std::uintptr_t));
    std::uintptr_t words[2];
    std::memcpy(words, &member, sizeof words);
    return (words[0] - 1) / sizeof(void*);
}

TEST_F(ReaderDeviceTest, VirtualSlotsKeepTheHostsOrder) {
    using namespace asyncioplugin::interfaces;
    using namespace asyncioplugin::interfaces::device;
    EXPECT_EQ(slotOf(&IPropertyInfo::getName), 0u);
    EXPECT_EQ(slotOf(&IPropertyInfo::destroy), 1u);
    EXPECT_EQ(slotOf(&IMessageInfo::getType), 0u);
    EXPECT_EQ(slotOf(&IMessageInfo::getMessage), 2u);
    EXPECT_EQ(slotOf(&IMessageInfo::destroy), 3u);
    EXPECT_EQ(slotOf(&IDataBuffer::getCount), 0u);
    EXPECT_EQ(slotOf(&IDataBuffer::destroy), 1u);
    EXPECT_EQ(slotOf(&IControl::initialize), 0u);
    EXPECT_EQ(slotOf(&IControl::start), 3u);
    EXPECT_EQ(slotOf(&IControl::destroy), 6u);
    EXPECT_EQ(slotOf(&IDataSource::getDataSourcePolling), 1u);
    EXPECT_EQ(slotOf(&IDataSource::reserved2), 4u);
    EXPECT_EQ(slotOf(&IDataSourcePolling::getData), 2u);
    EXPECT_EQ(slotOf(&IDeviceHost::postMessage), 0u);
    EXPECT_EQ(slotOf(&multimedia::common::avfileio::IPluginInfo::getPriority), 0u);
    EXPECT_EQ(slotOf(&multimedia::common::avfileio::IPluginInfo::getWriteFormats), 4u);
    // The device's primary table: nine IControl slots, then its five source overriders.
    EXPECT_EQ(slotOf(&PostedDevice::isDone), 9u);
    EXPECT_EQ(slotOf(&PostedDevice::getDataSourcePolling), 10u);
    EXPECT_EQ(slotOf(&PostedDevice::getPollingPeriod), 11u);
    EXPECT_EQ(slotOf(&PostedDevice::isDataAvailable), 12u);
    EXPECT_EQ(slotOf(&PostedDevice::getData), 13u);
}

TEST_F(ReaderDeviceTest, PluginInfoProbesWithAFreshReaderAndMapsFailures) {
    Info info;
    EXPECT_NO_THROW(info.validateReadFile(u"good.ogv"));
    EXPECT_EQ(gJournal->opens, 1);
    EXPECT_EQ(gJournal->closes, 1);
    EXPECT_EQ(gJournal->destroyed, 1);  // no reader left open

    gScript->onOpen = [] { throw qs::UnexpectedException("bad header"); };
    try {
        info.validateReadFile(u"bad.ogv");
        FAIL() << "no exception";
    } catch (const ex::UnexpectedException& e) {
        EXPECT_STREQ(e.name(), "Unexpected");
        EXPECT_STREQ(e.what(), "bad header");
    }
    EXPECT_EQ(gJournal->destroyed, 2);
    gScript->onOpen = [] { throw qs::SeekFailedException(); };
    EXPECT_THROW(info.validateReadFile(u"bad.ogv"), ex::ReadFailedException);
    gScript->onOpen = [] { throw qs::InitializationFailedException(); };
    EXPECT_THROW(info.validateReadFile(u"bad.ogv"), ex::InitializationFailedException);
    gScript->onOpen = nullptr;
    gScript->onClose = [] { throw qs::ReadFailedException(); };
    EXPECT_THROW(info.validateReadFile(u"good.ogv"), ex::ReadFailedException);
    gFactoryThrows = true;
    EXPECT_THROW(info.validateReadFile(u"good.ogv"), ex::PluginRequirementException);

    EXPECT_THROW(info.validateWriteFile(u"out.ogv"), ex::WriteNotSupportedException);
    EXPECT_TRUE(info.getWriteFormats().empty());
    const auto formats = info.getReadFormats();
    ASSERT_EQ(formats.size(), 3u);
    EXPECT_EQ(formats[0].extension, "avi");
    EXPECT_EQ(formats[1].extension, "ogg");
    EXPECT_EQ(formats[2].extension, "ogv");
    EXPECT_EQ(info.getPriority(), multimedia::PluginInfo::PRIORITY_GENERAL);
}

}  // namespace
