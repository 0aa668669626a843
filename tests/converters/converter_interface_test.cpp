// What both converters share: the binary interface, the entry point, the
// property translations they have in common, and where they differ.

#include "converterloader.hpp"

#include <common/avbuffer/datatypes.hpp>
#include <converters/iconverter.hpp>
#include <plugins/kit/properties.hpp>

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <string>

namespace {

using asyncioplugin::interfaces::IPropertyInfo;
using asyncioplugin::kit::device::TScalarProperty;
using asyncioplugin::kit::device::TVectorProperty;
using convtest::ConverterPtr;
using convtest::IConverter;
using convtest::Plugin;
using convtest::owned;

// Byte offset of a virtual operation in the virtual table. Under the
// Itanium C++ ABI a pointer to a virtual member function holds 1 + that
// offset, which is how the host's dispatch by slot sees it.
template <class F>
std::ptrdiff_t slotOf(F member) {
    static_assert(sizeof(F) == 2 * sizeof(std::ptrdiff_t), "Itanium member pointer expected");
    std::ptrdiff_t raw[2];
    std::memcpy(raw, &member, sizeof raw);
    return (raw[0] - 1) / static_cast<std::ptrdiff_t>(sizeof(void*));
}

TEST(ConverterInterface, SlotsKeepTheirOrder) {
    EXPECT_EQ(slotOf(&IConverter::toFlowmodelData), 0);
    EXPECT_EQ(slotOf(&IConverter::supportsToFlowmodelData), 1);
    EXPECT_EQ(slotOf(&IConverter::fromFlowmodelData), 2);
    EXPECT_EQ(slotOf(&IConverter::supportsFromFlowmodelData), 3);
    EXPECT_EQ(slotOf(&IConverter::toFlowmodelProperty), 4);
    EXPECT_EQ(slotOf(&IConverter::fromFlowmodelProperty), 5);
    EXPECT_EQ(slotOf(&IConverter::convertOpaque), 6);
    EXPECT_EQ(slotOf(&IConverter::destroy), 7);
    // The destructors follow destroy and close the table: the converter is
    // a single pointer to it and carries no data.
    EXPECT_EQ(sizeof(IConverter), sizeof(void*));
}

class BothConverters : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        plugin_ = std::make_unique<Plugin>(GetParam());
        ASSERT_TRUE(plugin_->ok()) << plugin_->error();
        converter_ = plugin_->create();
        ASSERT_NE(converter_, nullptr);
    }
    // The converter goes before the library that holds its code.
    void TearDown() override {
        converter_.reset();
        plugin_.reset();
    }

    std::unique_ptr<Plugin> plugin_;
    ConverterPtr converter_;
};

TEST_P(BothConverters, EntryPointHandsOutIndependentConverters) {
    IConverter* first = nullptr;
    IConverter* second = nullptr;
    EXPECT_EQ(plugin_->entry()(&first), 1);
    EXPECT_EQ(plugin_->entry()(&second), 1);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first, second);
    first->destroy();
    // The other one still works after its sibling is gone.
    EXPECT_TRUE(second->supportsToFlowmodelData());
    second->destroy();
    // A host passing no place to store the converter gets a refusal, not a crash.
    EXPECT_EQ(plugin_->entry()(nullptr), 0);
}

TEST_P(BothConverters, AnnouncesBothDirections) {
    EXPECT_TRUE(converter_->supportsToFlowmodelData());
    EXPECT_TRUE(converter_->supportsFromFlowmodelData());
}

TEST_P(BothConverters, DoubleAndTextPropertiesBecomeValuesAndBack) {
    TScalarProperty<double> rate("FrameRate", 29.97);
    auto rateValue = convtest::own(converter_->toFlowmodelProperty(&rate));
    ASSERT_NE(rateValue, nullptr);
    ASSERT_EQ(rateValue->type(), typeid(double));
    EXPECT_EQ(boost::any_cast<double>(*rateValue), 29.97);

    TScalarProperty<std::u16string> codec("VideoCodec", u"Theora \u00e9");
    auto codecValue = convtest::own(converter_->toFlowmodelProperty(&codec));
    ASSERT_NE(codecValue, nullptr);
    ASSERT_EQ(codecValue->type(), typeid(std::u16string));
    // A copy: changing the property afterwards leaves the value alone.
    codec.value = u"changed";
    EXPECT_EQ(boost::any_cast<std::u16string>(*codecValue), u"Theora \u00e9");

    boost::any duration(12.5);
    auto durationProperty = owned(converter_->fromFlowmodelProperty("Duration", &duration));
    ASSERT_NE(durationProperty, nullptr);
    EXPECT_STREQ(durationProperty->getName(), "Duration");
    auto* asDouble = dynamic_cast<TScalarProperty<double>*>(durationProperty.get());
    ASSERT_NE(asDouble, nullptr);
    EXPECT_EQ(asDouble->value, 12.5);

    boost::any name(std::u16string(u"clip.ogv"));
    auto nameProperty = owned(converter_->fromFlowmodelProperty("Filename", &name));
    ASSERT_NE(nameProperty, nullptr);
    EXPECT_STREQ(nameProperty->getName(), "Filename");
    auto* asText = dynamic_cast<TScalarProperty<std::u16string>*>(nameProperty.get());
    ASSERT_NE(asText, nullptr);
    EXPECT_EQ(asText->value, u"clip.ogv");
    EXPECT_EQ(dynamic_cast<TScalarProperty<double>*>(nameProperty.get()), nullptr);
}

// A property kind no converter knows, defined by the host alone.
class HostOnlyProperty : public IPropertyInfo {
public:
    const char* getName() const override { return "Secret"; }
    void destroy() override { delete this; }
};

TEST_P(BothConverters, UnhandledPropertiesAndValuesGiveNull) {
    EXPECT_EQ(converter_->toFlowmodelProperty(nullptr), nullptr);
    TVectorProperty<unsigned char> colormap("Colormap", {1, 2, 3});
    EXPECT_EQ(converter_->toFlowmodelProperty(&colormap), nullptr);
    HostOnlyProperty foreign;
    EXPECT_EQ(converter_->toFlowmodelProperty(&foreign), nullptr);

    EXPECT_EQ(converter_->fromFlowmodelProperty("X", nullptr), nullptr);
    boost::any empty;
    EXPECT_EQ(converter_->fromFlowmodelProperty("X", &empty), nullptr);
    boost::any integer(42);
    EXPECT_EQ(converter_->fromFlowmodelProperty("X", &integer), nullptr);
    boost::any single(1.5f);
    EXPECT_EQ(converter_->fromFlowmodelProperty("X", &single), nullptr);
    boost::any narrow(std::string("text"));
    EXPECT_EQ(converter_->fromFlowmodelProperty("X", &narrow), nullptr);
    boost::any bytes(std::vector<unsigned char>{1, 2});
    EXPECT_EQ(converter_->fromFlowmodelProperty("X", &bytes), nullptr);
    // A property needs a name; none given is refused rather than dereferenced.
    boost::any fine(1.0);
    EXPECT_EQ(converter_->fromFlowmodelProperty(nullptr, &fine), nullptr);
}

TEST_P(BothConverters, EmptyNamesAndTextsSurvive) {
    boost::any emptyText{std::u16string()};
    auto property = owned(converter_->fromFlowmodelProperty("", &emptyText));
    ASSERT_NE(property, nullptr);
    EXPECT_STREQ(property->getName(), "");
    auto value = convtest::own(converter_->toFlowmodelProperty(property.get()));
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(boost::any_cast<std::u16string>(*value), u"");
}

INSTANTIATE_TEST_SUITE_P(Plugins, BothConverters,
                         ::testing::Values("audioflowconverter", "videoflowconverter"),
                         [](const auto& info) { return std::string(info.param); });

// Where the two converters differ on the same input.
TEST(ConverterDifferences, BoolPropertiesOnlyInVideo) {
    Plugin audioPlugin("audioflowconverter");
    Plugin videoPlugin("videoflowconverter");
    ASSERT_TRUE(audioPlugin.ok()) << audioPlugin.error();
    ASSERT_TRUE(videoPlugin.ok()) << videoPlugin.error();
    auto audio = audioPlugin.create();
    auto video = videoPlugin.create();

    TScalarProperty<bool> flag("IsPluginSuccess", true);
    EXPECT_EQ(audio->toFlowmodelProperty(&flag), nullptr);
    auto value = convtest::own(video->toFlowmodelProperty(&flag));
    ASSERT_NE(value, nullptr);
    ASSERT_EQ(value->type(), typeid(bool));
    EXPECT_TRUE(boost::any_cast<bool>(*value));

    boost::any off(false);
    EXPECT_EQ(audio->fromFlowmodelProperty("HasAudio", &off), nullptr);
    auto property = owned(video->fromFlowmodelProperty("HasAudio", &off));
    ASSERT_NE(property, nullptr);
    auto* asBool = dynamic_cast<TScalarProperty<bool>*>(property.get());
    ASSERT_NE(asBool, nullptr);
    EXPECT_STREQ(asBool->getName(), "HasAudio");
    EXPECT_FALSE(asBool->value);
}

TEST(ConverterDifferences, OpaquePointersAndTheWayBack) {
    Plugin audioPlugin("audioflowconverter");
    Plugin videoPlugin("videoflowconverter");
    ASSERT_TRUE(audioPlugin.ok()) << audioPlugin.error();
    ASSERT_TRUE(videoPlugin.ok()) << videoPlugin.error();
    auto audio = audioPlugin.create();
    auto video = videoPlugin.create();

    int token = 0;
    EXPECT_EQ(audio->convertOpaque(&token), nullptr);
    EXPECT_EQ(video->convertOpaque(&token), &token);
    EXPECT_EQ(video->convertOpaque(nullptr), nullptr);

    // The same well-formed audio list: the audio converter makes a buffer,
    // the video converter never goes back.
    unsigned char samples[4] = {1, 2, 3, 4};
    std::vector<boost::any> list{static_cast<unsigned char*>(samples), 4ul, 1ul,
                                 multimedia::common::avbuffer::AUDIO_UINT8};
    auto buffer = owned(audio->fromFlowmodelData(&list));
    EXPECT_NE(buffer, nullptr);
    EXPECT_EQ(video->fromFlowmodelData(&list), nullptr);
}

}  // namespace
