#pragma once
// Entry points of the test-only library that throws (and catches) every
// exception class from the far side of a shared-library boundary. The same
// source is built twice: once linked into the test, once loaded with dlopen.

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

}

// Symbol names for dlsym.
#define MMTEST_THROW_COMMON "mmtest_throw_common"
#define MMTEST_THROW_READER "mmtest_throw_reader"
#define MMTEST_CATCH_COMMON "mmtest_catch_common"
#define MMTEST_CATCH_READER "mmtest_catch_reader"
