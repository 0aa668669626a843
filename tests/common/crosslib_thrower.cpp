// Built with hidden visibility like every library of the project, so only what
// the exception headers export is shared with the test binary.

#include "crosslib_thrower.hpp"
#include "exception_catalogue.hpp"

#define MMTEST_API __attribute__((visibility("default")))

namespace {

namespace ex = multimedia::common::exceptions;
namespace rd = qsVideoReader;

template <typename T, typename Base>
int classify(mmtest_thrower thrower, int index) {
    int found = 0;
    try { thrower(index); } catch (const T&) { found |= 1; } catch (...) {}
    try { thrower(index); } catch (const Base&) { found |= 2; } catch (...) {}
    try { thrower(index); } catch (const std::runtime_error&) { found |= 4; } catch (...) {}
    try { thrower(index); } catch (const std::exception&) { found |= 8; } catch (...) {}
    return found;
}

}  // namespace

extern "C" MMTEST_API void mmtest_throw_common(int index, const char* message) {
    mmtest::throwCommon(index, message);
}

extern "C" MMTEST_API void mmtest_throw_reader(int index, const char* message) {
    mmtest::throwReader(index, message);
}

extern "C" MMTEST_API int mmtest_catch_common(mmtest_thrower thrower, int index) {
    if (index == 0) return classify<ex::Exception, ex::Exception>(thrower, index);
    int i = 1;
#define MMTEST_CATCH(Stem, kindName, takesMessage) \
    if (index == i++) return classify<ex::Stem##Exception, ex::Exception>(thrower, index);
    MM_COMMON_EXCEPTIONS(MMTEST_CATCH)
#undef MMTEST_CATCH
    return -1;
}

extern "C" MMTEST_API int mmtest_catch_reader(mmtest_thrower thrower, int index) {
    if (index == 0) return classify<rd::VideoReaderException, rd::VideoReaderException>(thrower, index);
    int i = 1;
#define MMTEST_CATCH(Stem, takesMessage) \
    if (index == i++) return classify<rd::Stem##Exception, rd::VideoReaderException>(thrower, index);
    MMTEST_READER_EXCEPTIONS(MMTEST_CATCH)
#undef MMTEST_CATCH
    return -1;
}
