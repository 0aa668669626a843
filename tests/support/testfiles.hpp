#pragma once
// Scratch files and peer tools for the AVI tests: the shared test support
// under the names those tests use.

#include <support/files.hpp>

namespace avitest {

using testsupport::haveTool;
using testsupport::run;
using testsupport::TempDir;

}  // namespace avitest
