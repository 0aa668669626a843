#pragma once
// Transitional: the AVI library's sources still name the old place.
#include <platform/services/i18n/i18n.hpp>
