// Replays every seed input (corpus/<target>/) and every saved crash input (regressions/<target>/)
// through the fuzz harnesses, in every build: a fault a fuzzer once found stays found.
#include "FuzzSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Target {
    const char* name;
    QxFuzzFunction run;
};

const Target kTargets[] = {
    {"ini", QxFuzzIni},         {"window_wire", QxFuzzWindowWire},       {"scan", QxFuzzScan},
    {"ifo", QxFuzzIfo},         {"encoder_reply", QxFuzzEncoderReply},   {"log_record", QxFuzzLogRecord},
    {"videots", QxFuzzVideoTs}, {"printable_text", QxFuzzPrintableText}, {"ac3_frames", QxFuzzAc3Frames},
};

// Names the parameter in gtest's messages.
void PrintTo(const Target& target, std::ostream* os) {
    *os << target.name;
}

std::string g_input; // the input being replayed, for the failure text

std::vector<fs::path> InputsIn(const fs::path& folder) {
    std::vector<fs::path> files;
    if (fs::is_directory(folder))
        for (const auto& entry : fs::directory_iterator(folder))
            if (entry.is_regular_file() && entry.path().filename().string()[0] != '.')
                files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

std::vector<uint8_t> ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class FuzzRegressions : public ::testing::TestWithParam<Target> {};

} // namespace

void QxFuzzFail(const char* what, const char* file, int line) {
    ADD_FAILURE_AT(file, line) << "fuzz check failed: " << what << "\n  input: " << g_input;
}

TEST_P(FuzzRegressions, SeedsAndSavedCrashInputsRunClean) {
    const Target& target = GetParam();
    const fs::path root = fs::path(QX_SOURCE_DIR) / "tests" / "fuzz";
    const std::vector<fs::path> seeds = InputsIn(root / "corpus" / target.name);
    EXPECT_FALSE(seeds.empty()) << "every harness has seed inputs in corpus/" << target.name;
    std::vector<fs::path> inputs = seeds;
    for (const fs::path& p : InputsIn(root / "regressions" / target.name))
        inputs.push_back(p);
    for (const fs::path& path : inputs) {
        g_input = path.string();
        SCOPED_TRACE(g_input);
        const std::vector<uint8_t> read = ReadAll(path);
        // A copy whose allocation is exactly the input's size, so reads past its end are caught under ASan.
        const std::vector<uint8_t> exact(read.begin(), read.end());
        EXPECT_EQ(target.run(exact.data(), exact.size()), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Harness, FuzzRegressions, ::testing::ValuesIn(kTargets),
                         [](const ::testing::TestParamInfo<Target>& info) { return std::string(info.param.name); });
