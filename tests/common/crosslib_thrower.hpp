#pragma once
// Entry points of the test-only library that throws (and catches) every
// exception class from the far side of a shared-library boundary. The same
// source is built twice: once linked into the test, once loaded with dlopen.

#include <typeinfo>

namespace qsVideoReader {
class IVideoReader;
}

extern "C" {

// Throws class number `index` of the common list (0 = Exception itself with
// name "Base") or of the reader list (0 = VideoReaderException). Classes that
// take a message get `message`.
void mmtest_throw_common(int index, const char* message);
void mmtest_throw_reader(int index, const char* message);

// Calls `thrower(index)` and reports how the library could catch what it
// threw: bit 0 by the class's own type, bit 1 by the family base, bit 2 by
// std::runtime_error, bit 3 by std::exception. Tests the direction in which a
// plugin catches what another library throws.
typedef void (*mmtest_thrower)(int index);
int mmtest_catch_common(mmtest_thrower thrower, int index);
int mmtest_catch_reader(mmtest_thrower thrower, int index);


// A fake reader back end: a new object the caller deletes through the
// interface, the count of fake readers alive, and the library's view of the
// interface's type.
qsVideoReader::IVideoReader* mmtest_create_reader();
int mmtest_live_readers();
const std::type_info* mmtest_reader_interface_type();
}

// Symbol names for dlsym.
#define MMTEST_THROW_COMMON "mmtest_throw_common"
#define MMTEST_THROW_READER "mmtest_throw_reader"
#define MMTEST_CATCH_COMMON "mmtest_catch_common"
#define MMTEST_CATCH_READER "mmtest_catch_reader"
#define MMTEST_CREATE_READER "mmtest_create_reader"
#define MMTEST_LIVE_READERS "mmtest_live_readers"
#define MMTEST_READER_INTERFACE_TYPE "mmtest_reader_interface_type"
