#include "DiscImageSupport.h"

#include "AplAuthor.h"
#include "FixtureSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace qx::discimage;

std::tm FixedTime() {
    std::tm t{};
    t.tm_year = 2026 - 1900;
    t.tm_mon = 11;
    t.tm_mday = 8;
    t.tm_hour = 14;
    t.tm_min = 30;
    t.tm_sec = 15;
    t.tm_yday = 341;
    t.tm_gmtoff = 3600;
    return t;
}

ImageDescriptor TestDescriptor(const std::string& label) {
    ImageDescriptor d;
    d.label = label;
    d.localTime = FixedTime();
    return d;
}

std::string AuthorFolder(const std::string& outputFolder, const std::vector<int>& titlesPerSet, int seconds,
                         int vobSectorLimit) {
    std::string stream = FixtureStream(TvStandard::Ntsc, seconds);
    AplAuthor author;
    EXPECT_TRUE(author.SetOutputFolder(outputFolder));
    if (vobSectorLimit > 0)
        author.SetVobSectorLimit(vobSectorLimit);
    int total = 0;
    for (int titles : titlesPerSet)
        total += titles;
    int number = 0;
    for (int titles : titlesPerSet) {
        EXPECT_TRUE(author.BeginTitleSet());
        for (int t = 0; t < titles; ++t) {
            ++number;
            bool last = number == total;
            EXPECT_TRUE(author.AddTitle(stream, 300, seconds, last ? AUTHOR_POST_NONE : AUTHOR_POST_NEXT_TITLE,
                                        last ? 0 : number + 1));
        }
        author.EndTitleSet();
    }
    EXPECT_TRUE(author.CreateDVD()) << author.LastError();
    return outputFolder + "/VIDEO_TS";
}

void InflateTitleVobs(const std::string& video, int vobs) {
    ASSERT_FALSE(fs::exists(video + "/VTS_01_2.VOB"));
    for (int k = 1; k <= vobs; ++k) {
        std::string vob = video + "/VTS_01_" + std::to_string(k) + ".VOB";
        if (k > 1)
            std::ofstream(vob).close();
        fs::resize_file(vob, kFullVobSectors * 2048);
    }
    const std::uint64_t ifoSectors = fs::file_size(video + "/VTS_01_0.IFO") / 2048;
    const std::uint32_t last = static_cast<std::uint32_t>(2 * ifoSectors + vobs * kFullVobSectors - 1);
    for (const char* name : {"/VTS_01_0.IFO", "/VTS_01_0.BUP"}) {
        std::fstream f(video + name, std::ios::in | std::ios::out | std::ios::binary);
        char bytes[4] = {char(last >> 24), char(last >> 16), char(last >> 8), char(last)};
        f.seekp(0x0C);
        f.write(bytes, 4);
    }
}

std::vector<std::string> FolderNames(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

void CopyFolder(const std::string& from, const std::string& to) {
    fs::create_directories(to);
    for (const auto& entry : fs::directory_iterator(from))
        fs::copy_file(entry.path(), fs::path(to) / entry.path().filename());
}

Bytes ImageBytes(DvdVideoImage& image, std::uint32_t chunk) {
    Bytes bytes(image.SizeInBytes());
    std::string error;
    for (std::uint64_t s = 0; s < image.SizeInSectors(); s += chunk) {
        std::uint32_t n = static_cast<std::uint32_t>(std::min<std::uint64_t>(chunk, image.SizeInSectors() - s));
        EXPECT_TRUE(image.ReadSectors(s, n, bytes.data() + s * kSectorSize, &error)) << error;
    }
    return bytes;
}

void WriteSparseImage(DvdVideoImage& image, const std::string& path) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    constexpr std::uint32_t chunk = 512;
    Bytes buffer(chunk * kSectorSize);
    std::string error;
    for (std::uint64_t s = 0; s < image.SizeInSectors(); s += chunk) {
        std::uint32_t n = static_cast<std::uint32_t>(std::min<std::uint64_t>(chunk, image.SizeInSectors() - s));
        ASSERT_TRUE(image.ReadSectors(s, n, buffer.data(), &error)) << error;
        size_t size = std::size_t(n) * kSectorSize;
        if (std::all_of(buffer.begin(), buffer.begin() + static_cast<long>(size),
                        [](unsigned char c) { return c == 0; }))
            continue;
        ASSERT_EQ(pwrite(fd, buffer.data(), size, static_cast<off_t>(s * kSectorSize)), static_cast<ssize_t>(size));
    }
    ASSERT_EQ(ftruncate(fd, static_cast<off_t>(image.SizeInBytes())), 0);
    close(fd);
}

std::vector<std::pair<std::string, IsoExtent>> IsoinfoVideoTsExtents(const std::string& iso) {
    ProgramResult listing = RunProgram({"isoinfo", "-l", "-i", iso});
    EXPECT_EQ(listing.exitStatus, 0) << listing.output;
    std::vector<std::pair<std::string, IsoExtent>> extents;
    std::istringstream lines(listing.output);
    std::string line;
    bool inVideo = false;
    while (std::getline(lines, line)) {
        if (line.rfind("Directory listing of ", 0) == 0) {
            inVideo = line.find("/VIDEO_TS/") != std::string::npos;
            continue;
        }
        // "----------   0    0    0            6144 Dec  8 2026 [    273 00]  VIDEO_TS.IFO;1 "
        size_t open = line.find('['), close = line.find(']');
        if (!inVideo || open == std::string::npos || close == std::string::npos || line[0] == 'd')
            continue;
        std::istringstream before(line.substr(0, open)), inside(line.substr(open + 1));
        std::string word, size;
        for (int i = 0; i < 5 && before >> word; ++i)
            size = word;
        IsoExtent extent;
        inside >> extent.sector;
        extent.size = std::stoull(size);
        std::string name = line.substr(close + 1);
        name.erase(0, name.find_first_not_of(' '));
        name = name.substr(0, name.find(';'));
        extents.emplace_back(name, extent);
    }
    return extents;
}

std::vector<std::pair<std::string, std::string>> UdfinfoFields(const std::string& iso) {
    ProgramResult info = RunProgram({"udfinfo", iso});
    EXPECT_EQ(info.exitStatus, 0) << info.output;
    std::vector<std::pair<std::string, std::string>> fields;
    std::istringstream lines(info.output);
    std::string line;
    while (std::getline(lines, line)) {
        size_t eq = line.find('=');
        if (eq != std::string::npos)
            fields.emplace_back(line.substr(0, eq), line.substr(eq + 1));
    }
    return fields;
}

std::string Field(const std::vector<std::pair<std::string, std::string>>& fields, const std::string& key) {
    for (const auto& [k, v] : fields)
        if (k == key)
            return v;
    return "(missing " + key + ")";
}

bool WaitUntilWriting(pid_t pid, const std::string& folder) {
    const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < until) {
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(fds, error)) {
            std::error_code ignored;
            const std::string target = fs::read_symlink(entry.path(), ignored).string();
            struct stat info;
            if (target.rfind(folder + "/", 0) == 0 && target.find('/', folder.size() + 1) == std::string::npos &&
                stat(entry.path().c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0)
                return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}
