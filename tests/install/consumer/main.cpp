// A tiny outside program built against the installed tree only.
#include <platform/i18n/i18n.hpp>

#include <cstdio>

int main() {
    const std::string s = vq::i18n::ustring_to_utf8(u"ok\u00e9");
    if (s != "ok\xc3\xa9") {
        std::fprintf(stderr, "i18n conversion wrong\n");
        return 1;
    }
    return 0;
}
