#pragma once
// The host library moved to host/lib/; this name stays until every includer
// says <host/lib/pluginhost.hpp>.
#include <host/lib/pluginhost.hpp>
