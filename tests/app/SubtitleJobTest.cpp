// Subtitles through the window and the whole job with the real encoder program and authoring
// engine: a RealMedia movie with "Movie.en.srt" beside it, a Matroska movie with a German text track,
// an MP4 and an AVI movie become four titles whose subpicture streams libdvdread reads with their
// languages, whose VOB FFmpeg reads as DVD subtitles, and whose nav packs point at the subpicture
// packets.
#include "DvdReaderCheck.h"
#include "Folders.h"
#include "ProfileIni.h"
#include "TestProgram.h"
#include "WindowFixture.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QImage>
#include <QMenu>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

class SubtitleJob : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        UseRealPartsButBurningAndPower();
    }

    // Opens the row's "Subtitles..." window from its context menu and sets its check boxes.
    void LeaveOut(int row, const std::vector<bool>& kept) {
        OnNextModal([kept](QWidget* dialog) {
            for (size_t k = 0; k < kept.size(); ++k) {
                auto* box = dialog->findChild<QCheckBox*>(QString("chkSubtitle%1").arg(k));
                ASSERT_NE(box, nullptr);
                box->setChecked(kept[k]);
            }
            qobject_cast<QDialog*>(dialog)->accept();
        });
        QTimer::singleShot(50, [] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            ASSERT_NE(menu, nullptr);
            QAction* action = menu->findChild<QAction*>("actionSubtitles");
            ASSERT_NE(action, nullptr);
            ASSERT_TRUE(action->isEnabled());
            menu->setActiveAction(action);
            QTest::keyClick(menu, Qt::Key_Return);
        });
        const QRect place = List()->visualItemRect(List()->topLevelItem(row));
        emit List()->customContextMenuRequested(place.center());
    }
};

// Each nav pack's synchronisation word of subpicture stream j (0x5A9 + 4j), worked out from the
// places of the subpicture packets: a VOBU in which the stream's next packet is shown points at the
// VOBU carrying that packet (0 when it is its own), any other 0. The VOB's titles follow one another
// (a VOBU starting earlier than the one before begins the next title). "" when every word agrees.
std::string CheckSubpictureSync(const std::string& vob, int streams, int* pointing) {
    std::ifstream in(vob, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto at = [&](size_t sector) { return reinterpret_cast<const uint8_t*>(bytes.data() + sector * 2048); };
    auto be32 = [](const uint8_t* p) { return (uint32_t(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3]; };
    struct Vobu {
        size_t sector;
        int64_t start, end;
        int title;
    };
    struct Packet {
        size_t vobu; // index of the VOBU holding it
        int64_t pts;
        int title;
    };
    std::vector<Vobu> vobus;
    std::vector<std::vector<Packet>> packets(static_cast<size_t>(streams));
    for (size_t s = 0; s < bytes.size() / 2048; ++s) {
        const uint8_t* p = at(s);
        if (p[14] == 0 && p[15] == 0 && p[16] == 1 && p[17] == 0xBB) {
            const int64_t start = be32(p + 0x39), end = be32(p + 0x3D);
            const int title = vobus.empty() ? 0 : vobus.back().title + (start < vobus.back().start ? 1 : 0);
            vobus.push_back({s, start, end, title});
            continue;
        }
        const size_t pes = 14 + (p[13] & 7);
        if (vobus.empty() || p[pes + 3] != 0xBD || !(p[pes + 7] & 0x80))
            continue;
        const int sub = p[pes + 9 + p[pes + 8]];
        if (sub < 0x20 || sub >= 0x20 + streams)
            continue;
        const uint8_t* t = p + pes + 9;
        const int64_t pts = (int64_t(t[0] & 0x0E) << 29) | (int64_t(t[1]) << 22) | (int64_t(t[2] & 0xFE) << 14) |
                            (int64_t(t[3]) << 7) | (t[4] >> 1);
        packets[static_cast<size_t>(sub - 0x20)].push_back({vobus.size() - 1, pts, vobus.back().title});
    }
    *pointing = 0;
    for (size_t v = 0; v < vobus.size(); ++v) {
        for (int j = 0; j < streams; ++j) {
            size_t target = v;
            const Packet* last = nullptr;
            const Packet* next = nullptr;
            for (const Packet& p : packets[static_cast<size_t>(j)]) {
                if (p.title != vobus[v].title)
                    continue;
                if (p.pts <= vobus[v].start)
                    last = &p;
                else if (!next)
                    next = &p;
            }
            if (last && last->pts == vobus[v].start)
                target = last->vobu;
            else if (next && next->pts < vobus[v].end)
                target = next->vobu;
            const uint32_t distance =
                static_cast<uint32_t>(vobus[target].sector > vobus[v].sector ? vobus[target].sector - vobus[v].sector
                                                                             : vobus[v].sector - vobus[target].sector);
            const uint32_t want = distance | (target < v ? 0x80000000u : 0u);
            const uint32_t word = be32(at(vobus[v].sector) + 0x5A9 + 4 * j);
            if (word != want)
                return "VOBU at sector " + std::to_string(vobus[v].sector) + ", stream " + std::to_string(j) +
                       ": word " + std::to_string(word) + ", packets say " + std::to_string(want);
            *pointing += target != v ? 1 : 0;
        }
    }
    return vobus.empty() ? "no nav pack" : "";
}

// The pictures mpv shows of the disc's first title from 0.5 s on, subtitle stream `sid` ("no": none).
std::vector<QImage> PlayerPictures(const std::string& dvd, const std::string& folder, const char* sid) {
    const qxtest::ProgramRun run =
        qxtest::RunProgram("mpv",
                           {"--no-config", "--really-quiet", "--ao=null", "--vo=image", "--vo-image-format=png",
                            QString::fromStdString("--vo-image-outdir=" + folder), "--start=0.5", "--frames=25",
                            QString("--sid=") + sid, QString::fromStdString("--dvd-device=" + dvd), "dvd://"},
                           120000, true);
    std::vector<QImage> pictures;
    const QDir dir(QString::fromStdString(folder));
    for (const QString& name : dir.entryList({"*.png"}, QDir::Files, QDir::Name))
        pictures.push_back(QImage(dir.filePath(name)).convertToFormat(QImage::Format_RGB32));
    return pictures;
}

// Pixels of the lower part of the picture that differ clearly between a and b.
int LowerPartDifference(const QImage& a, const QImage& b) {
    if (a.size() != b.size())
        return -1;
    int differing = 0;
    for (int y = a.height() * 6 / 10; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            if (std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) + std::abs(qBlue(p) - qBlue(q)) > 120)
                ++differing;
        }
    return differing;
}

} // namespace

TEST_F(SubtitleJob, MoviesWithSubtitlesBecomeTitlesWithSelectableLanguages) {
    ASSERT_TRUE(MakeRealMediaMovie(movies + "Movie.rm", "testsrc2", 6));
    // Many short cues: some are shown in a VOBU after the one that carries them.
    std::ofstream srt(movies + "Movie.en.srt");
    for (int i = 0; i < 14; ++i) {
        const int ms = 300 + i * 410;
        srt << i + 1 << "\n00:00:0" << ms / 1000 << "," << (ms % 1000 < 100 ? "0" : "") << (ms % 1000 < 10 ? "0" : "")
            << ms % 1000 << " --> 00:00:0" << (ms + 300) / 1000 << "," << ((ms + 300) % 1000 < 100 ? "0" : "")
            << ((ms + 300) % 1000 < 10 ? "0" : "") << (ms + 300) % 1000 << "\nCue " << i << "\n\n";
    }
    srt.close();
    std::ofstream(movies + "de.srt") << "1\n00:00:00,500 --> 00:00:02,000\nGuten Tag\n";
    const qxtest::ProgramRun made = qxtest::RunProgram("ffmpeg",
                                                       {"-y",
                                                        "-v",
                                                        "error",
                                                        "-f",
                                                        "lavfi",
                                                        "-i",
                                                        "smptebars=size=320x240:rate=25",
                                                        "-i",
                                                        QString::fromStdString(movies + "de.srt"),
                                                        "-t",
                                                        "4",
                                                        "-map",
                                                        "0:v",
                                                        "-map",
                                                        "1:s",
                                                        "-c:v",
                                                        "mpeg4",
                                                        "-c:s",
                                                        "srt",
                                                        "-metadata:s:s:0",
                                                        "language=ger",
                                                        QString::fromStdString(movies + "Second.mkv")},
                                                       60000, true);
    ASSERT_EQ(made.status, 0) << made.out;
    // Two movies without subtitles of any kind.
    for (const char* name : {"Third.mp4", "Fourth.avi"}) {
        const qxtest::ProgramRun plain = qxtest::RunProgram(
            "ffmpeg",
            {"-y", "-v", "error", "-f", "lavfi", "-i", "testsrc2=size=320x240:rate=25", "-f", "lavfi", "-i", "sine=d=3",
             "-t", "3", "-c:v", "mpeg4", "-c:a", "mp3", QString::fromStdString(movies + name)},
            60000, true);
        ASSERT_EQ(plain.status, 0) << plain.out;
    }
    Create();
    Click("radioPal");
    Find<QComboBox>("comboAspect")->setCurrentIndex(1);
    Click("chkShowSubtitles");
    prompts.QueueFiles({movies + "Movie.rm", movies + "Second.mkv", movies + "Third.mp4", movies + "Fourth.avi"});
    Click("btnAddFiles");
    ASSERT_TRUE(dlg->WaitForAddFiles(60000));
    ASSERT_EQ(dlg->Sources().size(), 4u);
    EXPECT_EQ(List()->GetItemToolTipText(2, 0).find("Subtitles:"), std::string::npos);
    EXPECT_NE(List()->GetItemToolTipText(0, 0).find("\nSubtitles: en (Movie.en.srt)"), std::string::npos)
        << List()->GetItemToolTipText(0, 0);
    EXPECT_NE(List()->GetItemToolTipText(1, 1).find("\nSubtitles: de (track 2)"), std::string::npos)
        << List()->GetItemToolTipText(1, 1);
    EXPECT_EQ(List()->GetColumnCount(), 3);

    // Left out and taken back through the context menu.
    LeaveOut(1, {false});
    EXPECT_NE(List()->GetItemToolTipText(1, 0).find("de (track 2) (left out)"), std::string::npos);
    EXPECT_TRUE(dlg->Sources()[1].subtitles[0].leftOut);
    LeaveOut(1, {true});
    EXPECT_FALSE(dlg->Sources()[1].subtitles[0].leftOut);

    ASSERT_TRUE(RunJob());
    EXPECT_EQ(prompts.CountText("Mission accomplished!"), 1u);
    EXPECT_EQ(qx::GetPrivateProfileString("SUBTITLES", "show at start", "", settingsFile), "1");

    const std::string dvd = work + "DVD Movie";
    const DvdReadReport report = ReadDvdFolder(dvd);
    ASSERT_TRUE(report.opened);
    EXPECT_TRUE(report.complaints.empty()) << report.complaints.front();
    ASSERT_EQ(report.titles.size(), 4u);
    // One title set: its streams are the same in every title (a movie without subtitles has them empty).
    for (const DvdTitleSummary& t : report.titles) {
        EXPECT_EQ(t.subpictureLanguages, (std::vector<std::string>{"en", "de"}));
        EXPECT_EQ(t.subpictureControl[0], 0x80000000u);
        EXPECT_EQ(t.subpictureControl[1], 0x81010101u);
        EXPECT_EQ(t.subpictureControl[2], 0u);
    }
    // Each title starts on its own subtitles, shown (the box was ticked), in white over black.
    ASSERT_EQ(report.titles[0].preCommands.size(), 1u);
    EXPECT_EQ(report.titles[0].preCommands[0], std::vector<unsigned char>({0x51, 0, 0, 0, 0xC0, 0, 0, 0}));
    ASSERT_EQ(report.titles[1].preCommands.size(), 1u);
    EXPECT_EQ(report.titles[1].preCommands[0], std::vector<unsigned char>({0x51, 0, 0, 0, 0xC1, 0, 0, 0}));
    EXPECT_TRUE(report.titles[2].preCommands.empty());
    EXPECT_TRUE(report.titles[3].preCommands.empty());
    EXPECT_EQ(report.titles[0].palette[0], 0x108080u);
    EXPECT_EQ(report.titles[0].palette[1], 0xEB8080u);
    const DvdPlayReport play = PlayDvdFolder(dvd, 400000);
    EXPECT_TRUE(play.reachedStop);
    EXPECT_TRUE(play.complaints.empty()) << play.complaints.front();

    const std::string vob = dvd + "/VIDEO_TS/VTS_01_1.VOB";
    const qxtest::ProgramRun probe =
        qxtest::RunProgram("ffprobe",
                           {"-v", "error", "-probesize", "100M", "-analyzeduration", "100M", "-show_entries",
                            "stream=codec_name,id", "-of", "csv", QString::fromStdString(vob)},
                           60000);
    EXPECT_NE(probe.out.find("dvd_subtitle,0x20"), std::string::npos) << probe.out;
    EXPECT_NE(probe.out.find("dvd_subtitle,0x21"), std::string::npos) << probe.out;
    int pointing = 0;
    EXPECT_EQ(CheckSubpictureSync(vob, 2, &pointing), "");

    // A real player draws the English cues when they are chosen, and nothing without them.
    const std::vector<QImage> shown = PlayerPictures(dvd, work + "shots-on", "1");
    const std::vector<QImage> hidden = PlayerPictures(dvd, work + "shots-off", "no");
    ASSERT_FALSE(shown.empty());
    ASSERT_EQ(shown.size(), hidden.size());
    int framesWithText = 0;
    for (size_t i = 0; i < shown.size(); ++i)
        framesWithText += LowerPartDifference(shown[i], hidden[i]) > 30 ? 1 : 0;
    EXPECT_GT(framesWithText, 0);
    EXPECT_LT(framesWithText, static_cast<int>(shown.size())) << "the cues come and go";
}
