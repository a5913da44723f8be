// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/Error.h"
#include "settings/IniFile.h"
#include "settings/Settings.h"
#include "support/Files.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;
using rastrace::test::ReadBytes;
using rastrace::test::WriteBytes;
using rastrace::SettingsValues;

namespace {

// ---- INI text -------------------------------------------------------------

struct ReadCase {
    const char* name;
    std::string text;
    std::optional<std::string> expected;  // value of "XRES" in "CONFIG"
};

class IniRead : public testing::TestWithParam<ReadCase> {};

TEST_P(IniRead, FindsValueLikeProfileRead) {
    EXPECT_EQ(rastrace::ReadIniValue(GetParam().text, "CONFIG", "XRES"), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IniRead,
    testing::Values(
        ReadCase{"CrLf", "[CONFIG]\r\nXRES=600\r\n", "600"},
        ReadCase{"LfOnly", "[CONFIG]\nYRES=1\nXRES=7\n", "7"},
        ReadCase{"NoFinalLineEnd", "[CONFIG]\r\nXRES=7", "7"},
        ReadCase{"NamesIgnoreCase", "[config]\r\nxReS=7\r\n", "7"},
        ReadCase{"BlanksAroundNamesAndValue", "  [ CONFIG ]  \r\n \tXRES \t= \t7 8 \t\r\n", "7 8"},
        ReadCase{"TextAfterHeader", "[CONFIG] ; note\r\nXRES=7\r\n", "7"},
        ReadCase{"ValueHoldsEquals", "[CONFIG]\r\nXRES=a=b\r\n", "a=b"},
        ReadCase{"EmptyValue", "[CONFIG]\r\nXRES=\r\n", ""},
        ReadCase{"QuotesStripped", "[CONFIG]\r\nXRES=\" 7 \"\r\n", " 7 "},
        ReadCase{"LoneQuoteKept", "[CONFIG]\r\nXRES=\"\r\n", "\""},
        ReadCase{"OpenQuoteKept", "[CONFIG]\r\nXRES=\"7\r\n", "\"7"},
        ReadCase{"FirstKeyWins", "[CONFIG]\r\nXRES=1\r\nXRES=2\r\n", "1"},
        ReadCase{"FirstSectionWins", "[CONFIG]\r\nA=1\r\n[CONFIG]\r\nXRES=2\r\n", std::nullopt},
        ReadCase{"OtherSection", "[OTHER]\r\nXRES=1\r\n[CONFIG]\r\n", std::nullopt},
        ReadCase{"BeforeAnySection", "XRES=1\r\n[CONFIG]\r\n", std::nullopt},
        ReadCase{"CommentIsNoKey", "[CONFIG]\r\n;XRES=1\r\n", std::nullopt},
        ReadCase{"LineWithoutEquals", "[CONFIG]\r\nXRES\r\nXRES=2\r\n", "2"},
        ReadCase{"NoSection", "", std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(IniReadLength, ValueIsCutAtBufferSize) {
    const std::string exact(rastrace::kIniValueMaxLength, 'a');
    EXPECT_EQ(rastrace::ReadIniValue("[C]\r\nK=" + exact + "\r\n", "C", "K"), exact);
    EXPECT_EQ(rastrace::ReadIniValue("[C]\r\nK=" + exact + "bc\r\n", "C", "K"), exact);
}

struct WriteCase {
    const char* name;
    std::string before;
    std::string after;  // after writing A=new into section C
};

class IniWrite : public testing::TestWithParam<WriteCase> {};

TEST_P(IniWrite, ChangesOnlyTheKeysLine) {
    EXPECT_EQ(rastrace::WriteIniValue(GetParam().before, "C", "A", "new"), GetParam().after);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IniWrite,
    testing::Values(
        WriteCase{"EmptyText", "", "[C]\r\nA=new\r\n"},
        WriteCase{"ReplaceKeepsOthersAndSpelling",
                  "; head\n[X]\nA=old\n[c]\r\n; A=c\r\n  a \t= old \r\nB=2\n[C]\nA=3",
                  "; head\n[X]\nA=old\n[c]\r\n; A=c\r\n  a=new\r\nB=2\n[C]\nA=3"},
        WriteCase{"KeyAddedAtSectionEnd", "[C]\r\nB=2\r\n\r\n[D]\r\nE=5\r\n",
                  "[C]\r\nB=2\r\nA=new\r\n\r\n[D]\r\nE=5\r\n"},
        WriteCase{"KeyAddedToFirstOfTwin", "[C]\nB=1\n[C]\nA=2\n", "[C]\nB=1\nA=new\r\n[C]\nA=2\n"},
        WriteCase{"HeaderIsLastLine", "[C]", "[C]\r\nA=new\r\n"},
        WriteCase{"ReplaceLastLine", "[C]\nA=0", "[C]\nA=new\r\n"},
        WriteCase{"SectionAdded", "[D]\nA=5\n", "[D]\nA=5\n[C]\r\nA=new\r\n"},
        WriteCase{"SectionAddedAfterOpenLine", "[D]\nA=5", "[D]\nA=5\r\n[C]\r\nA=new\r\n"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Settings file --------------------------------------------------------


class SettingsFile : public testing::Test {
protected:
    void SetUp() override {
        dir_ = rastrace::test::MakeTempFolder("rastrace-settings-").string();
        path_ = dir_ + "/set.ini";
    }
    void TearDown() override {
        fs::permissions(dir_, fs::perms::owner_all);
        fs::remove_all(dir_);
    }
    size_t EntriesInDir() const {
        return static_cast<size_t>(std::distance(fs::directory_iterator(dir_), {}));
    }
    void ExpectUnableToWrite(const std::string& path) { ExpectUnableToWrite(path, path); }
    void ExpectUnableToWrite(const rastrace::SettingsLocation& location, const std::string& named) {
        try {
            rastrace::SaveSettings(location, SettingsValues{"1", "2", "3", 4});
            ADD_FAILURE() << "no error for " << named;
        } catch (const rastrace::Error& e) {
            EXPECT_STREQ(e.what(), ("Unable to write to " + named).c_str());
        }
    }

    std::string dir_;
    std::string path_;
};

void ExpectValues(const SettingsValues& got, const SettingsValues& want) {
    EXPECT_EQ(got.xres, want.xres);
    EXPECT_EQ(got.yres, want.yres);
    EXPECT_EQ(got.mil, want.mil);
    EXPECT_EQ(got.layer, want.layer);
}

TEST_F(SettingsFile, MissingFileGivesDefaults) {
    ExpectValues(rastrace::LoadSettings(path_), SettingsValues{});
}

TEST_F(SettingsFile, FirstWriteCreatesFiveLines) {
    rastrace::SaveSettings(path_, SettingsValues{});
    EXPECT_EQ(ReadBytes(path_), "[CONFIG]\r\nXRES=600\r\nYRES=600\r\nLAYER=0\r\nMIL=2\r\n");
    EXPECT_EQ(EntriesInDir(), 1u);  // no temporary file left behind
}

TEST_F(SettingsFile, WrittenValuesReadBack) {
    for (const SettingsValues& v : {SettingsValues{"", "", "", -1}, SettingsValues{"abc", "1 2", "0x10", 7},
                                    SettingsValues{"300", "1200", "10", 8}}) {
        rastrace::SaveSettings(path_, v);
        ExpectValues(rastrace::LoadSettings(path_), v);
    }
}

TEST_F(SettingsFile, ScanKeysAreWrittenOnlyAwayFromTheirDefaultsOrOverAValueThere) {
    SettingsValues v;
    v.tolerance = 64;
    v.overlay = true;
    rastrace::SaveSettings(path_, v);
    EXPECT_EQ(ReadBytes(path_), "[CONFIG]\r\nXRES=600\r\nYRES=600\r\nLAYER=0\r\nMIL=2\r\nTOLERANCE=64\r\nOVERLAY=1\r\n");
    const SettingsValues back = rastrace::LoadSettings(path_);
    EXPECT_EQ(back.tolerance, 64);
    EXPECT_EQ(back.despeckle, 0);
    EXPECT_TRUE(back.overlay);

    // Back at the defaults: the keys present take them, none is added.
    rastrace::SaveSettings(path_, SettingsValues{});
    EXPECT_EQ(ReadBytes(path_), "[CONFIG]\r\nXRES=600\r\nYRES=600\r\nLAYER=0\r\nMIL=2\r\nTOLERANCE=0\r\nOVERLAY=0\r\n");
    const SettingsValues defaults = rastrace::LoadSettings(path_);
    EXPECT_EQ(defaults.tolerance, 0);
    EXPECT_FALSE(defaults.overlay);

    WriteBytes(path_, "[CONFIG]\r\nTOLERANCE=abc\r\nDESPECKLE=$10\r\nOVERLAY=\r\n");
    const SettingsValues parsed = rastrace::LoadSettings(path_);
    EXPECT_EQ(parsed.tolerance, 0);   // not an integer: the default
    EXPECT_EQ(parsed.despeckle, 16);  // integer text, as LAYER
    EXPECT_FALSE(parsed.overlay);
}

// A whole board's bottom side has keys of its own, after every other one.
TEST_F(SettingsFile, BottomKeysAreWrittenOnlyOnceSetAndReadBack) {
    SettingsValues v;
    v.bottomTolerance = 45;
    rastrace::SaveSettings(path_, v);
    EXPECT_EQ(ReadBytes(path_), "[CONFIG]\r\nXRES=600\r\nYRES=600\r\nLAYER=0\r\nMIL=2\r\nBOTTOMTOLERANCE=45\r\n");
    v.bottomDespeckle = 9;
    rastrace::SaveSettings(path_, v);
    const SettingsValues back = rastrace::LoadSettings(path_);
    EXPECT_EQ(back.bottomTolerance, 45);
    EXPECT_EQ(back.bottomDespeckle, 9);
    EXPECT_EQ(back.tolerance, 0);
    rastrace::SaveSettings(path_, SettingsValues{});
    EXPECT_EQ(ReadBytes(path_),
              "[CONFIG]\r\nXRES=600\r\nYRES=600\r\nLAYER=0\r\nMIL=2\r\nBOTTOMTOLERANCE=0\r\nBOTTOMDESPECKLE=0\r\n");
}

TEST_F(SettingsFile, LanguageIsWrittenOnlyOnceChosenAndKeptAsRead) {
    rastrace::SaveSettings(path_, SettingsValues{});
    EXPECT_EQ(ReadBytes(path_), "[CONFIG]\r\nXRES=600\r\nYRES=600\r\nLAYER=0\r\nMIL=2\r\n");
    EXPECT_EQ(rastrace::LoadSettings(path_).language, "");

    SettingsValues v;
    v.language = "en";
    rastrace::SaveSettings(path_, v);
    EXPECT_EQ(ReadBytes(path_), "[CONFIG]\r\nXRES=600\r\nYRES=600\r\nLAYER=0\r\nMIL=2\r\nLANGUAGE=en\r\n");
    EXPECT_EQ(rastrace::LoadSettings(path_).language, "en");

    // A value this version does not know survives a load and a save.
    WriteBytes(path_, "[CONFIG]\r\nLANGUAGE=fr\r\n");
    rastrace::SaveSettings(path_, rastrace::LoadSettings(path_));
    EXPECT_EQ(ReadBytes(path_), "[CONFIG]\r\nLANGUAGE=fr\r\nXRES=600\r\nYRES=600\r\nLAYER=0\r\nMIL=2\r\n");
}

TEST_F(SettingsFile, SaveLanguageChangesOnlyItsKey) {
    WriteBytes(path_, "; mine\n[CONFIG]\nXRES=9\nLANGUAGE=zh\n[LAST]\nX=1");
    rastrace::SaveLanguage(path_, "en");
    EXPECT_EQ(ReadBytes(path_), "; mine\n[CONFIG]\nXRES=9\nLANGUAGE=en\r\n[LAST]\nX=1");
    EXPECT_EQ(EntriesInDir(), 1u);

    fs::remove(path_);
    rastrace::SaveLanguage(path_, "zh");  // a first start that chose at once
    EXPECT_EQ(ReadBytes(path_), "[CONFIG]\r\nLANGUAGE=zh\r\n");
    ExpectValues(rastrace::LoadSettings(path_), SettingsValues{});

    fs::create_directory(dir_ + "/folder");
    try {
        rastrace::SaveLanguage(std::string(dir_ + "/folder"), "en");
        ADD_FAILURE() << "no error for a folder";
    } catch (const rastrace::Error& e) {
        EXPECT_STREQ(e.what(), ("Unable to write to " + dir_ + "/folder").c_str());
    }
}

struct LoadCase {
    const char* name;
    std::string body;  // lines after [CONFIG]
    SettingsValues expected;
};

class SettingsLoad : public SettingsFile, public testing::WithParamInterface<LoadCase> {};

TEST_P(SettingsLoad, ReadsValues) {
    WriteBytes(path_, "[CONFIG]\r\n" + GetParam().body);
    ExpectValues(rastrace::LoadSettings(path_), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SettingsLoad,
    testing::Values(LoadCase{"LayerHex", "LAYER=0x5\r\n", {"600", "600", "2", 5}},
                    LoadCase{"LayerDollar", "LAYER=$5\r\n", {"600", "600", "2", 5}},
                    LoadCase{"LayerNotInteger", "LAYER=abc\r\n", {"600", "600", "2", 0}},
                    LoadCase{"LayerTrailingText", "LAYER=5a\r\n", {"600", "600", "2", 0}},
                    LoadCase{"LayerEmpty", "LAYER=\r\n", {"600", "600", "2", 0}},
                    LoadCase{"LayerBeyondBox", "LAYER=8\r\n", {"600", "600", "2", 8}},
                    LoadCase{"LayerNone", "LAYER=-1\r\n", {"600", "600", "2", -1}},
                    LoadCase{"EmptyTextNotDefault", "XRES=\r\nYRES=\r\nMIL=\r\n", {"", "", "", 0}},
                    LoadCase{"TextPassesThrough", "xres=abc\nmil=0x3\n", {"abc", "600", "0x3", 0}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SettingsFile, SaveKeepsEverythingElse) {
    WriteBytes(path_, "; mine\n[OTHER]\nXRES=9\n[CONFIG]\nMIL=abc\nKEEP=1\n\n[LAST]\nX=1");
    rastrace::SaveSettings(path_, rastrace::LoadSettings(path_));
    EXPECT_EQ(ReadBytes(path_),
              "; mine\n[OTHER]\nXRES=9\n[CONFIG]\nMIL=abc\r\nKEEP=1\nXRES=600\r\nYRES=600\r\n"
              "LAYER=0\r\n\n[LAST]\nX=1");
}

TEST_F(SettingsFile, SaveKeepsModeAndLinks) {
    const std::string target = dir_ + "/real.ini";
    WriteBytes(target, "[CONFIG]\r\nMIL=5\r\n");
    ::chmod(target.c_str(), 0640);
    fs::create_symlink(target, path_);
    rastrace::SaveSettings(path_, SettingsValues{});
    EXPECT_TRUE(fs::is_symlink(path_));
    EXPECT_EQ(fs::status(target).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(rastrace::LoadSettings(target).mil, "2");
}

TEST_F(SettingsFile, UnwritableFolderLeavesOldFile) {
    if (::geteuid() == 0) GTEST_SKIP() << "root writes into a read-only folder";
    const std::string old = "[CONFIG]\r\nXRES=old\r\n";
    WriteBytes(path_, old);
    ::chmod(dir_.c_str(), 0555);
    ExpectUnableToWrite(path_);
    EXPECT_EQ(ReadBytes(path_), old);
    EXPECT_EQ(EntriesInDir(), 1u);
}

TEST_F(SettingsFile, ReadOnlyFileStaysUnchanged) {
    if (::geteuid() == 0) GTEST_SKIP() << "root may write a read-only file";
    WriteBytes(path_, "[CONFIG]\r\n");
    ::chmod(path_.c_str(), 0444);
    ExpectUnableToWrite(path_);
    EXPECT_EQ(ReadBytes(path_), "[CONFIG]\r\n");
}

TEST_F(SettingsFile, FolderThatCannotHoldFiles) {
    ExpectUnableToWrite(dir_ + "/no-such-folder/set.ini");
    ExpectUnableToWrite("/proc/self/set.ini");
}

TEST_F(SettingsFile, UnreadableFileCountsAsMissingButIsNotReplaced) {
    fs::create_directory(path_);  // something that is there but cannot be read
    ExpectValues(rastrace::LoadSettings(path_), SettingsValues{});
    ExpectUnableToWrite(path_);
    EXPECT_TRUE(fs::is_directory(path_));
}

// A file-size limit makes the write fail half-way, as a full disk does.
TEST_F(SettingsFile, FailedWriteLeavesOldFileAndNoTemporary) {
    const std::string old = "[CONFIG]\r\nXRES=1\r\n";
    WriteBytes(path_, old);
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = 16;
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    ExpectUnableToWrite(path_);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(ReadBytes(path_), old);
    EXPECT_EQ(EntriesInDir(), 1u);
}

// ---- Where the file lives -------------------------------------------------

struct UserPathCase {
    const char* name;
    const char* xdgConfigHome;
    const char* home;
    std::string expected;
};

class UserSettingsPath : public testing::TestWithParam<UserPathCase> {};

TEST_P(UserSettingsPath, FollowsTheBaseDirectoryRules) {
    EXPECT_EQ(rastrace::UserSettingsFilePath(GetParam().xdgConfigHome, GetParam().home), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UserSettingsPath,
    testing::Values(UserPathCase{"ConfigHomeWins", "/cfg", "/home/u", "/cfg/rastrace/set.ini"},
                    UserPathCase{"ConfigHomeWithSlash", "/cfg/", "/home/u", "/cfg/rastrace/set.ini"},
                    UserPathCase{"ConfigHomeUnset", nullptr, "/home/u", "/home/u/.config/rastrace/set.ini"},
                    UserPathCase{"ConfigHomeEmpty", "", "/home/u", "/home/u/.config/rastrace/set.ini"},
                    UserPathCase{"ConfigHomeRelative", "cfg", "/home/u", "/home/u/.config/rastrace/set.ini"},
                    UserPathCase{"HomeIsRoot", nullptr, "/", "/.config/rastrace/set.ini"},
                    UserPathCase{"HomeRelative", nullptr, "home", ""},
                    UserPathCase{"NothingSet", nullptr, nullptr, ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SettingsChoice, WritableProgramFolderKeepsTheFileBesideTheExecutable) {
    std::string asked;
    const rastrace::SettingsLocation location = rastrace::ChooseSettingsLocation(
        "/opt/rt/set.ini", "/home/u/.config/rastrace/set.ini", [&](const std::string& folder) {
            asked = folder;
            return true;
        });
    EXPECT_EQ(asked, "/opt/rt/");
    EXPECT_EQ(location.file, "/opt/rt/set.ini");
    EXPECT_EQ(location.fallback, "");
    EXPECT_FALSE(location.makeFolder);
}

TEST(SettingsChoice, ReadOnlyProgramFolderTurnsToTheUsersFile) {
    const auto readOnly = [](const std::string&) { return false; };
    const rastrace::SettingsLocation location =
        rastrace::ChooseSettingsLocation("/usr/bin/set.ini", "/home/u/.config/rastrace/set.ini", readOnly);
    EXPECT_EQ(location.file, "/home/u/.config/rastrace/set.ini");
    EXPECT_EQ(location.fallback, "/usr/bin/set.ini");
    EXPECT_TRUE(location.makeFolder);

    // With no user folder to turn to, or no known executable, it stays as before.
    EXPECT_EQ(rastrace::ChooseSettingsLocation("/usr/bin/set.ini", "", readOnly).file, "/usr/bin/set.ini");
    EXPECT_EQ(rastrace::ChooseSettingsLocation("", "/home/u/.config/rastrace/set.ini", readOnly).file, "");
}

// A program folder that holds a set.ini, and a home folder, both fresh; the
// write permission of the program folder is what the test says it is, so the
// read-only case holds for root as well.
class SettingsInstall : public SettingsFile {
protected:
    void SetUp() override {
        SettingsFile::SetUp();
        programIni_ = dir_ + "/bin/set.ini";
        home_ = dir_ + "/home";
        userIni_ = home_ + "/.config/rastrace/set.ini";
        fs::create_directories(dir_ + "/bin");
        fs::create_directories(home_);
    }
    rastrace::SettingsLocation Start(bool programFolderWritable) const {
        return rastrace::ChooseSettingsLocation(programIni_, rastrace::UserSettingsFilePath(nullptr, home_.c_str()),
                                                [=](const std::string&) { return programFolderWritable; });
    }

    std::string programIni_;
    std::string home_;
    std::string userIni_;
};

TEST_F(SettingsInstall, ReadOnlyFolderDefaultsFirstThenTheUsersFileFromThenOn) {
    const std::string shipped = "; site defaults\r\n[CONFIG]\r\nXRES=1200\r\nYRES=1200\r\nLAYER=5\r\nMIL=8\r\n";
    WriteBytes(programIni_, shipped);

    // First start: the values beside the executable show.
    const rastrace::SettingsLocation first = Start(false);
    ExpectValues(rastrace::LoadSettings(first), SettingsValues{"1200", "1200", "8", 5});
    EXPECT_FALSE(fs::exists(home_ + "/.config"));  // reading makes nothing

    // Exit: the user's file is made with its folders, the shipped one is untouched.
    rastrace::SaveSettings(first, SettingsValues{"300", "1200", "8", 2});
    EXPECT_EQ(ReadBytes(userIni_), "[CONFIG]\r\nXRES=300\r\nYRES=1200\r\nLAYER=2\r\nMIL=8\r\n");
    EXPECT_EQ(ReadBytes(programIni_), shipped);
    EXPECT_EQ(fs::status(home_ + "/.config/rastrace").permissions() & fs::perms::all, fs::perms::owner_all);

    // From then on the user's file is read, whatever the shipped one says.
    WriteBytes(programIni_, "[CONFIG]\r\nXRES=50\r\n");
    const rastrace::SettingsLocation second = Start(false);
    ExpectValues(rastrace::LoadSettings(second), SettingsValues{"300", "1200", "8", 2});
    rastrace::SaveSettings(second, SettingsValues{"301", "1200", "8", -1});
    ExpectValues(rastrace::LoadSettings(Start(false)), SettingsValues{"301", "1200", "8", -1});
}

TEST_F(SettingsInstall, ReadOnlyFolderWithoutAFileStartsFromTheDefaults) {
    const rastrace::SettingsLocation location = Start(false);
    ExpectValues(rastrace::LoadSettings(location), SettingsValues{});
    rastrace::SaveSettings(location, SettingsValues{});
    EXPECT_EQ(ReadBytes(userIni_), "[CONFIG]\r\nXRES=600\r\nYRES=600\r\nLAYER=0\r\nMIL=2\r\n");
    EXPECT_FALSE(fs::exists(programIni_));
}

TEST_F(SettingsInstall, WritableFolderBehavesAsBefore) {
    const std::string old = "[CONFIG]\r\nXRES=7\r\n";
    WriteBytes(programIni_, old);
    WriteBytes(dir_ + "/reference.ini", old);
    const rastrace::SettingsLocation location = Start(true);
    ExpectValues(rastrace::LoadSettings(location), rastrace::LoadSettings(dir_ + "/reference.ini"));
    rastrace::SaveSettings(location, SettingsValues{"1", "2", "3", 4});
    rastrace::SaveSettings(dir_ + "/reference.ini", SettingsValues{"1", "2", "3", 4});
    EXPECT_EQ(ReadBytes(programIni_), ReadBytes(dir_ + "/reference.ini"));
    EXPECT_FALSE(fs::exists(home_ + "/.config"));
}

TEST_F(SettingsInstall, UsersFileThatCannotBeMadeIsTheErrorAndTheDefaultStays) {
    WriteBytes(programIni_, "[CONFIG]\r\nXRES=7\r\n");
    WriteBytes(home_ + "/.config", "a file where the folder should be");
    const rastrace::SettingsLocation location = Start(false);
    EXPECT_EQ(rastrace::LoadSettings(location).xres, "7");
    ExpectUnableToWrite(location, userIni_);
    EXPECT_EQ(ReadBytes(programIni_), "[CONFIG]\r\nXRES=7\r\n");
}

TEST_F(SettingsInstall, UsersFileThatExistsButCannotBeReadGivesDefaultsNotTheShippedFile) {
    WriteBytes(programIni_, "[CONFIG]\r\nXRES=7\r\n");
    fs::create_directories(userIni_);  // there, but not a file
    const rastrace::SettingsLocation location = Start(false);
    ExpectValues(rastrace::LoadSettings(location), SettingsValues{});
    ExpectUnableToWrite(location, userIni_);
}

TEST_F(SettingsInstall, ALanguageChosenBeforeTheFirstExitKeepsTheShippedValues) {
    const std::string shipped = "[CONFIG]\r\nXRES=1200\r\nYRES=1200\r\nLAYER=5\r\nMIL=8\r\n";
    WriteBytes(programIni_, shipped);
    rastrace::SaveLanguage(Start(false), "en");
    EXPECT_EQ(ReadBytes(userIni_), "[CONFIG]\r\nXRES=1200\r\nYRES=1200\r\nLAYER=5\r\nMIL=8\r\nLANGUAGE=en\r\n");
    EXPECT_EQ(ReadBytes(programIni_), shipped);
    EXPECT_EQ(rastrace::LoadSettings(Start(false)).language, "en");
}

TEST(SettingsPath, IsBesideTheExecutable) {
    const fs::path path = rastrace::SettingsFilePath();
    EXPECT_EQ(path.filename(), "set.ini");
    EXPECT_TRUE(path.is_absolute());
    EXPECT_TRUE(fs::exists(path.parent_path() / "test_settings"));
}

}  // namespace
