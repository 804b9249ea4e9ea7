// Writing images: through a sink that fails, with progress and cancel, and to files that are replaced
// only by a complete image.
#include "DiscImageSupport.h"
#include "FixtureSupport.h"
#include "ImageTemporary.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace qx::discimage;

namespace {

// Keeps what it is given; fails once more than `limit` bytes arrive.
class TestSink : public ImageSink {
public:
    explicit TestSink(size_t limit = SIZE_MAX) : m_limit(limit) {}
    bool Write(const uint8_t* data, size_t size, std::string* error) override {
        if (bytes.size() + size > m_limit) {
            *error = "No space left on the test device";
            return false;
        }
        bytes.insert(bytes.end(), data, data + size);
        return true;
    }
    Bytes bytes;

private:
    size_t m_limit;
};

class Writer : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_temp = std::make_unique<TempFolder>();
        s_video = AuthorFolder(s_temp->path() + "/dvd", {1}, 65); // a few chunks of the writer
    }
    static void TearDownTestSuite() { s_temp.reset(); }
    void SetUp() override {
        std::string error;
        m_image = DvdVideoImage::Create(s_video, TestDescriptor(), &error);
        ASSERT_TRUE(m_image) << error;
    }
    std::vector<std::string> names() const { return FolderNames(m_out.path()); }

    static std::unique_ptr<TempFolder> s_temp;
    static std::string s_video;
    std::unique_ptr<DvdVideoImage> m_image;
    TempFolder m_out;
};
std::unique_ptr<TempFolder> Writer::s_temp;
std::string Writer::s_video;

TEST_F(Writer, ASinkGetsEveryByteWithProgressAndItsFailureIsReported) {
    TestSink sink;
    std::vector<uint64_t> progress;
    WriteOptions options;
    options.progress = [&](uint64_t done, uint64_t total) {
        EXPECT_EQ(total, m_image->SizeInBytes());
        progress.push_back(done);
    };
    std::string error;
    ASSERT_TRUE(WriteImage(*m_image, sink, options, &error)) << error;
    EXPECT_TRUE(sink.bytes == ImageBytes(*m_image));
    ASSERT_FALSE(progress.empty());
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    EXPECT_EQ(progress.back(), m_image->SizeInBytes());

    TestSink full(1 << 20);
    EXPECT_FALSE(WriteImage(*m_image, full, {}, &error));
    EXPECT_EQ(error, "No space left on the test device");

    std::atomic<bool> cancel{false};
    options.cancel = &cancel;
    options.progress = [&](uint64_t, uint64_t) { cancel = true; };
    TestSink stopped;
    EXPECT_FALSE(WriteImage(*m_image, stopped, options, &error));
    EXPECT_EQ(error, "interrupted");
    EXPECT_LT(stopped.bytes.size(), m_image->SizeInBytes());
}

TEST_F(Writer, AFileIsReplacedOnlyByACompleteImage) {
    const std::string iso = m_out.path() + "/disc.iso";
    std::string error;
    { std::ofstream(iso) << "old"; }
    std::atomic<bool> cancel{true};
    WriteOptions options;
    options.cancel = &cancel;
    EXPECT_FALSE(WriteImageFile(*m_image, iso, options, &error));
    EXPECT_EQ(ReadWholeFile(iso), Bytes({'o', 'l', 'd'}));
    EXPECT_EQ(names(), std::vector<std::string>{"disc.iso"});

    ASSERT_TRUE(WriteImageFile(*m_image, iso, {}, &error)) << error;
    EXPECT_TRUE(ReadWholeFile(iso) == ImageBytes(*m_image));
    EXPECT_EQ(names(), std::vector<std::string>{"disc.iso"});

    // Names that are not plain files, or that cannot be made, are refused and left alone.
    fs::create_directory(m_out.path() + "/folder.iso");
    EXPECT_FALSE(WriteImageFile(*m_image, m_out.path() + "/folder.iso", {}, &error));
    EXPECT_NE(error.find("is not a regular file"), std::string::npos) << error;
    fs::create_symlink(iso, m_out.path() + "/link.iso");
    EXPECT_FALSE(WriteImageFile(*m_image, m_out.path() + "/link.iso", {}, &error));
    EXPECT_TRUE(fs::is_symlink(m_out.path() + "/link.iso"));
    EXPECT_FALSE(WriteImageFile(*m_image, m_out.path() + "/missing/disc.iso", {}, &error));
    EXPECT_NE(error.find("Cannot create a file in " + m_out.path() + "/missing"), std::string::npos) << error;
    EXPECT_EQ(names(), (std::vector<std::string>{"disc.iso", "folder.iso", "link.iso"}));
}

TEST_F(Writer, AVisibleTemporaryIsLockedWhileWrittenSoNoOtherRunTakesItForStale) {
    const std::string iso = m_out.path() + "/disc.iso";
    WriteOptions options;
    options.namedTemporary = true;
    std::vector<std::string> seen;
    int lockedAgainstOthers = 0, removedByOthers = 0;
    options.progress = [&](uint64_t, uint64_t) {
        for (const std::string& name : names()) {
            seen.push_back(name);
            // Old enough to be stale, were it not locked.
            const std::string path = m_out.path() + "/" + name;
            const timespec times[2] = {{1, 0}, {1, 0}};
            utimensat(AT_FDCWD, path.c_str(), times, 0);
            int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
            lockedAgainstOthers += flock(fd, LOCK_EX | LOCK_NB) != 0 ? 1 : 0;
            close(fd);
        }
        removedByOthers += RemoveStaleTemporaries(iso);
    };
    std::string error;
    ASSERT_TRUE(WriteImageFile(*m_image, iso, options, &error)) << error;
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.front().rfind(".disc.iso.part-", 0), 0u) << seen.front();
    EXPECT_EQ(seen.front().size(), std::string(".disc.iso.part-").size() + 6);
    EXPECT_EQ(lockedAgainstOthers, static_cast<int>(seen.size()));
    EXPECT_EQ(removedByOthers, 0);
    EXPECT_EQ(names(), std::vector<std::string>{"disc.iso"});
    EXPECT_TRUE(ReadWholeFile(iso) == ImageBytes(*m_image));
}

TEST_F(Writer, WhereTheKernelCannotCopyTheBytesGoThroughABuffer) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    Bytes received;
    std::thread reader([&] {
        uint8_t buffer[65536];
        ssize_t n;
        while ((n = read(fds[0], buffer, sizeof buffer)) > 0)
            received.insert(received.end(), buffer, buffer + n);
    });
    std::string error;
    EXPECT_TRUE(m_image->WriteSectorsTo(fds[1], "the pipe", 0, m_image->SizeInSectors(), &error)) << error;
    close(fds[1]);
    reader.join();
    close(fds[0]);
    EXPECT_TRUE(received == ImageBytes(*m_image));
    EXPECT_FALSE(m_image->WriteSectorsTo(fds[1], "the pipe", 0, 1, &error));
    EXPECT_NE(error.find("Cannot write the pipe"), std::string::npos) << error;
}

} // namespace
