// Exceptions thrown in one shared library are caught by type in another: the
// thrower library is reached once through normal linking and once through
// dlopen, as the plugin host loads plugins.

#include "crosslib_thrower.hpp"
#include "exception_catalogue.hpp"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <initializer_list>
#include <string>

namespace ex = multimedia::common::exceptions;
namespace rd = qsVideoReader;

namespace {

using ThrowFn = void (*)(int, const char*);
using CatchFn = int (*)(mmtest_thrower, int);

struct Side {
    const char* label;
    ThrowFn throwCommon;
    ThrowFn throwReader;
    CatchFn catchCommon;
    CatchFn catchReader;
};

Side linkedSide() {
    return {"linked", &mmtest_throw_common, &mmtest_throw_reader, &mmtest_catch_common, &mmtest_catch_reader};
}

// The loaded copy stays loaded for the whole run: exception objects of the
// header-only reader classes use its virtual tables while they live.
Side loadedSide() {
    static void* handle = dlopen(MMTEST_THROWER_PLUGIN, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) return {"loaded", nullptr, nullptr, nullptr, nullptr};
    return {"loaded", reinterpret_cast<ThrowFn>(dlsym(handle, MMTEST_THROW_COMMON)),
            reinterpret_cast<ThrowFn>(dlsym(handle, MMTEST_THROW_READER)),
            reinterpret_cast<CatchFn>(dlsym(handle, MMTEST_CATCH_COMMON)),
            reinterpret_cast<CatchFn>(dlsym(handle, MMTEST_CATCH_READER))};
}

const char kMessage[] = "from the far side \xC3\xA9";

// What a local object of the same class answers, to compare the caught one with.
template <typename T, bool takesMessage>
std::string localWhat() {
    return mmtest::Make<T, takesMessage>::make(kMessage).what();
}

class CrossLibrary : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        side = GetParam() == "Linked" ? linkedSide() : loadedSide();
        ASSERT_NE(nullptr, side.throwCommon) << "cannot load " << MMTEST_THROWER_PLUGIN << ": " << dlerror();
        ASSERT_NE(nullptr, side.throwReader);
        ASSERT_NE(nullptr, side.catchCommon);
        ASSERT_NE(nullptr, side.catchReader);
    }
    Side side{};
};

}  // namespace

TEST_P(CrossLibrary, CommonClassesAreCaughtByTheirOwnTypeOnly) {
    // Class j's catch clause must take the throw of class j and no other.
    int j = 0;
#define MMTEST_CANDIDATE(Stem, kindName, takesMessage)                                     \
    ++j;                                                                          \
    for (int i = 0; i < mmtest::kCommonCount; ++i) {                              \
        bool caught = false;                                                      \
        try {                                                                     \
            side.throwCommon(i, kMessage);                                        \
        } catch (const ex::Stem##Exception& e) {                                            \
            caught = true;                                                        \
            const ex::Stem##Exception local = mmtest::Make<ex::Stem##Exception, takesMessage>::make(kMessage); \
            EXPECT_STREQ(local.name(), e.name());                                 \
            EXPECT_EQ((localWhat<ex::Stem##Exception, takesMessage>()), e.what());          \
        } catch (...) {                                                           \
        }                                                                         \
        EXPECT_EQ(i == j, caught) << #Stem "Exception" << " catching throw number " << i;    \
    }
    MM_COMMON_EXCEPTIONS(MMTEST_CANDIDATE)
#undef MMTEST_CANDIDATE
    EXPECT_EQ(mmtest::kCommonCount - 1, j);
}

TEST_P(CrossLibrary, CommonClassesAreCaughtByTheBaseAndTheStandardTypes) {
    for (int i = 0; i < mmtest::kCommonCount; ++i) {
        SCOPED_TRACE("common exception number " + std::to_string(i));
        std::string name;
        try {
            side.throwCommon(i, kMessage);
        } catch (const ex::Exception& e) {
            name = e.name();
        } catch (...) {
        }
        EXPECT_FALSE(name.empty());

        // Through the standard bases what() still dispatches to the UTF-8 text.
        std::string whatText = "not caught";
        try {
            side.throwCommon(i, kMessage);
        } catch (const std::runtime_error& e) {
            whatText = e.what();
        } catch (...) {
        }
        EXPECT_TRUE(whatText.empty() || whatText == kMessage) << whatText;

        bool caughtAsStd = false;
        try {
            side.throwCommon(i, kMessage);
        } catch (const std::exception&) {
            caughtAsStd = true;
        } catch (...) {
        }
        EXPECT_TRUE(caughtAsStd);
    }
}

TEST_P(CrossLibrary, ReaderClassesAreCaughtByTheirOwnTypeOnly) {
    int j = 0;
#define MMTEST_CANDIDATE(Stem, takesMessage)                                     \
    ++j;                                                                          \
    for (int i = 0; i < mmtest::kReaderCount; ++i) {                              \
        bool caught = false;                                                      \
        try {                                                                     \
            side.throwReader(i, kMessage);                                        \
        } catch (const rd::Stem##Exception& e) {                                            \
            caught = true;                                                        \
            EXPECT_EQ((localWhat<rd::Stem##Exception, takesMessage>()), e.what());          \
        } catch (...) {                                                           \
        }                                                                         \
        EXPECT_EQ(i == j, caught) << #Stem "Exception" << " catching throw number " << i;    \
    }
    MMTEST_READER_EXCEPTIONS(MMTEST_CANDIDATE)
#undef MMTEST_CANDIDATE
    EXPECT_EQ(mmtest::kReaderCount - 1, j);
}

TEST_P(CrossLibrary, ReaderClassesAreCaughtAsAFamilyWithTheirTexts) {
    // Fixed texts of the classes built without a message, by list number.
    const std::string fixed[] = {"", "ReadFailed", "SeekFailed", "InitializationFailed"};
    for (int i = 0; i < mmtest::kReaderCount; ++i) {
        SCOPED_TRACE("reader exception number " + std::to_string(i));
        const std::string expected = (i >= 1 && i <= 3) ? fixed[i] : std::string(kMessage);
        std::string fromBase = "not caught";
        try {
            side.throwReader(i, kMessage);
        } catch (const rd::VideoReaderException& e) {
            fromBase = e.what();
        } catch (...) {
        }
        EXPECT_EQ(expected, fromBase);

        std::string fromRuntime = "not caught";
        try {
            side.throwReader(i, kMessage);
        } catch (const std::runtime_error& e) {
            fromRuntime = e.what();
        } catch (...) {
        }
        EXPECT_EQ(expected, fromRuntime);

        bool caughtAsStd = false;
        try {
            side.throwReader(i, kMessage);
        } catch (const std::exception&) {
            caughtAsStd = true;
        } catch (...) {
        }
        EXPECT_TRUE(caughtAsStd);
    }
}

namespace {
void throwCommonHere(int index) { mmtest::throwCommon(index, kMessage); }
void throwReaderHere(int index) { mmtest::throwReader(index, kMessage); }
}  // namespace

TEST_P(CrossLibrary, TheLibraryCatchesWhatTheTestThrows) {
    // The direction of a plugin catching what a decoder library throws.
    const int all = 1 | 2 | 4 | 8;
    for (int i = 0; i < mmtest::kCommonCount; ++i) {
        EXPECT_EQ(all, side.catchCommon(&throwCommonHere, i)) << "common exception number " << i;
    }
    for (int i = 0; i < mmtest::kReaderCount; ++i) {
        EXPECT_EQ(all, side.catchReader(&throwReaderHere, i)) << "reader exception number " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Sides, CrossLibrary, ::testing::Values("Linked", "Loaded"),
                         [](const ::testing::TestParamInfo<std::string>& info) { return info.param; });

namespace {

// Itanium ABI name of the type information object of a class in a namespace
// path, e.g. ("qsVideoReader", "ReadFailedException").
std::string typeInfoSymbol(std::initializer_list<std::string> path) {
    std::string symbol = "_ZTIN";
    for (const std::string& part : path) symbol += std::to_string(part.size()) + part;
    return symbol + "E";
}

}  // namespace

TEST(CrossLibraryTypeInformation, IsExportedForEveryClass) {
    // Catching by type in another library needs the type information visible
    // in the dynamic symbol table, not only inside the library that made it.
    void* common = dlopen(MMTEST_MMEXCEPTIONS_LIB, RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(nullptr, common) << dlerror();
    EXPECT_NE(nullptr, dlsym(common, typeInfoSymbol({"multimedia", "common", "exceptions", "Exception"}).c_str()));
#define MMTEST_EXPORTED(Stem, kindName, takesMessage)                                                     \
    EXPECT_NE(nullptr,                                                                                     \
              dlsym(common, typeInfoSymbol({"multimedia", "common", "exceptions", #Stem "Exception"}).c_str())) \
        << #Stem;
    MM_COMMON_EXCEPTIONS(MMTEST_EXPORTED)
#undef MMTEST_EXPORTED
    dlclose(common);

    // The reader family is header-only: each library that throws one carries
    // a (weak) exported copy.
    void* thrower = dlopen(MMTEST_THROWER_PLUGIN, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(nullptr, thrower) << dlerror();
    EXPECT_NE(nullptr, dlsym(thrower, typeInfoSymbol({"qsVideoReader", "VideoReaderException"}).c_str()));
    EXPECT_NE(nullptr, dlsym(thrower, typeInfoSymbol({"qsVideoReader", "IVideoReader"}).c_str()));
#define MMTEST_EXPORTED(Stem, takesMessage) \
    EXPECT_NE(nullptr, dlsym(thrower, typeInfoSymbol({"qsVideoReader", #Stem "Exception"}).c_str())) << #Stem;
    MMTEST_READER_EXCEPTIONS(MMTEST_EXPORTED)
#undef MMTEST_EXPORTED
    dlclose(thrower);
}
