// A tiny outside program built against the installed tree only.
#include <avi/avifile.hpp>
#include <common/avbuffer/avbuffer.hpp>
#include <common/exceptions/exceptions.hpp>
#include <videoreader/gstreader.hpp>
#include <platform/services/i18n/i18n.hpp>

#include <cstdio>
#include <memory>
#include <string>

int main() {
    const std::string s = vq::i18n::ustring_to_utf8(u"ok\u00e9");
    if (s != "ok\xc3\xa9") {
        std::fprintf(stderr, "i18n conversion wrong\n");
        return 1;
    }
    avi::File f;
    if (f.open("/nonexistent/consumer.avi", "r") || f.getErrorCode() != avi::errors::OPEN_FAILED ||
        std::string(f.getErrorMsg()) != "Unable to open AVI file ('/nonexistent/consumer.avi')") {
        std::fprintf(stderr, "avifile open error wrong\n");
        return 1;
    }
    try {
        throw multimedia::common::exceptions::FileNotFoundException();
    } catch (const multimedia::common::exceptions::Exception& e) {
        if (std::string(e.name()) != "FileNotFound") {
            std::fprintf(stderr, "exception name wrong\n");
            return 1;
        }
    }
    multimedia::common::avbuffer::VideoDataBuffer frame(12, 2, 2, multimedia::common::avbuffer::VIDEO_UINT8, 3);
    if (frame.sizeInBytes != 12 || frame.data == nullptr) {
        std::fprintf(stderr, "video buffer wrong\n");
        return 1;
    }
    std::unique_ptr<qsVideoReader::IVideoReader> reader(qsVideoReader::createGstReaderInstance());
    try {
        reader->open(u"/nonexistent/consumer.ogv", false);
        std::fprintf(stderr, "opening a missing file succeeded\n");
        return 1;
    } catch (const qsVideoReader::VideoReaderException&) {
    }
    return 0;
}
