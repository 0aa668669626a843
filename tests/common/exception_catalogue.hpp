#pragma once
// Every exception class that crosses a library boundary, as X-macro lists.
// The common family is the library's own list, MM_COMMON_EXCEPTIONS:
// X(Stem, kindName, takes a message). The reader family: X(Stem, takes a
// message), for the class qsVideoReader::Stem##Exception. Shared by the
// throwing library and the tests.

#define MMTEST_READER_EXCEPTIONS(X) \
    X(ReadFailed, false) \
    X(SeekFailed, false) \
    X(InitializationFailed, false) \
    X(Unexpected, true) \
    X(PluginRequirement, true) \
    X(NoVideo, true) \
    X(NonAsciiUnsupported, true) \
    X(BitDepth, true) \
    X(ColorspaceConversion, true) \
    X(FileCorrupt, true) \
    X(FileNotFound, true) \
    X(UnknownCodec, true)

#include <common/exceptions/exceptionlist.hpp>
#include <common/exceptions/exceptions.hpp>
#include <videoreader/videoreaderexceptions.hpp>

#include <stdexcept>
#include <string>

namespace mmtest {

template <typename T, bool takesMessage>
struct Make;
template <typename T>
struct Make<T, true> {
    static T make(const char* message) { return T(message); }
};
template <typename T>
struct Make<T, false> {
    static T make(const char*) { return T(); }
};

// Number of classes in each list, the family base (number 0) included.
#define MMTEST_COUNT(...) +1
constexpr int kCommonCount = 1 MM_COMMON_EXCEPTIONS(MMTEST_COUNT);
constexpr int kReaderCount = 1 MMTEST_READER_EXCEPTIONS(MMTEST_COUNT);
#undef MMTEST_COUNT

// Throws class number `index`: 0 is the family base, then the lists in order.
[[noreturn]] inline void throwCommon(int index, const char* message) {
    namespace ex = multimedia::common::exceptions;
    if (index == 0) throw ex::Exception("Base", message);
    int i = 1;
#define MMTEST_THROW(Stem, kindName, takesMessage) \
    if (index == i++) throw Make<ex::Stem##Exception, takesMessage>::make(message);
    MM_COMMON_EXCEPTIONS(MMTEST_THROW)
#undef MMTEST_THROW
    throw std::logic_error("no common exception number " + std::to_string(index));
}

[[noreturn]] inline void throwReader(int index, const char* message) {
    if (index == 0) throw qsVideoReader::VideoReaderException(message);
    int i = 1;
#define MMTEST_THROW(Stem, takesMessage) \
    if (index == i++) throw Make<qsVideoReader::Stem##Exception, takesMessage>::make(message);
    MMTEST_READER_EXCEPTIONS(MMTEST_THROW)
#undef MMTEST_THROW
    throw std::logic_error("no reader exception number " + std::to_string(index));
}

}  // namespace mmtest
