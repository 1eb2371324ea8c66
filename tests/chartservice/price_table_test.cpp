// Price files as exports write them, and what each chart period takes of them.

#include "chartservice/PriceTable.h"

#include <gtest/gtest.h>

namespace {

std::string ErrorOf(std::string_view text) {
    try {
        TPriceTable::FromCsv(text);
    } catch (const EPriceDataError& error) {
        return error.Message();
    }
    return "no error";
}

std::int64_t At(const char* text) {
    std::int64_t minutes = 0;
    EXPECT_TRUE(ParsePriceTime(text, minutes)) << text;
    return minutes;
}

} // namespace

TEST(PriceTable, ReadsAnExportInDateOrder) {
    // Newest first, as some exports write it, with a byte order mark and CR LF.
    const auto table = TPriceTable::FromCsv("\xEF\xBB\xBF"
                                            "Date,Open,High,Low,Close,Adj Close,Volume\r\n"
                                            "2024-06-14,12.5,13,12,12.75,12.7,1000\r\n"
                                            "2024-06-13,11,12.6,10.5,12.5,12.4,2500\r\n");
    ASSERT_EQ(table.Bars().size(), 2u);
    EXPECT_EQ(table.SkippedLines(), 0);
    const TPriceBar& first = table.Bars()[0];
    EXPECT_EQ(FormatPriceDate(first.Time), "2024-06-13");
    EXPECT_DOUBLE_EQ(first.Open, 11);
    EXPECT_DOUBLE_EQ(first.High, 12.6);
    EXPECT_DOUBLE_EQ(first.Low, 10.5);
    EXPECT_DOUBLE_EQ(first.Close, 12.5); // "Close", not "Adj Close"
    EXPECT_DOUBLE_EQ(first.Volume, 2500);
    EXPECT_EQ(FormatPriceDate(table.Bars()[1].Time), "2024-06-14");
}

TEST(PriceTable, ColumnsInAnyOrderAndCaseAndOnlyDateAndCloseRequired) {
    const auto table = TPriceTable::FromCsv("close,DATE\n\"7.5\",\"2024/01/02\"\n");
    ASSERT_EQ(table.Bars().size(), 1u);
    const TPriceBar& bar = table.Bars()[0];
    EXPECT_EQ(bar.Time, At("2024-01-02"));
    // Missing prices take the close; missing volume is none.
    EXPECT_DOUBLE_EQ(bar.Open, 7.5);
    EXPECT_DOUBLE_EQ(bar.High, 7.5);
    EXPECT_DOUBLE_EQ(bar.Low, 7.5);
    EXPECT_DOUBLE_EQ(bar.Volume, 0);
}

TEST(PriceTable, BadLinesAreSkippedAndCounted) {
    const auto table = TPriceTable::FromCsv("Date,Open,High,Low,Close,Volume\n"
                                            "2024-06-10,1,2,0.5,1.5,10\n"
                                            "2024-06-11,null,null,null,null,null\n" // export gap
                                            "2024-06-12,1,2\n"                      // too short
                                            "12/06/2024,1,2,0.5,1.5,10\n"           // not ISO
                                            "2024-13-01,1,2,0.5,1.5,10\n"           // month 13
                                            "2024-06-14,1,2,0.5,-3,10\n"            // negative
                                            "2024-06-15,1,2,0.5,1.5x,10\n"          // junk
                                            "\n"
                                            "2024-06-17 10:30,1,3,0.5,2,10\n");
    EXPECT_EQ(table.SkippedLines(), 6);
    ASSERT_EQ(table.Bars().size(), 2u);
    EXPECT_EQ(table.Bars()[1].Time, At("2024-06-17T10:30:00"));
    EXPECT_EQ(FormatPriceClock(table.Bars()[1].Time), "10:30");
}

TEST(PriceTable, HighAndLowEncloseOpenAndClose) {
    const auto table = TPriceTable::FromCsv("Date,Open,High,Low,Close\n2024-01-02,5,4,6,7\n");
    EXPECT_DOUBLE_EQ(table.Bars()[0].High, 7);
    EXPECT_DOUBLE_EQ(table.Bars()[0].Low, 4);
}

TEST(PriceTable, UnusableFilesRaiseClearErrors) {
    EXPECT_EQ(ErrorOf(""), "The price file is empty");
    EXPECT_EQ(ErrorOf("\r\n\n  \n"), "The price file is empty");
    EXPECT_EQ(ErrorOf("Date,Open,High,Low,Volume\n2024-01-02,1,2,0,5\n"),
              "The price file has no Close column");
    EXPECT_EQ(ErrorOf("Day,Close\n2024-01-02,1\n"), "The price file has no Date column");
    EXPECT_EQ(ErrorOf("Date,Close\n"), "The price file holds no usable line");
    EXPECT_EQ(ErrorOf("Date,Close\nyesterday,1\n"), "The price file holds no usable line");
    // Binary junk is no price file either, and reading it stays inside the text.
    EXPECT_EQ(ErrorOf(std::string_view("\0\x01\xff,\n\xfe", 6)),
              "The price file has no Date column");
}

TEST(PriceTable, MissingFileIsAnError) {
    EXPECT_THROW(TPriceTable::FromFile("/nonexistent/IBM.csv"), EPriceDataError);
}

TEST(PriceTable, DatesAndTimesParseStrictly) {
    std::int64_t minutes = 0;
    EXPECT_TRUE(ParsePriceTime("1970-01-01", minutes));
    EXPECT_EQ(minutes, 0);
    EXPECT_TRUE(ParsePriceTime("1970-01-02 00:01", minutes));
    EXPECT_EQ(minutes, 1441);
    EXPECT_EQ(FormatPriceDate(At("2000-02-29")), "2000-02-29");
    EXPECT_EQ(FormatPriceDate(At("1969-12-31 23:59")), "1969-12-31");
    for (const char* bad : {"", "2024", "2024-1-02", "2024-01-02x", "2024-01/02", "2024-01-02 9:30",
                            "2024-01-02 24:00", "2024-01-02 10:30:", "+024-01-02"})
        EXPECT_FALSE(ParsePriceTime(bad, minutes)) << bad;
}

TEST(PriceTable, WindowsCoverTheirPeriod) {
    std::string csv = "Date,Close\n";
    // Two years of daily closes, one a day.
    for (std::int64_t day = At("2022-06-14") / 1440; day <= At("2024-06-14") / 1440; ++day)
        csv += FormatPriceDate(day * 1440) + ",1\n";
    const auto table = TPriceTable::FromCsv(csv);
    std::string label;
    auto year = table.Window(cpYear, label);
    EXPECT_EQ(label, "1 year");
    EXPECT_EQ(FormatPriceDate(year.front().Time), "2023-06-15");
    EXPECT_EQ(FormatPriceDate(year.back().Time), "2024-06-14");
    auto quarter = table.Window(cpQuarter, label);
    EXPECT_EQ(label, "3 months");
    EXPECT_EQ(quarter.size(), 92u);
    // Daily data has no day to show: the short chart takes the last days.
    auto day = table.Window(cpDay, label);
    EXPECT_EQ(label, "10 days");
    EXPECT_EQ(day.size(), 10u);

    const auto intraday = TPriceTable::FromCsv("Date,Close\n2024-06-13 15:55,1\n"
                                               "2024-06-14 09:30,2\n2024-06-14 09:35,3\n");
    day = intraday.Window(cpDay, label);
    EXPECT_EQ(label, "1 day");
    ASSERT_EQ(day.size(), 2u);
    EXPECT_DOUBLE_EQ(day[0].Close, 2);

    const auto single = TPriceTable::FromCsv("Date,Close\n2024-06-14,2\n");
    EXPECT_EQ(single.Window(cpDay, label).size(), 1u);
    EXPECT_EQ(label, "1 day");
}

TEST(PriceTable, SamplesAreDeterministicAndPlausible) {
    const auto a = TPriceTable::Sample("IBM", cpYear);
    const auto b = TPriceTable::Sample("IBM", cpYear);
    const auto other = TPriceTable::Sample("MSFT", cpYear);
    ASSERT_EQ(a.Bars().size(), 252u); // a year of trading days
    ASSERT_EQ(b.Bars().size(), a.Bars().size());
    EXPECT_DOUBLE_EQ(a.Bars()[100].Close, b.Bars()[100].Close);
    EXPECT_NE(a.Bars()[100].Close, other.Bars()[100].Close);
    for (const TPriceBar& bar : a.Bars()) {
        EXPECT_GT(bar.Low, 0);
        EXPECT_LE(bar.Low, std::min(bar.Open, bar.Close));
        EXPECT_GE(bar.High, std::max(bar.Open, bar.Close));
        const std::int64_t weekday = (bar.Time / 1440 + 3) % 7; // 0 is Monday
        EXPECT_LT(weekday, 5) << FormatPriceDate(bar.Time);
    }
    const auto day = TPriceTable::Sample("IBM", cpDay);
    EXPECT_EQ(FormatPriceClock(day.Bars().front().Time), "09:30");
    EXPECT_EQ(FormatPriceClock(day.Bars().back().Time), "16:00");
    std::string label;
    EXPECT_EQ(day.Window(cpDay, label).size(), day.Bars().size());
    EXPECT_EQ(label, "1 day");
}
