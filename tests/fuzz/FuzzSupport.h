// What the fuzz harnesses share. Each harness is a plain function over one input; the libFuzzer
// programs call it from LLVMFuzzerTestOneInput (FuzzMain.cpp) and test_fuzz_regressions replays
// the corpus and the saved crash inputs through the very same function.
#pragma once

#include "AuthorOutput.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

// One harness: returns 0 (libFuzzer's convention); faults show as crashes, sanitizer reports or
// QX_FUZZ_CHECK failures.
using QxFuzzFunction = int (*)(const uint8_t* data, size_t size);

// The harnesses, by target name (the folder names under corpus/ and regressions/).
int QxFuzzIni(const uint8_t* data, size_t size);
int QxFuzzWindowWire(const uint8_t* data, size_t size);
int QxFuzzScan(const uint8_t* data, size_t size);
int QxFuzzIfo(const uint8_t* data, size_t size);
int QxFuzzEncoderReply(const uint8_t* data, size_t size);
int QxFuzzLogRecord(const uint8_t* data, size_t size);
int QxFuzzVideoTs(const uint8_t* data, size_t size);
int QxFuzzPrintableText(const uint8_t* data, size_t size);
int QxFuzzAc3Frames(const uint8_t* data, size_t size);

// A broken property of the code under test. The libFuzzer programs abort (so the input is saved);
// the regression test records a test failure and goes on.
void QxFuzzFail(const char* what, const char* file, int line);
#define QX_FUZZ_CHECK(cond)                                                                                            \
    do {                                                                                                               \
        if (!(cond))                                                                                                   \
            QxFuzzFail(#cond, __FILE__, __LINE__);                                                                     \
    } while (0)

namespace qxfuzz {

// A private folder for the files a harness needs (on /dev/shm when there is one, so the many
// writes cost little); made once, removed when the program ends. Also points XDG_RUNTIME_DIR and
// XDG_CONFIG_HOME into it, so harnesses never touch the user's real runtime state.
const std::string& ScratchFolder();
// Replaces `path` by the bytes; aborts when the scratch folder cannot be written (not a finding).
void WriteScratchFile(const std::string& path, const uint8_t* data, size_t size);
std::string ReadScratchFile(const std::string& path);

// Output files of the authoring engine kept in memory; with `keep` false only sizes are kept.
class MemoryOutput : public AuthorFileOpener {
public:
    explicit MemoryOutput(bool keep) : keep_(keep) {}
    std::unique_ptr<AuthorWriter> Open(const std::string& path, AuthorOpenMode mode, std::string& error) override;
    std::map<std::string, std::vector<uint8_t>> files;
    std::map<std::string, long long> sizes;

private:
    bool keep_;
};

// Silences the authoring engine's log (the harnesses would otherwise print for every input), unless
// QXFUZZ_LOG is set.
void QuietAuthorLog();

} // namespace qxfuzz
