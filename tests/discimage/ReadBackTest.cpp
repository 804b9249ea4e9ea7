// Images of authored folders read back by independent readers: libdvdread (its own UDF reader) sees the
// same titles and byte-identical files, libudfread the same tree, isoinfo the same extents, udfinfo a
// closed UDF 1.02 volume; the layout check finds every promised address where the file lies, and a
// misordered image fails it although libdvdread still accepts it.
#include "DiscImageSupport.h"
#include "DvdReaderCheck.h"
#include "FixtureSupport.h"
#include "UdfReadSupport.h"
#include "VideoTsFolder.h"

#include <gtest/gtest.h>

#include <dvdread/dvd_reader.h>

#include <filesystem>
#include <memory>

namespace fs = std::filesystem;
using namespace qx::discimage;

namespace {

struct Folder {
    const char* name;
    std::vector<int> titlesPerSet;
    int seconds;
    int vobSectorLimit;
};

void PrintTo(const Folder& folder, std::ostream* out) {
    *out << folder.name;
}

const Folder kFolders[] = {
    {"OneTitle", {1}, 4, 0},
    {"ThreeTitlesInTwoSets", {2, 1}, 3, 0},
    {"TitleInSeveralVobs", {1}, 12, 120}, // the engine's 1 GiB split, scaled down
};

class ReadBack : public ::testing::TestWithParam<Folder> {
protected:
    static void SetUpTestSuite() { s_temp = std::make_unique<TempFolder>(); }
    static void TearDownTestSuite() { s_temp.reset(); }

    void SetUp() override {
        const Folder& f = GetParam();
        m_root = s_temp->path() + "/" + f.name;
        m_video = m_root + "/VIDEO_TS";
        m_iso = m_root + ".iso";
        if (!fs::exists(m_iso)) {
            AuthorFolder(m_root, f.titlesPerSet, f.seconds, f.vobSectorLimit);
            std::string error;
            std::vector<std::string> warnings;
            auto image = DvdVideoImage::Create(m_video, TestDescriptor(f.name), &error, &warnings);
            ASSERT_TRUE(image) << error;
            EXPECT_TRUE(warnings.empty());
            ASSERT_TRUE(WriteImageFile(*image, m_iso, {}, &error)) << error;
        }
    }

    static std::unique_ptr<TempFolder> s_temp;
    std::string m_root, m_video, m_iso;
};
std::unique_ptr<TempFolder> ReadBack::s_temp;

Bytes fileBytes(const std::string& path) {
    return ReadWholeFile(path);
}

TEST_P(ReadBack, LibdvdreadAndLibdvdnavSeeTheSameTitlesAndIdenticalFiles) {
    DvdReadReport fromFolder = ReadDvdFolder(m_root);
    DvdReadReport fromImage = ReadDvdFolder(m_iso);
    ASSERT_TRUE(fromImage.opened);
    EXPECT_EQ(fromImage.titleSets, fromFolder.titleSets);
    ASSERT_EQ(fromImage.titles.size(), fromFolder.titles.size());
    for (size_t t = 0; t < fromImage.titles.size(); ++t) {
        EXPECT_EQ(fromImage.titles[t].titleSet, fromFolder.titles[t].titleSet);
        EXPECT_EQ(fromImage.titles[t].chapters, fromFolder.titles[t].chapters);
        EXPECT_EQ(fromImage.titles[t].cells, fromFolder.titles[t].cells);
        EXPECT_DOUBLE_EQ(fromImage.titles[t].seconds, fromFolder.titles[t].seconds);
    }

    // libdvdnav plays the image from first-play to the end as it plays the folder.
    DvdPlayReport played = PlayDvdFolder(m_iso, 100000);
    EXPECT_TRUE(played.reachedStop);
    EXPECT_EQ(played.titleOrder, PlayDvdFolder(m_root, 100000).titleOrder);
    EXPECT_GT(played.blocks, 0);

    dvd_reader_t* dvd = DVDOpen(m_iso.c_str());
    ASSERT_NE(dvd, nullptr);
    for (int set = 0; set <= fromFolder.titleSets; ++set) {
        char prefix[16];
        std::snprintf(prefix, sizeof prefix, set == 0 ? "VIDEO_TS" : "VTS_%02d_0", set);
        for (auto [domain, ext] : {std::pair{DVD_READ_INFO_FILE, ".IFO"}, {DVD_READ_INFO_BACKUP_FILE, ".BUP"}}) {
            Bytes expected = fileBytes(m_video + "/" + prefix + ext);
            dvd_file_t* file = DVDOpenFile(dvd, set, domain);
            ASSERT_NE(file, nullptr) << prefix << ext;
            Bytes got(expected.size());
            EXPECT_EQ(DVDReadBytes(file, got.data(), got.size()), static_cast<ssize_t>(got.size()));
            EXPECT_TRUE(got == expected) << prefix << ext;
            DVDCloseFile(file);
        }
        if (set == 0)
            continue;
        // The title VOBs as one run of sectors, as a player reads them.
        Bytes expected;
        for (int k = 1; k <= 9; ++k) {
            std::string vob = m_video + "/VTS_0" + std::to_string(set) + "_" + std::to_string(k) + ".VOB";
            if (!fs::exists(vob))
                break;
            Bytes part = fileBytes(vob);
            expected.insert(expected.end(), part.begin(), part.end());
        }
        dvd_file_t* titles = DVDOpenFile(dvd, set, DVD_READ_TITLE_VOBS);
        ASSERT_NE(titles, nullptr);
        ASSERT_EQ(uint64_t(DVDFileSize(titles)) * 2048, expected.size());
        Bytes got(expected.size());
        EXPECT_EQ(DVDReadBlocks(titles, 0, expected.size() / 2048, got.data()),
                  static_cast<ssize_t>(expected.size() / 2048));
        EXPECT_TRUE(got == expected) << "title VOBs of set " << set;
        DVDCloseFile(titles);
    }
    DVDClose(dvd);
}

TEST_P(ReadBack, LibudfreadListsTheSameTreeWithIdenticalContentsInDiscOrder) {
    UdfImage udf(m_iso);
    ASSERT_TRUE(udf.ok());
    EXPECT_EQ(udf.VolumeId(), GetParam().name);
    std::vector<UdfEntry> tree = udf.Tree(true);
    std::vector<std::string> expectedNames;
    for (const auto& entry : fs::directory_iterator(m_video))
        expectedNames.push_back("/VIDEO_TS/" + entry.path().filename().string());
    std::sort(expectedNames.begin(), expectedNames.end());
    std::vector<std::string> names, files;
    for (const UdfEntry& e : tree) {
        names.push_back(e.path);
        if (!e.directory) {
            files.push_back(e.path);
            EXPECT_TRUE(e.bytes == fileBytes(m_root + e.path)) << e.path;
        }
    }
    EXPECT_EQ(files, expectedNames);
    ASSERT_GE(names.size(), 2u);
    EXPECT_EQ(names[0], "/AUDIO_TS");
    EXPECT_EQ(names[1], "/VIDEO_TS");

    // Contiguous in disc order: VIDEO_TS.IFO (.VOB) .BUP, then each set's IFO, VOBs, BUP.
    std::vector<UdfEntry> byPlace;
    for (const UdfEntry& e : tree)
        if (!e.directory)
            byPlace.push_back(e);
    std::sort(byPlace.begin(), byPlace.end(), [](const UdfEntry& a, const UdfEntry& b) { return a.sector < b.sector; });
    EXPECT_EQ(byPlace.front().path, "/VIDEO_TS/VIDEO_TS.IFO");
    EXPECT_EQ(byPlace[1].path, "/VIDEO_TS/VIDEO_TS.BUP");
    for (size_t i = 1; i < byPlace.size(); ++i)
        EXPECT_EQ(byPlace[i].sector, byPlace[i - 1].sector + (byPlace[i - 1].size + 2047) / 2048) << byPlace[i].path;
    EXPECT_TRUE(udf.LayoutFaults().empty());
}

TEST_P(ReadBack, IsoinfoShowsTheSameExtentsAsUdfAndUdfinfoAClosedRevision102Volume) {
    UdfImage udf(m_iso);
    std::vector<std::pair<std::string, IsoExtent>> iso = IsoinfoVideoTsExtents(m_iso);
    size_t files = 0;
    for (const UdfEntry& e : udf.Tree(false)) {
        if (e.directory)
            continue;
        ++files;
        std::string name = e.path.substr(10);
        auto it = std::find_if(iso.begin(), iso.end(), [&](const auto& p) { return p.first == name; });
        ASSERT_NE(it, iso.end()) << name;
        EXPECT_EQ(it->second.sector, e.sector) << name;
        EXPECT_EQ(it->second.size, e.size) << name;
    }
    EXPECT_EQ(iso.size(), files);

    auto fields = UdfinfoFields(m_iso);
    EXPECT_EQ(Field(fields, "udfrev"), "1.02");
    EXPECT_EQ(Field(fields, "integrity"), "closed");
    EXPECT_EQ(Field(fields, "label"), GetParam().name);
    EXPECT_EQ(Field(fields, "numfiles"), std::to_string(files));
    EXPECT_EQ(Field(fields, "numdirs"), "3");
    EXPECT_EQ(Field(fields, "owner"), "DE Veza");
    EXPECT_EQ(Field(fields, "blocks"), std::to_string(fs::file_size(m_iso) / 2048));
    EXPECT_EQ(Field(fields, "freeblocks"), "0");
}

INSTANTIATE_TEST_SUITE_P(Folders, ReadBack, ::testing::ValuesIn(kFolders),
                         [](const ::testing::TestParamInfo<Folder>& info) { return std::string(info.param.name); });

TEST(LayoutCheck, AMisorderedImageFailsItThoughLibdvdreadAcceptsIt) {
    TempFolder temp;
    std::string video = AuthorFolder(temp.path(), {2, 1}, 3);
    std::string error;
    auto image = DvdVideoImage::Create(video, TestDescriptor(), &error);
    ASSERT_TRUE(image) << error;
    // The second title set before the first: every file is intact, only the places are wrong.
    std::vector<ImageFile> files = image->Files();
    auto firstOfSet = [&](const char* prefix) {
        return std::find_if(files.begin(), files.end(),
                            [&](const ImageFile& f) { return f.name.rfind(prefix, 0) == 0; });
    };
    std::vector<ImageFile> reordered(files.begin(), firstOfSet("VTS_01"));
    reordered.insert(reordered.end(), firstOfSet("VTS_02"), files.end());
    reordered.insert(reordered.end(), firstOfSet("VTS_01"), firstOfSet("VTS_02"));
    auto misordered = DvdVideoImage::FromFiles(reordered, TestDescriptor(), &error);
    ASSERT_TRUE(misordered) << error;
    std::string iso = temp.path() + "/misordered.iso";
    ASSERT_TRUE(WriteImageFile(*misordered, iso, {}, &error)) << error;

    DvdReadReport report = ReadDvdFolder(iso);
    EXPECT_TRUE(report.opened);
    EXPECT_EQ(report.titles.size(), 3u);
    UdfImage udf(iso);
    std::vector<std::string> faults = udf.LayoutFaults();
    EXPECT_FALSE(faults.empty());
    EXPECT_NE(std::find_if(faults.begin(), faults.end(),
                           [](const std::string& f) { return f.find("VTS_01_0.IFO") != std::string::npos; }),
              faults.end());
    // The same order is refused before anything is written when it comes from a folder's own check.
    EXPECT_FALSE(CheckVideoTsLayout(reordered, &error));
    EXPECT_NE(error.find("VTS_0"), std::string::npos) << error;
}

} // namespace
