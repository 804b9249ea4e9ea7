#include "FuzzSupport.h"

#include "AuthorLog.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace qxfuzz {

namespace {

[[noreturn]] void SetupFailed(const std::string& what) {
    std::fprintf(stderr, "fuzz harness setup failed: %s\n", what.c_str());
    std::abort();
}

std::string MakeScratch() {
    std::string base = "/dev/shm";
    if (access(base.c_str(), W_OK) != 0) {
        const char* tmp = std::getenv("TMPDIR");
        base = tmp && *tmp ? tmp : "/tmp";
    }
    std::string pattern = base + "/qxfuzz-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (mkdtemp(name.data()) == nullptr)
        SetupFailed("cannot make a folder in " + base);
    std::string folder = name.data();
    for (const char* sub : {"/run", "/config"})
        if (mkdir((folder + sub).c_str(), 0700) != 0)
            SetupFailed("cannot make " + folder + sub);
    setenv("XDG_RUNTIME_DIR", (folder + "/run").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (folder + "/config").c_str(), 1);
    return folder;
}

std::string& ScratchPath() {
    static std::string path;
    return path;
}

void RemoveScratch() {
    std::error_code ignored;
    if (!ScratchPath().empty())
        std::filesystem::remove_all(ScratchPath(), ignored);
}

class MemoryWriter : public AuthorWriter {
public:
    MemoryWriter(std::vector<uint8_t>* bytes, long long* size) : bytes_(bytes), size_(size) {}
    size_t Write(const void* data, size_t size) override {
        size_t end = pos_ + size;
        if (bytes_) {
            if (bytes_->size() < end)
                bytes_->resize(end);
            std::copy_n(static_cast<const uint8_t*>(data), size, bytes_->begin() + static_cast<long>(pos_));
        }
        pos_ = end;
        if (static_cast<long long>(end) > *size_)
            *size_ = static_cast<long long>(end);
        return size;
    }
    bool Seek(long long offset) override {
        if (offset < 0)
            return false;
        pos_ = static_cast<size_t>(offset);
        return true;
    }
    bool Close() override { return true; }

private:
    std::vector<uint8_t>* bytes_;
    long long* size_;
    size_t pos_ = 0;
};

} // namespace

const std::string& ScratchFolder() {
    std::string& path = ScratchPath();
    if (path.empty()) {
        path = MakeScratch();
        std::atexit(RemoveScratch);
    }
    return path;
}

void WriteScratchFile(const std::string& path, const uint8_t* data, size_t size) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        SetupFailed("cannot write " + path);
    bool ok = size == 0 || std::fwrite(data, 1, size, f) == size;
    if (std::fclose(f) != 0 || !ok)
        SetupFailed("cannot write " + path);
}

std::string ReadScratchFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

std::unique_ptr<AuthorWriter> MemoryOutput::Open(const std::string& path, AuthorOpenMode mode, std::string& error) {
    if (mode == AuthorOpenMode::Update && !sizes.count(path)) {
        error = "No such file or directory";
        return nullptr;
    }
    std::vector<uint8_t>& bytes = files[path];
    long long& size = sizes[path];
    if (mode == AuthorOpenMode::Truncate) {
        bytes.clear();
        size = 0;
    }
    return std::make_unique<MemoryWriter>(keep_ ? &bytes : nullptr, &size);
}

void QuietAuthorLog() {
    if (std::getenv("QXFUZZ_LOG") != nullptr)
        return; // looking into one input: keep the engine's messages
    AuthorLogSetHandler([](int, const char*) { return 0; });
}

} // namespace qxfuzz
