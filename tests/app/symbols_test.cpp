// Symbol rules: refused symbols, index prefixes per period, quote-page addresses.
#include "app/Symbols.h"

#include "platform/runtime/Exceptions.h"

#include <gtest/gtest.h>

TEST(AppSymbols, FileNameSymbolsPassVerbatim) {
    for (const char* symbol : {"IBM", "", "^DJI", "_GSPC", "A^B", "..", "a b", "a\\b", "\xE9t\xE9"})
        EXPECT_NO_THROW(CheckChartSymbol(symbol)) << symbol;
}

TEST(AppSymbols, SlashesAndControlCharactersAreRefusedWithAClearText) {
    try {
        CheckChartSymbol("../etc");
        FAIL() << "expected a refusal";
    } catch (const Exception& error) {
        EXPECT_EQ(error.Message(), "The symbol \"../etc\" cannot name a chart file: \"/\" and "
                                   "control characters are not allowed");
    }
    try {
        CheckChartSymbol(std::string("A\0B\n\x7F", 5));
        FAIL() << "expected a refusal";
    } catch (const Exception& error) {
        EXPECT_NE(error.Message().find("\"A\\x00B\\x0A\\x7F\""), std::string::npos)
            << error.Message();
    }
    EXPECT_THROW(CheckChartSymbol("/"), Exception);
    EXPECT_THROW(CheckChartSymbol("\t"), Exception);
}

TEST(AppSymbols, IndexPrefixFollowsThePeriod) {
    EXPECT_EQ(IndexForm("^GSPC", 3, false), "_GSPC");
    EXPECT_EQ(IndexForm("_GSPC", 1, false), "^GSPC");
    EXPECT_EQ(IndexForm("_GSPC", 2, false), "^GSPC");
    EXPECT_EQ(IndexForm("^GSPC", 1, false), "^GSPC");
    EXPECT_EQ(IndexForm("_GSPC", 3, false), "_GSPC");
    // Five characters at most after the prefix.
    EXPECT_EQ(IndexForm("^ABCDEFGH", 3, false), "_ABCDE");
    EXPECT_EQ(IndexForm("_ABCDEFGH", 2, false), "^ABCDE");
    // Only the first character counts.
    EXPECT_EQ(IndexForm("A^B", 3, false), "A^B");
    EXPECT_EQ(IndexForm("A_B", 1, false), "A_B");
    EXPECT_EQ(IndexForm("", 3, false), "");
    EXPECT_EQ(IndexForm("^", 3, false), "_");
    // The symbol box's own change applies only the year rule.
    EXPECT_EQ(IndexForm("_GSPC", 1, true), "_GSPC");
    EXPECT_EQ(IndexForm("^GSPC", 3, true), "_GSPC");
}

TEST(AppSymbols, QuotePageAddressesFitTheirBuffer) {
    EXPECT_EQ(QuotePageAddress("_GSPC"), "http://finance.yahoo.com/q?d=t&s=_GSPC");
    EXPECT_EQ(ServicePageAddress("/q?d=t&s=^DJI"), "http://finance.yahoo.com/q?d=t&s=^DJI");
    EXPECT_EQ(MakerAddress(MakerDomain), "www.vantrel.example");
    // 79 characters fit; 80 do not.
    const std::string prefix = "http://finance.yahoo.com/q?d=t&s=";
    const std::string fits(79 - prefix.size(), 'X');
    EXPECT_EQ(QuotePageAddress(fits), prefix + fits);
    EXPECT_EQ(QuotePageAddress(fits + "X"), std::nullopt);
    EXPECT_EQ(MakerAddress(std::string(75, 'm')), "www." + std::string(75, 'm'));
    EXPECT_EQ(MakerAddress(std::string(76, 'm')), std::nullopt);
}
