// The settings store over real settings.ini files: defaults, round trips, the exact sections and
// keys, the reading rules for odd values, the immediate writes and the folder browser.
#include "Settings.h"
#include "Folders.h"
#include "PromptService.h"
#include "ScriptedPromptService.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

using qxtest::FreshFolder;
using qxtest::ReadFile;
using qxtest::WriteFile;

namespace {

CSettingsStore StoreWith(const std::string& contents) {
    const std::string file = FreshFolder("settings") + "settings.ini";
    WriteFile(file, contents);
    return CSettingsStore(file);
}

} // namespace

TEST(SettingsDefaults, NoFileGivesTheDocumentedDefaults) {
    const CSettingsStore store(FreshFolder("none") + "settings.ini");
    const OutputSettings s = store.ReadSettings();
    EXPECT_EQ(s.tempFolder, qx::HomeFolder() + "/QXMovieDisc");
    EXPECT_EQ(s.tv, TvStandard::Ntsc);
    EXPECT_EQ(s.aspectIndex, 1);
    EXPECT_TRUE(s.keepAspect);
    EXPECT_TRUE(s.burnDisc);
    EXPECT_TRUE(s.deleteTempFiles);
    EXPECT_FALSE(s.shutdown);
    EXPECT_FALSE(s.createMenu);
}

TEST(SettingsDefaults, TheDefaultFileLivesInTheConfigFolder) {
    EXPECT_EQ(SettingsFilePath(), std::string(getenv("XDG_CONFIG_HOME")) + "/qxmoviedisc/settings.ini");
    EXPECT_EQ(CSettingsStore().File(), SettingsFilePath());
}

TEST(SettingsDefaults, EmptyValuesAndAFolderInPlaceOfTheFileReadAsDefaults) {
    OutputSettings s = StoreWith("[TMPFLD]\ntemp folder=\n[TVMODE]\nTV Mode=\n[ASP]\nASPECT=\nKEEP ASPECT=\n"
                                 "[BURN]\nburn disc=\n[SHUTDOWN]\nshutdown computer=\n")
                           .ReadSettings();
    EXPECT_EQ(s.tempFolder, DefaultTempFolder());
    EXPECT_EQ(s.tv, TvStandard::Ntsc);
    EXPECT_EQ(s.aspectIndex, 1);
    EXPECT_TRUE(s.keepAspect);
    EXPECT_TRUE(s.burnDisc);
    EXPECT_FALSE(s.shutdown);

    const std::string dir = FreshFolder("dir-as-file") + "settings.ini/";
    qxtest::WriteFile(dir + "x", ""); // makes the folder "settings.ini"
    s = CSettingsStore(dir.substr(0, dir.size() - 1)).ReadSettings();
    EXPECT_EQ(s.aspectIndex, 1);
    EXPECT_TRUE(s.burnDisc);
}

TEST(SettingsRead, TvModeIsPalOnlyForExactlyPal) {
    EXPECT_EQ(StoreWith("[TVMODE]\nTV Mode=PAL\n").ReadSettings().tv, TvStandard::Pal);
    EXPECT_EQ(StoreWith("[tvmode]\ntv mode=PAL\n").ReadSettings().tv, TvStandard::Pal); // names ignore case
    EXPECT_EQ(StoreWith("[TVMODE]\nTV Mode=pal\n").ReadSettings().tv, TvStandard::Ntsc);
    EXPECT_EQ(StoreWith("[TVMODE]\nTV Mode=SECAM\n").ReadSettings().tv, TvStandard::Ntsc);
}

TEST(SettingsRead, NumbersAreReadLikeAtoiAndAspectOutsideTheComboSelectsNothing) {
    EXPECT_EQ(StoreWith("[ASP]\nASPECT=0\n").ReadSettings().aspectIndex, 0);
    EXPECT_EQ(StoreWith("[ASP]\nASPECT=1x\n").ReadSettings().aspectIndex, 1);
    EXPECT_EQ(StoreWith("[ASP]\nASPECT=abc\n").ReadSettings().aspectIndex, 0); // no digits: 0
    EXPECT_EQ(StoreWith("[ASP]\nASPECT=2\n").ReadSettings().aspectIndex, -1);
    EXPECT_EQ(StoreWith("[ASP]\nASPECT=-1\n").ReadSettings().aspectIndex, -1);
    EXPECT_FALSE(StoreWith("[ASP]\nKEEP ASPECT=0\n").ReadSettings().keepAspect);
    EXPECT_FALSE(StoreWith("[ASP]\nKEEP ASPECT=no\n").ReadSettings().keepAspect);
    EXPECT_TRUE(StoreWith("[ASP]\nKEEP ASPECT=7\n").ReadSettings().keepAspect);
    EXPECT_FALSE(StoreWith("[BURN]\nburn disc=0\n").ReadSettings().burnDisc);
    EXPECT_FALSE(StoreWith("[DELTMPFILE]\ndelete temp files=0\n").ReadSettings().deleteTempFiles);
    EXPECT_TRUE(StoreWith("[SHUTDOWN]\nshutdown computer=1\n").ReadSettings().shutdown);
}

TEST(SettingsWrite, SaveOutputSettingsWritesTheFourKeysThatReadBack) {
    const std::string file = FreshFolder("save") + "sub/settings.ini"; // the folder is made too
    const CSettingsStore store(file);
    ASSERT_TRUE(store.SaveOutputSettings("/data/dvd work/", true, 0, false));
    const std::string text = ReadFile(file);
    EXPECT_NE(text.find("[TMPFLD]\ntemp folder=/data/dvd work/\n"), std::string::npos) << text;
    EXPECT_NE(text.find("[TVMODE]\nTV Mode=PAL\n"), std::string::npos) << text;
    EXPECT_NE(text.find("[ASP]\nASPECT=0\nKEEP ASPECT=0\n"), std::string::npos) << text;
    // Only the output keys: the check boxes are written at their clicks.
    EXPECT_EQ(text.find("BURN"), std::string::npos);

    const OutputSettings s = store.ReadSettings();
    EXPECT_EQ(s.tempFolder, "/data/dvd work/");
    EXPECT_EQ(s.tv, TvStandard::Pal);
    EXPECT_EQ(s.aspectIndex, 0);
    EXPECT_FALSE(s.keepAspect);

    ASSERT_TRUE(store.SaveOutputSettings("/w", false, -1, true));
    const OutputSettings t = store.ReadSettings();
    EXPECT_EQ(t.tv, TvStandard::Ntsc);
    EXPECT_EQ(t.aspectIndex, -1);
    EXPECT_NE(ReadFile(file).find("ASPECT=-1\n"), std::string::npos);
}

TEST(SettingsWrite, ImmediateWritesTouchOnlyTheirKeyAndKeepOtherLines) {
    const CSettingsStore store = StoreWith("; my notes\n[TMPFLD]\ntemp folder=/keep/\n[BURN]\nburn disc=1\n");
    ASSERT_TRUE(store.WriteBurnDisc(false));
    ASSERT_TRUE(store.WriteDeleteTempFiles(true));
    ASSERT_TRUE(store.WriteShutdown(true));
    ASSERT_TRUE(store.WriteCreateMenu(true));
    const std::string text = ReadFile(store.File());
    EXPECT_EQ(text.rfind("; my notes\n", 0), 0u);
    EXPECT_NE(text.find("burn disc=0\n"), std::string::npos);
    EXPECT_NE(text.find("[DELTMPFILE]\ndelete temp files=1\n"), std::string::npos);
    EXPECT_NE(text.find("[SHUTDOWN]\nshutdown computer=1\n"), std::string::npos);
    EXPECT_NE(text.find("[DVDMENU]\ncreate dvd menu=1\n"), std::string::npos);
    const OutputSettings s = store.ReadSettings();
    EXPECT_EQ(s.tempFolder, "/keep/");
    EXPECT_FALSE(s.burnDisc);
    EXPECT_TRUE(s.shutdown);
    EXPECT_TRUE(s.createMenu);

    ASSERT_TRUE(store.WriteNoWriter());
    const OutputSettings n = store.ReadSettings();
    EXPECT_FALSE(n.burnDisc);
    EXPECT_FALSE(n.deleteTempFiles);
    EXPECT_TRUE(n.shutdown);
}

TEST(SettingsWrite, AFolderTooLongForTheFileIsRefusedNotCutAndTheOtherKeysStillSaved) {
    const CSettingsStore store = StoreWith("[TMPFLD]\ntemp folder=/old/\n");
    const std::string longFolder = "/" + std::string(300, 'x') + "/";
    const qx::Status st = store.SaveOutputSettings(longFolder, true, 1, true);
    EXPECT_FALSE(st.ok());
    EXPECT_FALSE(st.error().empty());
    const OutputSettings s = store.ReadSettings();
    EXPECT_EQ(s.tempFolder, "/old/");
    EXPECT_EQ(s.tv, TvStandard::Pal);
}

TEST(SettingsWrite, AnUnwritablePlaceReportsTheFailure) {
    const std::string blocker = FreshFolder("blocked") + "file";
    WriteFile(blocker, "not a folder");
    const CSettingsStore store(blocker + "/settings.ini");
    EXPECT_FALSE(store.WriteShutdown(true).ok());
    EXPECT_FALSE(store.SaveOutputSettings("/w/", false, 1, true).ok());
    EXPECT_EQ(ReadFile(blocker), "not a folder");
}

class TempFolderBrowser : public ::testing::Test {
protected:
    void SetUp() override { qx::SetPrompts(&prompts); }
    void TearDown() override { qx::SetPrompts(nullptr); }
    qx::ScriptedPromptService prompts;
};

TEST_F(TempFolderBrowser, AChosenFolderGetsItsTrailingSlash) {
    prompts.QueueFolder("/media/big disk/dvd");
    const TempFolderChoice c = BrowseTempFolder(nullptr);
    EXPECT_TRUE(c.chosen);
    EXPECT_EQ(c.folder, "/media/big disk/dvd/");
    ASSERT_EQ(prompts.Records().size(), 1u);
    EXPECT_EQ(prompts.Records()[0].kind, qx::PromptRecord::Kind::Folder);
    EXPECT_EQ(prompts.Records()[0].text, "Select DVD-video Temp folder");
}

TEST_F(TempFolderBrowser, CancellingChoosesNothing) {
    prompts.QueueFolder("");
    EXPECT_FALSE(BrowseTempFolder(nullptr).chosen);
    EXPECT_TRUE(prompts.BoxTexts().empty());
}

TEST_F(TempFolderBrowser, AFolderPathTooLongForTheSettingsIsRefusedWithAMessage) {
    const std::string deep = "/" + std::string(254, 'd'); // 255 characters, 256 with the slash
    prompts.QueueFolder(deep);
    EXPECT_FALSE(BrowseTempFolder(nullptr).chosen);
    ASSERT_EQ(prompts.BoxTexts().size(), 1u);
    EXPECT_NE(prompts.BoxTexts()[0].find("longer than 255 characters"), std::string::npos);

    prompts.QueueFolder("/" + std::string(253, 'd')); // exactly 255 with the slash
    EXPECT_TRUE(BrowseTempFolder(nullptr).chosen);
    // Characters, not bytes: 200 two-byte letters fit.
    std::string wide = "/";
    for (int i = 0; i < 200; ++i)
        wide += "\xc3\xa9";
    prompts.QueueFolder(wide);
    EXPECT_TRUE(BrowseTempFolder(nullptr).chosen);
}
