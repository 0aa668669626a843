#pragma once
// The plugin kit: everything a plugin or converter shares with its host.
//   interfaces.hpp    the abstract objects and device interfaces (slot orders)
//   properties.hpp    TScalarProperty / TVectorProperty and their lookup
//   messages.hpp      MessageInfo / ErrorInfo
//   videoframe.hpp    video::VideoFrame
//   reporterror.hpp   kMessagePrefix and reportError
//   plugininfo.hpp    IPluginInfo / FormatInfo
//   readerdevice.hpp  the shared reader device and plugin information
//   entrypoints.hpp   createDevice / createPluginInfo

#include <plugins/kit/entrypoints.hpp>
#include <plugins/kit/interfaces.hpp>
#include <plugins/kit/messages.hpp>
#include <plugins/kit/plugininfo.hpp>
#include <plugins/kit/properties.hpp>
#include <plugins/kit/readerdevice.hpp>
#include <plugins/kit/reporterror.hpp>
#include <plugins/kit/videoframe.hpp>
