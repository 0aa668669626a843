// Every fuzzer regression input and seed, read the way the fuzzer reads it:
// nothing may crash, leak or touch memory outside the reported sizes.
#include "avi_fixture.hpp"

#include <fuzz/avi_read/read_everything.hpp>

#include <dirent.h>


namespace {

std::vector<std::string> filesIn(const std::string& dirPath) {
    std::vector<std::string> out;
    if (DIR* d = ::opendir(dirPath.c_str())) {
        while (const dirent* e = ::readdir(d))
            if (e->d_name[0] != '.') out.push_back(dirPath + "/" + e->d_name);
        ::closedir(d);
    }
    return out;
}

}  // namespace

TEST(AviRegression, FuzzInputsReadCleanly) {
    const std::string fuzz = AVI_FUZZ_DIR;
    std::vector<std::string> inputs = filesIn(fuzz + "/regressions/avi_read_fuzzer");
    const std::size_t regressions = inputs.size();
    for (const auto& p : filesIn(fuzz + "/corpus/avi_read_fuzzer")) inputs.push_back(p);
    EXPECT_GT(regressions, 0u);
    for (const auto& path : inputs) {
        SCOPED_TRACE(path);
        {
            avi::File info;
            if (info.openToGetInformation(path.c_str())) avifuzz::readEverything(info);
        }
        avi::File reader;
        try {
            if (reader.open(path.c_str(), "r")) avifuzz::readEverything(reader);
        } catch (const std::exception&) {
        }
    }
}
