#include <plugins/mjpegavi/mjpegaviplugin.hpp>

#include <avi/avifile.hpp>
#include <platform/decoders/mjpegavidecoder/mjpegavidecoder.hpp>
#include <plugins/kit/entrypoints.hpp>

#include <vector>

namespace mjpegavireader {

qsVideoReader::IVideoReader* MjpegAviTraits::createReader() {
    return qsVideoReader::createMjpegAviReaderInstance();
}

void MjpegAviTraits::finishInitialize(qsVideoReader::IVideoReader& reader, const std::u16string&,
                                      asyncioplugin::interfaces::PropertyList& outputs) {
    try {
        std::vector<avi::tagRGBQUAD> colormap;
        if (mjpegavidecoder::colormapOfOpenFile(reader, colormap)) {
            std::vector<unsigned char> bytes;
            bytes.reserve(colormap.size() * 3);
            for (const avi::tagRGBQUAD& entry : colormap) {
                bytes.push_back(entry.red);
                bytes.push_back(entry.green);
                bytes.push_back(entry.blue);
            }
            const double entries = static_cast<double>(bytes.size() / 3);
            kit::publishBytes(outputs, "Colormap", std::move(bytes));
            kit::publish<double>(outputs, "NumColormapEntries", entries);
        }
        kit::publish<bool>(outputs, "IsPluginSuccess", true);
    } catch (...) {
        // Dropped by design: the properties not yet published stay missing.
    }
}

}  // namespace mjpegavireader

MM_READER_PLUGIN_ENTRY_POINTS(mjpegavireader::Device, mjpegavireader::PluginInfo)
