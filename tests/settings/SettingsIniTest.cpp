#include "FileIO.h"
#include "SettingsIni.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace korvalin {
namespace {

namespace fs = std::filesystem;

class SettingsFile : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "korvalin-ini.XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        FDir = pattern;
        FFile = (FDir / "Velthane" / "Korvalin" / "settings.ini").string();
    }
    void TearDown() override { fs::remove_all(FDir); }

    void Put(const std::string& text) const {
        fs::create_directories(fs::path(FFile).parent_path());
        WriteFileAtomically(FFile, std::string_view(text));
    }
    std::string Get() const {
        const auto bytes = ReadWholeFile(FFile);
        return std::string(bytes.begin(), bytes.end());
    }

    fs::path FDir;
    std::string FFile;
};

TEST_F(SettingsFile, CountAboveTenLoadsTheFirstTen) {
    std::string text = "[Recent]\r\nCount=25\r\n";
    for (int i = 0; i < 25; ++i) text += "Path" + std::to_string(i) + "=/m/" + std::to_string(i) + ".mid\r\n";
    Put(text);
    const auto entries = LoadRecentEntries(FFile);
    ASSERT_EQ(entries.size(), 10u);
    EXPECT_EQ(entries.front().Path, "/m/0.mid");
    EXPECT_EQ(entries.back().Path, "/m/9.mid");
}

TEST_F(SettingsFile, EmptyPathIsSkippedAndLaterEntriesKeepTheirOwnMark) {
    Put("\xEF\xBB\xBF[Recent]\nCount=3\nPath0=/a.mid\nSaved0=0\nPath1=\nSaved1=0\nPath2=/c.mid\nSaved2=1\n");
    const std::vector<TRecentEntry> expected{{"/a.mid", false}, {"/c.mid", true}};
    EXPECT_EQ(LoadRecentEntries(FFile), expected);
}

TEST_F(SettingsFile, IntegersAreDecimalOrHexadecimalAndAnythingElseIsTheDefault) {
    TIniFile ini;
    ini.LoadFromBytes("[S]\nA=0x1F\nB=$A\nC=-$a\nD= 42 \nE=12abc\nF=0x\nG=\nH=99999999999\nI=-2147483648\n");
    EXPECT_EQ(ini.ReadInteger("s", "a", -1), 31);
    EXPECT_EQ(ini.ReadInteger("S", "B", -1), 10);
    EXPECT_EQ(ini.ReadInteger("S", "C", -1), -10);
    EXPECT_EQ(ini.ReadInteger("S", "D", -1), 42);
    for (const char* key : {"E", "F", "G", "H", "missing"}) EXPECT_EQ(ini.ReadInteger("S", key, -1), -1) << key;
    EXPECT_EQ(ini.ReadInteger("S", "I", 0), -2147483647 - 1);

    Put("[Recent]\r\nCount=$2\r\nPath0=/a.mid\r\nSaved0=yes\r\nPath1=/b.mid\r\nSaved1=0x1F\r\n");
    const std::vector<TRecentEntry> expected{{"/a.mid", false}, {"/b.mid", true}};
    EXPECT_EQ(LoadRecentEntries(FFile), expected);
}

TEST_F(SettingsFile, SaveReplacesOnlyTheRecentSectionInPlace) {
    const std::string before = "; hand-written\r\n\r\n[Other]\r\n  Key = spaced value \r\n# note\r\n\r\n";
    const std::string after = "\r\n; about the window\r\n[Window]\r\nx=1";
    Put(before + "[recent]\r\nCount=2\r\n; old comment\r\nPath0=/old.mid\r\nSaved0=1\r\nPath1=/x.mid\r\n" + after);
    SaveRecentEntries(FFile, std::vector<TRecentEntry>{{"/new.mid", true}});
    EXPECT_EQ(Get(),
              "\xEF\xBB\xBF" + before + "[Recent]\r\nCount=1\r\nPath0=/new.mid\r\nSaved0=1\r\n" + after + "\r\n");
}

TEST_F(SettingsFile, SaveAppendsTheSectionAndMergesDuplicates) {
    Put("[A]\nk=v\n[Recent]\nCount=1\nPath0=/dup.mid\n[B]\n[RECENT]\nPath1=/dup2.mid\n");
    SaveRecentEntries(FFile, std::vector<TRecentEntry>{{"/a.mid", false}});
    EXPECT_EQ(Get(), "\xEF\xBB\xBF[A]\r\nk=v\r\n[Recent]\r\nCount=1\r\nPath0=/a.mid\r\nSaved0=0\r\n[B]\r\n");

    Put("[A]\nk=v");
    SaveRecentEntries(FFile, std::vector<TRecentEntry>{});
    EXPECT_EQ(Get(), "\xEF\xBB\xBF[A]\r\nk=v\r\n[Recent]\r\nCount=0\r\n");
}

TEST_F(SettingsFile, PathsSurviveTheRoundTripOrAreLeftOut) {
    const std::vector<TRecentEntry> entries{
        {"/m/edge space.mid ", true}, {"\"/quoted\"", false}, {"/bad\nname.mid", true}, {"/m/a=b;#[c].mid", false}};
    SaveRecentEntries(FFile, entries);
    const std::vector<TRecentEntry> expected{entries[0], entries[1], entries[3]};
    EXPECT_EQ(LoadRecentEntries(FFile), expected);
}

TEST_F(SettingsFile, MissingOrUnreadableFileGivesAnEmptyHistory) {
    EXPECT_TRUE(LoadRecentEntries(FFile).empty());
    fs::create_directories(FFile);  // a folder where the file should be
    EXPECT_TRUE(LoadRecentEntries(FFile).empty());
    EXPECT_THROW(SaveRecentEntries(FFile, std::vector<TRecentEntry>{{"/a.mid", true}}), EFileError);
    EXPECT_TRUE(fs::is_directory(FFile));
}

TEST_F(SettingsFile, FailedSaveThrowsAndLeavesTheFileAsItWas) {
    const std::string blocker = (FDir / "afile").string();
    WriteFileAtomically(blocker, std::string_view("not a folder"));
    EXPECT_THROW(SaveRecentEntries(blocker + "/settings.ini", std::vector<TRecentEntry>{{"/a.mid", true}}), EFileError);

    // UTF-16 would be corrupted by a line-based rewrite, so it is refused whole.
    const std::string utf16("\xFF\xFE[\0R\0]\0\r\0\n\0", 12);
    Put(utf16);
    EXPECT_TRUE(LoadRecentEntries(FFile).empty());
    EXPECT_THROW(SaveRecentEntries(FFile, std::vector<TRecentEntry>{{"/a.mid", true}}), EIniError);
    EXPECT_EQ(Get(), utf16);
}

TEST_F(SettingsFile, TheSoundFontIsStoredBesideTheRestAndEmptyMeansTheDefault) {
    EXPECT_EQ(LoadSoundFontFile(FFile), "");
    SaveRecentEntries(FFile, std::vector<TRecentEntry>{{"/a.mid", false}});
    SaveSoundFontFile(FFile, "/home/u/My Sounds/piano.sf2");
    EXPECT_EQ(LoadSoundFontFile(FFile), "/home/u/My Sounds/piano.sf2");
    EXPECT_EQ(LoadRecentEntries(FFile), (std::vector<TRecentEntry>{{"/a.mid", false}}));
    SaveSoundFontFile(FFile, "");
    EXPECT_EQ(LoadSoundFontFile(FFile), "");
    // A path the ini file cannot hold is refused, and the stored one stays.
    SaveSoundFontFile(FFile, "/b.sf2");
    EXPECT_THROW(SaveSoundFontFile(FFile, "/x\n.sf2"), EIniError);
    EXPECT_EQ(LoadSoundFontFile(FFile), "/b.sf2");
}

TEST(IniFile, SettingsPathJoinsWithOneSeparator) {
    EXPECT_EQ(SettingsFilePath("/home/u/.config/"), "/home/u/.config/Velthane/Korvalin/settings.ini");
    EXPECT_EQ(SettingsFilePath("/"), "/Velthane/Korvalin/settings.ini");
    EXPECT_EQ(SettingsFilePath(""), "Velthane/Korvalin/settings.ini");
}

TEST(IniFile, RefusesNamesThatWouldChangeTheFileStructure) {
    TIniFile ini;
    EXPECT_THROW(ini.WriteString("S", "a=b", "v"), EIniError);
    EXPECT_THROW(ini.WriteString("S", ";k", "v"), EIniError);
    EXPECT_THROW(ini.WriteString(" ", "k", "v"), EIniError);
    EXPECT_THROW(ini.WriteString("S", "k", "one\r\ntwo"), EIniError);
    ini.WriteString(" S ", "K", "v");
    ini.WriteString("s", "k", "w");
    EXPECT_EQ(ini.SaveToBytes(), "\xEF\xBB\xBF[S]\r\nK=w\r\n");
}

}  // namespace
}  // namespace korvalin
