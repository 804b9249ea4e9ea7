// Without a menu the job's authoring link writes, for the same input, exactly the files it wrote
// before menus existed: program streams built sector by sector (no encoder, so the bytes depend on the
// engine alone) are authored and every file's SHA-256 is compared with the hash recorded then.
#include "AuthorStreamSupport.h"
#include "JobParts.h"

#include <QCryptographicHash>

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

namespace {

// Each VOBU: a navigation pack, one video sector with twelve frame pictures (25 a second) and one
// MPEG audio sector that covers the same 0.48 seconds.
qxtest::Bytes SyntheticStream(int vobus, int aspectCode) {
    using namespace qxtest;
    std::vector<Bytes> sectors;
    const long long frame = 3600;
    for (int v = 0; v < vobus; ++v) {
        const long long start = v * 12 * frame;
        const uint32_t scr = static_cast<uint32_t>(start + 1000 * v);
        sectors.push_back(NavPack(scr));
        Bytes video = Concat({SequenceHeader(720, 576, aspectCode, 3), SequenceExtension(), GopHeader()});
        for (int p = 0; p < 12; ++p)
            video = Concat({video, PictureHeader(p, p == 0 ? 1 : 2), PictureCodingExtension(3, false)});
        sectors.push_back(PesSector(scr + 100, 0xE0, video, start + 7200, start + 3600));
        Bytes audio;
        for (int f = 0; f < 20; ++f)
            audio = Concat({audio, MpegAudioFrame(1)});
        sectors.push_back(PesSector(scr + 200, 0xC0, audio, start + 7200));
    }
    return Join(sectors);
}

std::string sha256(const std::string& path) {
    const qxtest::Bytes bytes = qxtest::ReadFile(path);
    return QCryptographicHash::hash(
               QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size())),
               QCryptographicHash::Sha256)
        .toHex()
        .toStdString();
}

} // namespace

TEST(MenuOff, TheAuthoredFolderIsByteForByteTheOneWrittenBeforeMenusExisted) {
    qxtest::TempDir dir;
    qxtest::WriteFile(dir.file("a.mpg"), SyntheticStream(5, 3));
    qxtest::WriteFile(dir.file("b.mpg"), SyntheticStream(3, 3));
    std::unique_ptr<AuthoringLink> link = CreateAuthoringLink();
    std::string error;
    ASSERT_TRUE(link->Author(
        dir.file("DVD Movie"), {{dir.file("a.mpg"), 2}, {dir.file("b.mpg"), 1}}, true, nullptr, [](int, int) {},
        &error))
        << error;

    std::map<std::string, std::string> found;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.file("DVD Movie")))
        found[std::filesystem::relative(entry.path(), dir.file("DVD Movie")).string()] =
            entry.is_directory() ? "folder" : sha256(entry.path().string());
    const std::map<std::string, std::string> before = {
        {"AUDIO_TS", "folder"},
        {"VIDEO_TS", "folder"},
        {"VIDEO_TS/VIDEO_TS.IFO", "45ef83a968af72182911b73eb5dd5a3cac1efe4d78939ae52b8c427c90a15a58"},
        {"VIDEO_TS/VIDEO_TS.BUP", "45ef83a968af72182911b73eb5dd5a3cac1efe4d78939ae52b8c427c90a15a58"},
        {"VIDEO_TS/VTS_01_0.IFO", "050346f8364519b7973082e25501cd0dcc8aa90785a0ada644b9511fcf7055f1"},
        {"VIDEO_TS/VTS_01_0.BUP", "050346f8364519b7973082e25501cd0dcc8aa90785a0ada644b9511fcf7055f1"},
        {"VIDEO_TS/VTS_01_1.VOB", "7055fed393521770f34f345f4e80298f7130edf33d478183365106bf256fbaac"},
    };
    EXPECT_EQ(found, before);
}
