// mmtool info --json: the same facts as the text form, as one JSON object
// whose members keep their types, so scripts need not parse aligned text:
//   {"file": ..., "avi": {...} | null, "plugin": {...} | null}
#include "info.hpp"
#include "plugintool.hpp"

#include <avi/avifile.hpp>

#include <nlohmann/json.hpp>

#include <iostream>
#include <string>

namespace mmtool {

namespace {

// Members keep the order they are written in, file first, properties as published.
using json = nlohmann::ordered_json;

json indexName(avi::IndexSource s) {
    switch (s) {
        case avi::IndexSource::OpenDML: return "indx";
        case avi::IndexSource::Legacy: return "idx1";
        case avi::IndexSource::Scan: return "scan";
        case avi::IndexSource::None: break;
    }
    return nullptr;
}

json error(avi::File& f) { return {{"code", static_cast<int>(f.getErrorCode())}, {"text", f.getErrorMsg()}}; }

// Null for a file not named .avi; a file the library refuses has only "error".
json aviMember(const std::string& path) {
    if (mmhost::extensionOf(path) != "avi") return nullptr;
    avi::File f;
    if (!f.open(path.c_str(), "r")) return {{"error", error(f)}};
    json avi = json::object();
    if (f.hasVideo()) {
        avi["width"] = f.getVideoWidth();
        avi["height"] = f.getVideoHeight();
        avi["rate"] = f.getVideoFrameRate();
        avi["rate_fraction"] = std::to_string(f.getVideoStreamRate()) + "/" + std::to_string(f.getVideoStreamScale());
        avi["frames"] = f.getVideoTotalFrames();
        avi["depth"] = f.getVideoBitsPerPixel();
        avi["fourcc"] = printableFourCC(f.getVideoFourCC());
        avi["compressed"] = f.isVideoCompressed();
        avi["colormap_entries"] = f.getColormap().size();
        avi["index"] = indexName(f.getVideoIndexSource());
    } else {
        for (const char* key : {"width", "height", "rate", "rate_fraction", "frames", "depth", "fourcc", "compressed",
                                "colormap_entries", "index"})
            avi[key] = nullptr;
    }
    if (f.hasAudio()) {
        avi["audio"] = {{"compressed", f.isAudioCompressed()},
                        {"channels", f.getAudioNumberOfChannels()},
                        {"bits_per_sample", f.getAudioBitsPerSample()},
                        {"sample_rate", f.getAudioSampleRate()},
                        {"bytes", f.getAudioTotalBytes()},
                        {"index", indexName(f.getAudioIndexSource())}};
    } else {
        avi["audio"] = nullptr;
    }
    avi["error"] = error(f);
    return avi;
}

json propertyValue(const asyncioplugin::interfaces::IPropertyInfo& property) {
    namespace kd = asyncioplugin::kit::device;
    if (const auto* p = dynamic_cast<const kd::DoubleProperty*>(&property)) return p->value;
    if (const auto* p = dynamic_cast<const kd::BoolProperty*>(&property)) return p->value;
    if (const auto* p = dynamic_cast<const kd::TextProperty*>(&property)) return mmhost::toUtf8(p->value);
    if (const auto* p = dynamic_cast<const kd::BytesProperty*>(&property)) return p->value;  // an array of numbers
    return nullptr;
}

// Null when no plugin takes the file (the reasons go to stderr).
json pluginMember(const std::string& path, const std::string& forced, bool& success) {
    success = false;
    OpenedFile opened = openWithPlugin(path, forced, true);
    if (!opened.plugin) return nullptr;
    json plugin = {{"name", opened.plugin->name()}, {"priority", nullptr}};
    try {
        plugin["priority"] = mmhost::describe(*opened.plugin).priority;
    } catch (const std::exception& failure) {
        std::cerr << "mmtool: " << opened.plugin->name() << ": " << failure.what() << '\n';
    }
    json properties = json::object();
    json messages = json::array();
    if (opened.device) {
        for (const auto* property : opened.device->properties().list()) {
            if (property != nullptr && property->getName() != nullptr)
                properties[property->getName()] = propertyValue(*property);
        }
        for (const auto& message : opened.device->messages().messages())
            messages.push_back({{"type", message.type}, {"id", message.id}, {"text", message.text}});
        success = opened.device->properties().get<bool>("IsPluginSuccess").value_or(false);
    }
    plugin["properties"] = std::move(properties);
    plugin["messages"] = std::move(messages);
    return plugin;
}

}  // namespace

int printInfoJson(const InfoOptions& options) {
    json document = {{"file", options.file}};
    document["avi"] = aviMember(options.file);
    const bool aviRead = document["avi"].is_object() && document["avi"].contains("width");
    bool pluginRead = false;
    document["plugin"] = pluginMember(options.file, options.plugin, pluginRead);
    // File names and message texts need not be UTF-8; such bytes become U+FFFD.
    std::cout << document.dump(2, ' ', false, json::error_handler_t::replace) << '\n';
    return aviRead || pluginRead ? 0 : 1;
}

}  // namespace mmtool
