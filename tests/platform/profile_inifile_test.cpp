// The settings file: reading rules, writes that keep the rest of the file, atomic
// replacement, the configuration directory and the write failure message.

#include "platform/profile/IniFile.h"
#include "platform/profile/Profile.h"
#include "platform/runtime/Exceptions.h"
#include "support/Peers.h"
#include "support/Pump.h"

#include <cstdlib>
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace std::string_literals;
using vt::test::ReadFile;
using vt::test::WriteFile;

namespace {

class ProfileIniFile : public ::testing::Test {
protected:
    void SetUp() override {
        FDir = vt::test::MakeTempDir("vt-ini");
        FPath = FDir + "/settings.ini";
    }
    void TearDown() override { vt::test::RemoveTree(FDir); }

    std::vector<std::string> DirEntries() const {
        std::vector<std::string> names;
        if (DIR* d = opendir(FDir.c_str())) {
            while (const dirent* e = readdir(d)) {
                const std::string name = e->d_name;
                if (name != "." && name != "..") names.push_back(name);
            }
            closedir(d);
        }
        return names;
    }

    std::string FDir;
    std::string FPath;
};

TEST_F(ProfileIniFile, StringsAndIntegersRoundTripThroughANewFile) {
    TIniFile ini(FPath);
    ini.WriteString("Data", "URL", "^GSPC");
    ini.WriteString("Data", "ProxyHost", "");
    ini.WriteInteger("Window", "Width", 500);
    ini.WriteInteger("Window", "Left", -12);
    EXPECT_EQ(ReadFile(FPath), "[Data]\nURL=^GSPC\nProxyHost=\n\n[Window]\nWidth=500\nLeft=-12\n");

    TIniFile again(FPath);
    EXPECT_EQ(again.ReadString("Data", "URL", "vtrx"), "^GSPC");
    EXPECT_EQ(again.ReadInteger("Window", "Width", 1), 500);
    EXPECT_EQ(again.ReadInteger("Window", "Left", 1), -12);
}

TEST_F(ProfileIniFile, DefaultOnlyWhenFileSectionOrKeyIsMissing) {
    TIniFile missingFile(FDir + "/none.ini");
    EXPECT_EQ(missingFile.ReadString("Data", "URL", "vtrx"), "vtrx");
    EXPECT_EQ(missingFile.ReadInteger("Window", "Top", 111), 111);

    WriteFile(FPath, "[Data]\nURL=\nProxyPort=8080\n");
    TIniFile ini(FPath);
    EXPECT_EQ(ini.ReadString("Data", "URL", "vtrx"), "") << "present but empty";
    EXPECT_EQ(ini.ReadString("Data", "FileName", "vtrx"), "vtrx") << "missing key";
    EXPECT_EQ(ini.ReadString("vtrx", "button1", "x"), "x") << "missing section";
    EXPECT_EQ(ini.ReadString("Data", "ProxyPort", "80"), "8080");
}

TEST_F(ProfileIniFile, ReadIntegerConversionRules) {
    WriteFile(FPath, "[Window]\n"
                     "hex=0x1F4\nHEX=1\nupper=0X1f4\ndollar=$1F4\nbare=1F4\nempty=\n"
                     "signed=-42\nplus=+7\nzerox=0x\nblankhex=0x 1\ntrail=12a\n"
                     "max=2147483647\nmin=-2147483648\nover=2147483648\n"
                     "allbits=$FFFFFFFF\nhexover=$100000000\ndollaronly=$\nsignonly=-\n"
                     "minusdollar=-$10\n");
    TIniFile ini(FPath);
    const int d = 77;
    EXPECT_EQ(ini.ReadInteger("Window", "hex", d), 500);
    EXPECT_EQ(ini.ReadInteger("window", "HEX", d), 500) << "first of the case-blind keys wins";
    EXPECT_EQ(ini.ReadInteger("Window", "upper", d), 500);
    EXPECT_EQ(ini.ReadInteger("Window", "dollar", d), 500);
    EXPECT_EQ(ini.ReadInteger("Window", "bare", d), d);
    EXPECT_EQ(ini.ReadInteger("Window", "empty", d), d);
    EXPECT_EQ(ini.ReadInteger("Window", "missing", d), d);
    EXPECT_EQ(ini.ReadInteger("Window", "signed", d), -42);
    EXPECT_EQ(ini.ReadInteger("Window", "plus", d), 7);
    EXPECT_EQ(ini.ReadInteger("Window", "zerox", d), d) << "two characters are not replaced";
    EXPECT_EQ(ini.ReadInteger("Window", "blankhex", d), d);
    EXPECT_EQ(ini.ReadInteger("Window", "trail", d), d);
    EXPECT_EQ(ini.ReadInteger("Window", "max", d), 2147483647);
    EXPECT_EQ(ini.ReadInteger("Window", "min", d), -2147483647 - 1);
    EXPECT_EQ(ini.ReadInteger("Window", "over", d), d);
    EXPECT_EQ(ini.ReadInteger("Window", "allbits", d), -1);
    EXPECT_EQ(ini.ReadInteger("Window", "hexover", d), d);
    EXPECT_EQ(ini.ReadInteger("Window", "dollaronly", d), d);
    EXPECT_EQ(ini.ReadInteger("Window", "signonly", d), d);
    EXPECT_EQ(ini.ReadInteger("Window", "minusdollar", d), d);

    int value = 0;
    EXPECT_TRUE(vt::ConvertProfileInteger("   15", value));
    EXPECT_EQ(value, 15);
    EXPECT_FALSE(vt::ConvertProfileInteger("15 ", value));
}

TEST_F(ProfileIniFile, LongValuesAreCutTo1023Characters) {
    const std::string longValue(1500, 'a');
    TIniFile ini(FPath);
    ini.WriteString("Data", "URL", longValue + "b");
    EXPECT_EQ(ReadFile(FPath), "[Data]\nURL=" + longValue + "b\n") << "stored whole";
    EXPECT_EQ(ini.ReadString("Data", "URL", ""), std::string(1023, 'a'));

    ini.WriteString("Data", "Exact", std::string(1023, 'c'));
    EXPECT_EQ(ini.ReadString("Data", "Exact", ""), std::string(1023, 'c'));
}

TEST_F(ProfileIniFile, SectionsAndKeysAreCaseBlind) {
    TIniFile ini(FPath);
    ini.WriteString("Data", "URL", "one");
    ini.WriteString("DATA", "url", "two");
    EXPECT_EQ(ReadFile(FPath), "[Data]\nURL=two\n") << "the existing line is updated";
    EXPECT_EQ(ini.ReadString("data", "Url", ""), "two");
}

TEST_F(ProfileIniFile, WritesKeepEveryOtherLineByteForByte) {
    const std::string before = "; settings\r\n"
                               "orphan=before any section\r\n"
                               "\r\n"
                               "[Data]\r\n"
                               "  URL = old value  \r\n"
                               "not a key line\r\n"
                               "ProxyHost=proxy\r\n"
                               "\r\n"
                               "# trailing comment\r\n"
                               "[Window]\r\n"
                               "Top=5";
    WriteFile(FPath, before);
    TIniFile ini(FPath);
    ini.WriteString("Data", "URL", "new");
    ini.WriteString("Data", "FileName", "vtrx.gif");
    ini.WriteString("Window", "Left", "7");
    ini.WriteString("vtrx", "button1", "");
    EXPECT_EQ(ReadFile(FPath), "; settings\r\n"
                               "orphan=before any section\r\n"
                               "\r\n"
                               "[Data]\r\n"
                               "  URL = new\r\n"
                               "not a key line\r\n"
                               "ProxyHost=proxy\r\n"
                               "FileName=vtrx.gif\r\n"
                               "\r\n"
                               "# trailing comment\r\n"
                               "[Window]\r\n"
                               "Top=5\r\n"
                               "Left=7\r\n"
                               "\r\n"
                               "[vtrx]\r\n"
                               "button1=\r\n");
    EXPECT_EQ(ini.ReadString("Data", "orphan", "none"), "none") << "keys before any section";
    EXPECT_EQ(ini.ReadString("Window", "Top", ""), "5");
}

TEST_F(ProfileIniFile, ALastLineEndingInABareCarriageReturnGetsNothingGluedOn) {
    // The section's last entry, and then a file whose last line is another section's.
    for (const std::string& before : {"[Data]\r\nA=1\r"s, "[Data]\nA=1\r"s, "[Other]\r"s}) {
        SCOPED_TRACE(before);
        WriteFile(FPath, before);
        TIniFile ini(FPath);
        ini.WriteString("Data", "B", "2");
        EXPECT_EQ(ini.ReadString("Data", "B", "default"), "2");
        ini.WriteString("Data", "C", "3");
        EXPECT_EQ(ini.ReadString("Data", "C", "default"), "3");
        if (before.starts_with("[Data]")) {
            EXPECT_EQ(ini.ReadString("Data", "A", ""), "1");
        }
        const std::string after = ReadFile(FPath);
        EXPECT_EQ(after.substr(0, before.size()), before); // the old bytes stay as they were
    }
}

TEST_F(ProfileIniFile, ValuesWithOuterBlanksOrQuotesReadBackUnchanged) {
    TIniFile ini(FPath);
    for (const std::string value : {" lead", "trail ", "\"quoted\"", "\"", "a = b", "  "}) {
        ini.WriteString("Data", "v", value);
        EXPECT_EQ(ini.ReadString("Data", "v", "?"), value);
    }
    WriteFile(FPath, "[Data]\nv=  \"in quotes\"  \n");
    EXPECT_EQ(ini.ReadString("Data", "v", "?"), "in quotes");
}

TEST_F(ProfileIniFile, DuplicateSectionsReadAndWriteTheSameLine) {
    WriteFile(FPath, "[A]\nx=1\n[B]\ny=2\n[a]\nz=3\n");
    TIniFile ini(FPath);
    EXPECT_EQ(ini.ReadString("A", "z", ""), "3");
    ini.WriteString("A", "z", "4");
    ini.WriteString("A", "w", "5");
    EXPECT_EQ(ReadFile(FPath), "[A]\nx=1\nw=5\n[B]\ny=2\n[a]\nz=4\n");
}

TEST_F(ProfileIniFile, DeleteKeyAndEraseSection) {
    WriteFile(FPath, "[A]\nx=1\ny=2\n[B]\nz=3\n[a]\nq=4\n");
    TIniFile ini(FPath);
    ini.DeleteKey("A", "Y");
    EXPECT_EQ(ReadFile(FPath), "[A]\nx=1\n[B]\nz=3\n[a]\nq=4\n");
    ini.EraseSection("a");
    EXPECT_EQ(ReadFile(FPath), "[B]\nz=3\n");
    ini.DeleteKey("B", "missing");
    EXPECT_EQ(ReadFile(FPath), "[B]\nz=3\n");
}

TEST_F(ProfileIniFile, JunkFilesAreReadLeniently) {
    const char raw[] = "\0\xff\xfe[Data\n=\n[]\n]]]\n[Data]\nURL=ok\n";
    std::string junk(raw, sizeof raw - 1);
    junk += std::string("\x01\x02=\x03\n", 5);
    junk += std::string(100000, '\x7f');
    WriteFile(FPath, junk);
    TIniFile ini(FPath);
    EXPECT_EQ(ini.ReadString("Data", "URL", "d"), "ok");
    EXPECT_EQ(ini.ReadString("Data", "other", "d"), "d");
    ini.WriteString("Data", "URL", "new");
    std::string expected = junk;
    expected.replace(expected.find("URL=ok"), 6, "URL=new");
    EXPECT_EQ(ReadFile(FPath), expected);

    const std::string dirAsFile = FDir + "/sub.ini";
    ASSERT_EQ(mkdir(dirAsFile.c_str(), 0700), 0);
    EXPECT_EQ(TIniFile(dirAsFile).ReadString("Data", "URL", "d"), "d");
    EXPECT_THROW(TIniFile(dirAsFile).WriteString("Data", "URL", "x"), EIniFileException);
}

TEST_F(ProfileIniFile, APipeInPlaceOfTheFileNeverBlocks) {
    vt::test::Watchdog dog(10, "reading a pipe");
    ASSERT_EQ(mkfifo(FPath.c_str(), 0600), 0);
    TIniFile ini(FPath);
    EXPECT_EQ(ini.ReadString("Data", "URL", "d"), "d");
    EXPECT_THROW(ini.WriteString("Data", "URL", "x"), EIniFileException);
}

TEST_F(ProfileIniFile, ReplacementIsAtomicAndKeepsPermissions) {
    WriteFile(FPath, "[Data]\nURL=a\n");
    ASSERT_EQ(chmod(FPath.c_str(), 0640), 0);
    struct stat before {};
    ASSERT_EQ(stat(FPath.c_str(), &before), 0);

    TIniFile(FPath).WriteString("Data", "URL", "b");
    struct stat after {};
    ASSERT_EQ(stat(FPath.c_str(), &after), 0);
    EXPECT_NE(before.st_ino, after.st_ino) << "a new file renamed over the old one";
    EXPECT_EQ(after.st_mode & 07777, 0640u);
    EXPECT_EQ(DirEntries(), std::vector<std::string>{"settings.ini"}) << "no temporary left";
}

TEST_F(ProfileIniFile, WritesThroughASymbolicLinkReplaceItsTarget) {
    const std::string real = FDir + "/real.ini";
    WriteFile(real, "[Data]\nURL=a\n");
    ASSERT_EQ(symlink(real.c_str(), FPath.c_str()), 0);
    TIniFile(FPath).WriteString("Data", "URL", "b");
    struct stat st {};
    ASSERT_EQ(lstat(FPath.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(ReadFile(real), "[Data]\nURL=b\n");
}

TEST_F(ProfileIniFile, FailedWriteRaisesTheMessageAndLeavesTheFile) {
    const std::string blocker = FDir + "/plainfile";
    WriteFile(blocker, "x");
    const std::string unreachable = blocker + "/settings.ini";
    TIniFile ini(unreachable);
    try {
        ini.WriteString("Data", "URL", "a");
        FAIL() << "no error raised";
    } catch (const EIniFileException& e) {
        EXPECT_EQ(e.Message(), "Unable to write to " + unreachable);
    }
    EXPECT_THROW(ini.WriteInteger("Window", "Top", 1), EIniFileException);

    // Text that would break the line structure is refused, not written.
    WriteFile(FPath, "[Data]\nURL=a\n");
    TIniFile good(FPath);
    EXPECT_THROW(good.WriteString("Data", "URL", "a\n[Evil]\nx=1"), EIniFileException);
    EXPECT_THROW(good.WriteString("Da]ta", "URL", "a"), EIniFileException);
    EXPECT_THROW(good.WriteString("Data", "U=RL", "a"), EIniFileException);
    EXPECT_THROW(good.WriteString("Data", "[URL", "a"), EIniFileException);
    EXPECT_EQ(ReadFile(FPath), "[Data]\nURL=a\n");
}

TEST_F(ProfileIniFile, UnwritableDirectoryRaisesTheMessage) {
    if (geteuid() == 0) GTEST_SKIP() << "root writes into read-only directories";
    const std::string locked = FDir + "/locked";
    ASSERT_EQ(mkdir(locked.c_str(), 0500), 0);
    TIniFile ini(locked + "/settings.ini");
    try {
        ini.WriteString("Data", "URL", "a");
        FAIL() << "no error raised";
    } catch (const EIniFileException& e) {
        EXPECT_EQ(e.Message(), "Unable to write to " + locked + "/settings.ini");
    }
}

// Names without a directory live in the configuration directory.
class ProfileLocation : public ProfileIniFile {
protected:
    void SetUp() override {
        ProfileIniFile::SetUp();
        Save("XDG_CONFIG_HOME", FSavedXdg);
        Save("HOME", FSavedHome);
    }
    void TearDown() override {
        Restore("XDG_CONFIG_HOME", FSavedXdg);
        Restore("HOME", FSavedHome);
        ProfileIniFile::TearDown();
    }
    static void Save(const char* name, std::optional<std::string>& slot) {
        if (const char* v = std::getenv(name)) slot = v;
    }
    static void Restore(const char* name, const std::optional<std::string>& slot) {
        if (slot) {
            setenv(name, slot->c_str(), 1);
        } else {
            unsetenv(name);
        }
    }
    std::optional<std::string> FSavedXdg, FSavedHome;
};

TEST_F(ProfileLocation, BareNamesGoToXdgConfigHomeCreatedOnWrite) {
    const std::string config = FDir + "/cfg/nested";
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    EXPECT_EQ(vt::ProfilePath("chartview.ini"), config + "/chartview.ini");
    TIniFile ini("chartview.ini");
    EXPECT_EQ(ini.ReadString("Data", "URL", "vtrx"), "vtrx");
    ini.WriteString("Data", "URL", "IBM");
    EXPECT_EQ(ReadFile(config + "/chartview.ini"), "[Data]\nURL=IBM\n");
    EXPECT_EQ(ini.ReadString("Data", "URL", "vtrx"), "IBM");
}

TEST_F(ProfileLocation, WithoutXdgConfigHomeBareNamesGoToDotConfig) {
    unsetenv("XDG_CONFIG_HOME");
    setenv("HOME", FDir.c_str(), 1);
    EXPECT_EQ(vt::ProfilePath("vieini"), FDir + "/.config/vieini");
    setenv("XDG_CONFIG_HOME", "relative/dir", 1);
    EXPECT_EQ(vt::ProfilePath("vieini"), FDir + "/.config/vieini") << "relative value ignored";
    TIniFile("vieini").WriteInteger("Window", "Top", 3);
    EXPECT_EQ(ReadFile(FDir + "/.config/vieini"), "[Window]\nTop=3\n");
    EXPECT_EQ(vt::ProfilePath("./local.ini"), "./local.ini");
}

TEST_F(ProfileIniFile, PrivateProfileFunctionsCutAndListLikeWindows) {
    WriteFile(FPath, "[One]\na=hello\nB=2\nA=dup\n[two]\n[ONE]\nc=3\n");
    char buf[8];
    EXPECT_EQ(GetPrivateProfileString("one", "a", "d", buf, 4, FPath.c_str()), 3u);
    EXPECT_STREQ(buf, "hel");
    EXPECT_EQ(GetPrivateProfileString("one", "x", "default", buf, 5, FPath.c_str()), 4u);
    EXPECT_STREQ(buf, "defa");
    EXPECT_EQ(GetPrivateProfileString("one", "x", nullptr, buf, 5, FPath.c_str()), 0u);
    EXPECT_STREQ(buf, "");

    char list[32];
    DWORD n = GetPrivateProfileString(nullptr, nullptr, "", list, sizeof list, FPath.c_str());
    EXPECT_EQ(std::string(list, n + 1), std::string("One\0two\0\0", 9));
    n = GetPrivateProfileString("one", nullptr, "", list, sizeof list, FPath.c_str());
    EXPECT_EQ(std::string(list, n + 1), std::string("a\0B\0c\0\0", 7));
    n = GetPrivateProfileString("one", nullptr, "", list, 5, FPath.c_str());
    EXPECT_EQ(n, 3u);
    EXPECT_EQ(std::string(list, 5), std::string("a\0B\0\0", 5)) << "cut list ends in two NULs";

    EXPECT_TRUE(WritePrivateProfileString("two", "k", "v", FPath.c_str()));
    EXPECT_TRUE(WritePrivateProfileString("one", "B", nullptr, FPath.c_str()));
    EXPECT_EQ(ReadFile(FPath), "[One]\na=hello\nA=dup\n[two]\nk=v\n[ONE]\nc=3\n");
    EXPECT_FALSE(WritePrivateProfileString(nullptr, "k", "v", FPath.c_str()));
    EXPECT_FALSE(WritePrivateProfileString("two", "k", "v", ""));
}

} // namespace
