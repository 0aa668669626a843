#pragma once

// Everything is built with hidden visibility; what crosses a library boundary
// (classes with virtual operations, exception type information, plugin
// factories) is marked with MM_EXPORT.
#define MM_EXPORT __attribute__((visibility("default")))
