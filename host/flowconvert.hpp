#pragma once
// The host library moved to host/lib/; this name stays until every includer
// says <host/lib/flowconvert.hpp>.
#include <host/lib/flowconvert.hpp>
