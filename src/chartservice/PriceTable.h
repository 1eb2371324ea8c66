#pragma once
// TPriceTable: the prices of one symbol, read from a CSV export (Date, Open, High,
// Low, Close, Volume) or made up, and the part of them a chart period shows.

#include "platform/runtime/Exceptions.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// A price file that cannot give a chart.
VT_DECLARE_EXCEPTION(EPriceDataError, Exception);

enum TChartPeriod { cpDay, cpQuarter, cpYear };

struct TPriceBar {
    std::int64_t Time = 0; // minutes since 1970-01-01 (date and time of day)
    double Open = 0;
    double High = 0;
    double Low = 0;
    double Close = 0;
    double Volume = 0;
};

class TPriceTable {
public:
    // A larger price file is refused rather than read.
    static constexpr std::size_t MaxFileSize = 16 << 20;
    // The bars of the short period when the data has no times of day.
    static constexpr std::size_t DailyBarsForDay = 10;

    // Reads a CSV text: a header line naming the columns (any order, letter case free,
    // other columns ignored; Date and Close are required), then one bar per line. Lines
    // that do not parse are skipped and counted. Raises EPriceDataError for an empty
    // text, a missing column or no usable line.
    static TPriceTable FromCsv(std::string_view Text);
    // Reads FileName with FromCsv; EPriceDataError when it cannot be read.
    static TPriceTable FromFile(const std::string& FileName);
    // A made-up series, always the same for one symbol and period.
    static TPriceTable Sample(const std::string& Symbol, TChartPeriod Period);

    const std::vector<TPriceBar>& Bars() const { return FBars; }
    int SkippedLines() const { return FSkippedLines; }

    // The bars of the period ending with the last bar: its day (or the last few days for
    // daily data), 3 months or a year; Label names what they cover ("1 day", "10 days",
    // "3 months", "1 year").
    std::vector<TPriceBar> Window(TChartPeriod Period, std::string& Label) const;

private:
    std::vector<TPriceBar> FBars; // in time order
    int FSkippedLines = 0;
};

// "2024-06-14" (and "2024/06/14"), optionally followed by " 09:30" or "T09:30:00", as
// minutes since 1970-01-01; false when the text is no such date.
bool ParsePriceTime(std::string_view Text, std::int64_t& Minutes);
// The date of a time as "2024-06-14"; the time of day as "09:30".
std::string FormatPriceDate(std::int64_t Minutes);
std::string FormatPriceClock(std::int64_t Minutes);
