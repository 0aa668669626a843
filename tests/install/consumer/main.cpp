// A tiny outside program built against the installed tree only.
#include <avi/avifile.hpp>
#include <platform/i18n/i18n.hpp>

#include <cstdio>
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
    return 0;
}
