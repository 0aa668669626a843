// The reader interface as other libraries see it: its virtual slots sit where
// callers dispatch, and a back end in another library (linked or loaded with
// dlopen) is used and deleted through a shared pointer to the interface.

#include <common/crosslib_thrower.hpp>

#include <videoreader/ivideoreader.hpp>

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

using qsVideoReader::IVideoReader;

namespace {

// Slot of a virtual member function in the Itanium C++ ABI: a pointer to a
// virtual member holds 1 + the byte offset of its entry in the virtual table.
// The parameter type pins the exact signature as well.
template <typename MemberFunction>
long slotOf(MemberFunction f) {
    struct {
        std::uintptr_t ptr;
        std::ptrdiff_t adj;
    } rep;
    static_assert(sizeof(f) == sizeof(rep), "Itanium member-function pointer");
    std::memcpy(&rep, &f, sizeof rep);
    if ((rep.ptr & 1) == 0) return -1;  // not virtual
    return static_cast<long>((rep.ptr - 1) / sizeof(void*));
}

// The interface holds no data and is deleted through itself; these hold when
// the file compiles. That deleting through it runs the back end's destructor
// is checked across libraries below.
static_assert(std::is_abstract<IVideoReader>::value, "abstract");
static_assert(std::has_virtual_destructor<IVideoReader>::value, "deleted through the interface");
static_assert(sizeof(IVideoReader) == sizeof(void*), "only the virtual-table pointer");
static_assert(sizeof(qsVideoReader::VideoDataType) == 4, "32-bit sample type");

}  // namespace

TEST(ReaderInterface, OperationsSitInTheirSlots) {
    // Slots 0 and 1 are the two destructors.
    using R = IVideoReader;
    EXPECT_EQ(2, slotOf<void (R::*)(const std::u16string&, bool)>(&R::open));
    EXPECT_EQ(3, slotOf<void (R::*)()>(&R::startFromBeginning));
    EXPECT_EQ(4, slotOf<void (R::*)(double)>(&R::seekToTime));
    EXPECT_EQ(5, slotOf<void (R::*)(bool, void*)>(&R::readFrame));
    EXPECT_EQ(6, slotOf<void (R::*)()>(&R::close));
    EXPECT_EQ(7, slotOf<std::size_t (R::*)()>(&R::getHeight));
    EXPECT_EQ(8, slotOf<std::size_t (R::*)()>(&R::getWidth));
    EXPECT_EQ(9, slotOf<double (R::*)()>(&R::getFrameRate));
    EXPECT_EQ(10, slotOf<double (R::*)()>(&R::getDuration));
    EXPECT_EQ(11, slotOf<unsigned int (R::*)()>(&R::getBitsPerPixel));
    EXPECT_EQ(12, slotOf<std::u16string (R::*)()>(&R::getVideoFormat));
    EXPECT_EQ(13, slotOf<std::u16string (R::*)()>(&R::getVideoCodec));
    EXPECT_EQ(14, slotOf<std::u16string (R::*)()>(&R::getAudioCodec));
    EXPECT_EQ(15, slotOf<double (R::*)()>(&R::getNumAudioChannels));
    EXPECT_EQ(16, slotOf<std::size_t (R::*)()>(&R::getNumColorChannels));
    EXPECT_EQ(17, slotOf<bool (R::*)()>(&R::hasAudio));
    EXPECT_EQ(18, slotOf<bool (R::*)()>(&R::hasVideo));
    EXPECT_EQ(19, slotOf<double (R::*)()>(&R::getCurrentTime));
    EXPECT_EQ(20, slotOf<bool (R::*)()>(&R::isEndOfStream));
    EXPECT_EQ(21, slotOf<bool (R::*)()>(&R::getOpenFlag));
    EXPECT_EQ(22, slotOf<qsVideoReader::VideoDataType (R::*)()>(&R::getVideoDataType));
}

namespace {

struct Backend {
    IVideoReader* (*create)();
    int (*live)();
    const std::type_info* (*interfaceType)();
};

Backend backend(const std::string& side) {
    if (side == "Linked") return {&mmtest_create_reader, &mmtest_live_readers, &mmtest_reader_interface_type};
    static void* handle = dlopen(MMTEST_THROWER_PLUGIN, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) return {nullptr, nullptr, nullptr};
    return {reinterpret_cast<IVideoReader* (*)()>(dlsym(handle, MMTEST_CREATE_READER)),
            reinterpret_cast<int (*)()>(dlsym(handle, MMTEST_LIVE_READERS)),
            reinterpret_cast<const std::type_info* (*)()>(dlsym(handle, MMTEST_READER_INTERFACE_TYPE))};
}

class ReaderAcrossLibraries : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        b = backend(GetParam());
        ASSERT_NE(nullptr, b.create) << dlerror();
        ASSERT_NE(nullptr, b.live);
        ASSERT_NE(nullptr, b.interfaceType);
    }
    Backend b{};
};

}  // namespace

TEST_P(ReaderAcrossLibraries, IsUsedAndDeletedThroughASharedPointer) {
    const int before = b.live();
    {
        std::shared_ptr<IVideoReader> reader(b.create());
        EXPECT_EQ(before + 1, b.live());
        EXPECT_TRUE(typeid(IVideoReader) == *b.interfaceType());

        reader->open(u"clip", false);
        EXPECT_FALSE(reader->getOpenFlag());
        EXPECT_EQ(7u, reader->getHeight());
        EXPECT_EQ(8u, reader->getWidth());
        EXPECT_EQ(9.0, reader->getFrameRate());
        EXPECT_EQ(10.0, reader->getDuration());
        EXPECT_EQ(11u, reader->getBitsPerPixel());
        EXPECT_EQ(u"12", reader->getVideoFormat());
        EXPECT_EQ(u"13", reader->getVideoCodec());
        EXPECT_EQ(u"14", reader->getAudioCodec());
        EXPECT_EQ(15.0, reader->getNumAudioChannels());
        EXPECT_EQ(16u, reader->getNumColorChannels());
        EXPECT_FALSE(reader->hasAudio());
        EXPECT_TRUE(reader->hasVideo());
        EXPECT_EQ(multimedia::common::avbuffer::VIDEO_UINT8, reader->getVideoDataType());

        reader->seekToTime(qsVideoReader::NO_START_TIME);
        std::vector<unsigned char> frame(7 * 8 * 3, 0);
        reader->readFrame(true, frame.data());
        EXPECT_EQ(1, frame[0]);
        EXPECT_TRUE(reader->isEndOfStream());
        reader->startFromBeginning();
        EXPECT_FALSE(reader->isEndOfStream());
        reader->readFrame(false, nullptr);
        EXPECT_TRUE(std::isinf(reader->getCurrentTime()));
        reader->close();
    }
    EXPECT_EQ(before, b.live());  // the deleting destructor ran in the back end
}

TEST_P(ReaderAcrossLibraries, FailuresArriveAsTheReaderFamily) {
    std::shared_ptr<IVideoReader> reader(b.create());
    EXPECT_THROW(reader->open(u"", false), qsVideoReader::InitializationFailedException);
    try {
        reader->open(u"missing", false);
        ADD_FAILURE() << "no exception";
    } catch (const qsVideoReader::VideoReaderException& e) {
        EXPECT_STREQ("no such file: missing", e.what());
        EXPECT_NE(nullptr, dynamic_cast<const qsVideoReader::FileNotFoundException*>(&e));
    }
    EXPECT_THROW(reader->seekToTime(-1.0), qsVideoReader::SeekFailedException);
    EXPECT_THROW(reader->seekToTime(-2.0), std::runtime_error);
}

INSTANTIATE_TEST_SUITE_P(Sides, ReaderAcrossLibraries, ::testing::Values("Linked", "Loaded"),
                         [](const ::testing::TestParamInfo<std::string>& info) { return info.param; });
