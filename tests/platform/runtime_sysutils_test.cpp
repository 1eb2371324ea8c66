#include "platform/runtime/Exceptions.h"
#include "platform/runtime/SysUtils.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <limits>
#include <unistd.h>

namespace {

std::string ConvertMessage(const std::string& s) {
    try {
        StrToInt(s);
    } catch (const EConvertError& e) {
        return e.Message();
    }
    return "no error";
}

} // namespace

TEST(RuntimeFormat, PrintfStyleFieldsAndLongResults) {
    EXPECT_EQ(Format("%d|%X|%x|%s", -42, 0xBEEFu, 0xBEEFu, "abc"), "-42|BEEF|beef|abc");
    EXPECT_EQ(Format("Error %d in function %s", 10061, "connect"),
              "Error 10061 in function connect");
    EXPECT_EQ(Format("%5d|%-4s|%03d", 7, "ab", 5), "    7|ab  |005");
    // Longer than any small internal buffer: nothing may be cut off.
    const std::string big(1000, 'x');
    const std::string out = Format("<%s>", big.c_str());
    ASSERT_EQ(out.size(), 1002u);
    EXPECT_EQ(out.front(), '<');
    EXPECT_EQ(out.back(), '>');
    EXPECT_EQ(out.substr(1, 1000), big);
}

TEST(RuntimeIntText, IntToStrAndIntToHex) {
    EXPECT_EQ(IntToStr(0), "0");
    EXPECT_EQ(IntToStr(-2147483647 - 1), "-2147483648");
    EXPECT_EQ(IntToStr(std::int64_t{1} << 40), "1099511627776");
    EXPECT_EQ(IntToHex(255, 2), "FF");
    EXPECT_EQ(IntToHex(255, 4), "00FF");
    EXPECT_EQ(IntToHex(0x12345, 2), "12345"); // digits is a minimum
    EXPECT_EQ(IntToHex(0, 0), "0");
    EXPECT_EQ(IntToHex(-1, 2), "FFFFFFFF");           // 32-bit two's complement
    EXPECT_EQ(IntToHex(std::int16_t{-1}, 1), "FFFF"); // at the value's own width
    EXPECT_EQ(IntToHex(std::uint8_t{0xAB}, 4), "00AB");
    EXPECT_EQ(IntToHex(std::int64_t{-2}, 1), "FFFFFFFFFFFFFFFE");
}

TEST(RuntimeStrToInt, AcceptsDecimalHexSignsAndLeadingBlanks) {
    EXPECT_EQ(StrToInt("0"), 0);
    EXPECT_EQ(StrToInt("123"), 123);
    EXPECT_EQ(StrToInt("   -17"), -17);
    EXPECT_EQ(StrToInt("+8"), 8);
    EXPECT_EQ(StrToInt("$1F4"), 500);
    EXPECT_EQ(StrToInt("0x1F4"), 500);
    EXPECT_EQ(StrToInt("0X1f4"), 500);
    EXPECT_EQ(StrToInt("-$10"), -16);
    EXPECT_EQ(StrToInt("2147483647"), 2147483647);
    EXPECT_EQ(StrToInt("-2147483648"), std::numeric_limits<int>::min());
    EXPECT_EQ(StrToInt("$FFFFFFFF"), -1); // hex is a 32-bit pattern
    EXPECT_EQ(StrToInt("$80000000"), std::numeric_limits<int>::min());
    EXPECT_EQ(StrToInt64("9223372036854775807"), std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(StrToInt64("-9223372036854775808"), std::numeric_limits<std::int64_t>::min());
}

TEST(RuntimeStrToInt, RejectsBadTextWithTheConvertMessage) {
    for (const char* bad :
         {"", "   ", "-", "+", "$", "0x", "12a", "12 ", "1 2", "1.5", "$G", "2147483648",
          "-2147483649", "99999999999999999999", "$100000000", "--1"}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(ConvertMessage(bad), std::string("'") + bad + "' is not a valid integer value");
        int value = 1234;
        EXPECT_FALSE(TryStrToInt(bad, value));
        EXPECT_EQ(value, 1234) << "a failed conversion must leave the target alone";
        EXPECT_EQ(StrToIntDef(bad, -9), -9);
    }
    std::int64_t big = 0;
    EXPECT_FALSE(TryStrToInt64("9223372036854775808", big));
    EXPECT_THROW(StrToInt64("x"), EConvertError);
}

TEST(RuntimeStrings, CaseRulesTouchOnlyAsciiLetters) {
    EXPECT_EQ(UpperCase("abc-XYZ_09\xe4"), "ABC-XYZ_09\xe4");
    EXPECT_EQ(LowerCase("ABC-xyz@[\xc4"), "abc-xyz@[\xc4");
    EXPECT_EQ(CompareText("Location", "LOCATION"), 0);
    EXPECT_LT(CompareText("abc", "ABD"), 0);
    EXPECT_GT(CompareText("abcd", "ABC"), 0);
    EXPECT_LT(CompareText("", "a"), 0);
    // Letters compare as upper case, so '_' (0x5F) sorts after every letter.
    EXPECT_GT(CompareText("_", "z"), 0);
    EXPECT_GT(CompareText("\xe4", "a"), 0); // high bytes compare unsigned
    EXPECT_TRUE(SameText("Content-Length", "content-length"));
    EXPECT_FALSE(SameText("abc", "abcd"));
    EXPECT_FALSE(SameText("\xe4", "\xc4")); // not an ASCII letter
    EXPECT_LT(CompareStr("B", "a"), 0);
}

TEST(RuntimeStrings, TrimRemovesBlanksAndControlsAtTheEndsOnly) {
    EXPECT_EQ(Trim(" \t\r\n a b \x01"), "a b");
    EXPECT_EQ(TrimLeft("  a "), "a ");
    EXPECT_EQ(TrimRight("  a \r\n"), "  a");
    EXPECT_EQ(Trim("   "), "");
    EXPECT_EQ(Trim(""), "");
}

TEST(RuntimeStrings, PosAndCopyCountFromOneAndClamp) {
    EXPECT_EQ(Pos("b", "abcb"), 2);
    EXPECT_EQ(Pos("abcb", "abcb"), 1);
    EXPECT_EQ(Pos("x", "abc"), 0);
    EXPECT_EQ(Pos("", "abc"), 0);
    EXPECT_EQ(Pos("abcd", "abc"), 0);
    EXPECT_EQ(PosEx("b", "abcb", 3), 4);
    EXPECT_EQ(PosEx("b", "abcb", 5), 0);
    EXPECT_EQ(PosEx("b", "abcb", 0), 0);

    EXPECT_EQ(Copy("abcdef", 2, 3), "bcd");
    EXPECT_EQ(Copy("abcdef", 1, 100), "abcdef");
    EXPECT_EQ(Copy("abcdef", 6, 1), "f");
    EXPECT_EQ(Copy("abcdef", 7, 1), "");
    EXPECT_EQ(Copy("abcdef", 0, 2), "ab");
    EXPECT_EQ(Copy("abcdef", -5, 2), "ab");
    EXPECT_EQ(Copy("abcdef", 2, 0), "");
    EXPECT_EQ(Copy("abcdef", 2, -1), "");
    EXPECT_EQ(Copy("", 1, 1), "");
    EXPECT_EQ(Copy("abc", 2, std::numeric_limits<int>::max()), "bc");
}

TEST(RuntimeFileNames, PartsOfWindowsAndUnixNames) {
    EXPECT_EQ(ExtractFileName("C:\\Tools\\ChartView.EXE"), "ChartView.EXE");
    EXPECT_EQ(ExtractFilePath("C:\\Tools\\ChartView.EXE"), "C:\\Tools\\");
    EXPECT_EQ(ExtractFileName("/usr/bin/vantrel"), "vantrel");
    EXPECT_EQ(ExtractFilePath("/usr/bin/vantrel"), "/usr/bin/");
    EXPECT_EQ(ExtractFileName("C:file.gif"), "file.gif");
    EXPECT_EQ(ExtractFileName("plain"), "plain");
    EXPECT_EQ(ExtractFilePath("plain"), "");

    EXPECT_EQ(ExtractFileExt("MSFT.gif"), ".gif");
    EXPECT_EQ(ExtractFileExt("a.b.GIF"), ".GIF");
    EXPECT_EQ(ExtractFileExt("/dir.d/name"), ""); // a dot in a directory is no extension
    EXPECT_EQ(ExtractFileExt("name."), ".");

    EXPECT_EQ(ChangeFileExt("MSFT.gif", ".bak"), "MSFT.bak");
    EXPECT_EQ(ChangeFileExt("^DJI", ".gif"), "^DJI.gif");
    EXPECT_EQ(ChangeFileExt("/dir.d/name", ".ini"), "/dir.d/name.ini");
    EXPECT_EQ(ChangeFileExt("C:\\Tools\\ChartView.EXE", ""), "C:\\Tools\\ChartView");
    EXPECT_EQ(ChangeFileExt("chartview.", "ini"), "chartviewini");
}

class RuntimeFiles : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/vt_runtime_XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        FDir = tmpl;
    }
    void TearDown() override { std::filesystem::remove_all(FDir); }
    std::string Path(const char* name) const { return FDir + "/" + name; }
    static void Put(const std::string& path, const std::string& content) {
        std::ofstream(path, std::ios::binary) << content;
    }
    static std::string Get(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    std::string FDir;
};

TEST_F(RuntimeFiles, ExistsDeleteAndRenameReportTheirResult) {
    const std::string gif = Path("MSFT.gif");
    const std::string bak = Path("MSFT.bak");
    EXPECT_FALSE(FileExists(gif));
    EXPECT_FALSE(FileExists(FDir)) << "a directory is not a file";
    EXPECT_FALSE(FileExists(""));
    EXPECT_FALSE(DeleteFile(gif));
    EXPECT_FALSE(DeleteFile(FDir));

    Put(gif, "new");
    EXPECT_TRUE(FileExists(gif));
    EXPECT_TRUE(RenameFile(gif, bak));
    EXPECT_FALSE(FileExists(gif));
    EXPECT_EQ(Get(bak), "new");

    // An existing target is never replaced: both files keep their content.
    Put(gif, "newer");
    EXPECT_FALSE(RenameFile(gif, bak));
    EXPECT_EQ(Get(gif), "newer");
    EXPECT_EQ(Get(bak), "new");

    EXPECT_TRUE(DeleteFile(bak));
    EXPECT_FALSE(FileExists(bak));
    EXPECT_FALSE(RenameFile(bak, gif)) << "renaming a missing file fails";
    EXPECT_EQ(Get(gif), "newer");
}

TEST(RuntimeTicks, TickCountIsMonotonicAndSleepWaits) {
    const DWORD start = GetTickCount();
    Sleep(30);
    const DWORD elapsed = GetTickCount() - start; // unsigned difference survives the wrap
    EXPECT_GE(elapsed, 29u);
    EXPECT_LT(elapsed, 10000u);
    Sleep(0); // a yield, must return
    EXPECT_EQ(SleepEx(1, 1), 0u);
}
