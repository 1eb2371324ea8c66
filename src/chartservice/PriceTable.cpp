#include "chartservice/PriceTable.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>

namespace {

constexpr std::int64_t MinutesPerDay = 1440;

std::int64_t DaysFromCivil(int y, int m, int d) {
    y -= m <= 2;
    const int era = (y >= 0 ? y : y - 399) / 400;
    const int yoe = y - era * 400;
    const int doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return std::int64_t{era} * 146097 + doe - 719468;
}

void CivilFromDays(std::int64_t z, int& y, int& m, int& d) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int doe = static_cast<int>(z - era * 146097);
    const int yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = static_cast<int>(yoe + era * 400) + (m <= 2);
}

// Reads exactly `digits` decimal digits at `pos`.
bool ReadDigits(std::string_view text, std::size_t& pos, std::size_t digits, int& value) {
    if (pos + digits > text.size()) return false;
    const auto* first = text.data() + pos;
    const auto [end, error] = std::from_chars(first, first + digits, value);
    if (error != std::errc() || end != first + digits) return false;
    pos += digits;
    return true;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '"'))
        s.remove_prefix(1);
    while (!s.empty() &&
           (s.back() == ' ' || s.back() == '\t' || s.back() == '"' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

std::vector<std::string_view> SplitFields(std::string_view line) {
    std::vector<std::string_view> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = line.find(',', start);
        fields.push_back(Trim(line.substr(start, comma - start)));
        if (comma == std::string_view::npos) return fields;
        start = comma + 1;
    }
}

std::string Lower(std::string_view s) {
    std::string result(s);
    for (char& c : result)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return result;
}

std::optional<double> ParseNumber(std::string_view text) {
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() ||
        !std::isfinite(value) || value < 0)
        return std::nullopt;
    return value;
}

enum TColumn { colDate, colOpen, colHigh, colLow, colClose, colVolume, colCount };
constexpr std::array<const char*, colCount> ColumnNames = {"date", "open",  "high",
                                                           "low",  "close", "volume"};

// Column positions named by the header line; -1 for a column it lacks.
std::array<int, colCount> ReadHeader(std::string_view line) {
    std::array<int, colCount> columns;
    columns.fill(-1);
    const auto fields = SplitFields(line);
    for (std::size_t i = 0; i < fields.size(); ++i)
        for (int c = 0; c < colCount; ++c)
            if (columns[c] < 0 && Lower(fields[i]) == ColumnNames[c])
                columns[c] = static_cast<int>(i);
    return columns;
}

std::optional<TPriceBar> ReadBar(std::string_view line, const std::array<int, colCount>& columns) {
    const auto fields = SplitFields(line);
    auto field = [&](TColumn c) -> std::optional<std::string_view> {
        if (columns[c] < 0) return std::string_view();
        if (static_cast<std::size_t>(columns[c]) >= fields.size()) return std::nullopt;
        return fields[columns[c]];
    };
    TPriceBar bar;
    const auto date = field(colDate);
    const auto close = field(colClose);
    if (!date || !close || !ParsePriceTime(*date, bar.Time)) return std::nullopt;
    const auto closeValue = ParseNumber(*close);
    if (!closeValue) return std::nullopt;
    bar.Close = *closeValue;
    // Open, High and Low default to the close, Volume to nothing, when the file lacks them.
    double* values[] = {&bar.Open, &bar.High, &bar.Low, &bar.Volume};
    const TColumn optional[] = {colOpen, colHigh, colLow, colVolume};
    for (int i = 0; i < 4; ++i) {
        const auto text = field(optional[i]);
        if (!text) return std::nullopt;
        if (text->empty() && columns[optional[i]] < 0) {
            *values[i] = optional[i] == colVolume ? 0 : bar.Close;
            continue;
        }
        const auto value = ParseNumber(*text);
        if (!value) return std::nullopt;
        *values[i] = *value;
    }
    const auto [low, high] = std::minmax({bar.Open, bar.High, bar.Low, bar.Close});
    bar.High = high;
    bar.Low = low;
    return bar;
}

// A small deterministic generator (xorshift), seeded from the symbol.
class TSampleRandom {
public:
    explicit TSampleRandom(const std::string& seed) {
        for (const char c : seed)
            FState = (FState ^ static_cast<unsigned char>(c)) * 1099511628211ull;
        if (FState == 0) FState = 1;
    }
    // Uniform in [0, 1).
    double Next() {
        FState ^= FState << 13;
        FState ^= FState >> 7;
        FState ^= FState << 17;
        return static_cast<double>(FState >> 11) / 9007199254740992.0;
    }

private:
    std::uint64_t FState = 14695981039346656037ull;
};

} // namespace

bool ParsePriceTime(std::string_view text, std::int64_t& minutes) {
    std::size_t pos = 0;
    int y = 0, m = 0, d = 0;
    if (!ReadDigits(text, pos, 4, y) || pos >= text.size()) return false;
    const char separator = text[pos++];
    if ((separator != '-' && separator != '/') || !ReadDigits(text, pos, 2, m) ||
        pos >= text.size() || text[pos++] != separator || !ReadDigits(text, pos, 2, d))
        return false;
    if (m < 1 || m > 12 || d < 1 || d > 31) return false;
    int hour = 0, minute = 0, second = 0;
    if (pos < text.size()) {
        if (text[pos] != ' ' && text[pos] != 'T') return false;
        ++pos;
        if (!ReadDigits(text, pos, 2, hour) || pos >= text.size() || text[pos++] != ':' ||
            !ReadDigits(text, pos, 2, minute))
            return false;
        if (pos < text.size() && (text[pos++] != ':' || !ReadDigits(text, pos, 2, second)))
            return false;
        if (pos != text.size() || hour > 23 || minute > 59 || second > 59) return false;
    }
    minutes = DaysFromCivil(y, m, d) * MinutesPerDay + hour * 60 + minute;
    return true;
}

std::string FormatPriceDate(std::int64_t minutes) {
    int y = 0, m = 0, d = 0;
    CivilFromDays(minutes / MinutesPerDay - (minutes % MinutesPerDay < 0), y, m, d);
    char text[32];
    std::snprintf(text, sizeof(text), "%04d-%02d-%02d", y % 10000, m, d);
    return text;
}

std::string FormatPriceClock(std::int64_t minutes) {
    const std::int64_t ofDay = ((minutes % MinutesPerDay) + MinutesPerDay) % MinutesPerDay;
    char text[16];
    std::snprintf(text, sizeof(text), "%02d:%02d", static_cast<int>(ofDay / 60),
                  static_cast<int>(ofDay % 60));
    return text;
}

TPriceTable TPriceTable::FromCsv(std::string_view text) {
    if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
    TPriceTable table;
    std::optional<std::array<int, colCount>> columns;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view line = Trim(text.substr(start, end - start));
        start = end + 1;
        if (line.empty()) continue;
        if (!columns) {
            columns = ReadHeader(line);
            for (const TColumn required : {colDate, colClose})
                if ((*columns)[required] < 0)
                    throw EPriceDataError(std::string("The price file has no ") +
                                          (required == colDate ? "Date" : "Close") + " column");
            continue;
        }
        if (const auto bar = ReadBar(line, *columns))
            table.FBars.push_back(*bar);
        else
            ++table.FSkippedLines;
    }
    if (!columns) throw EPriceDataError("The price file is empty");
    if (table.FBars.empty()) throw EPriceDataError("The price file holds no usable line");
    std::stable_sort(table.FBars.begin(), table.FBars.end(),
                     [](const TPriceBar& a, const TPriceBar& b) { return a.Time < b.Time; });
    return table;
}

TPriceTable TPriceTable::FromFile(const std::string& fileName) {
    std::ifstream file(fileName, std::ios::binary);
    if (!file) throw EPriceDataError("Cannot read the price file");
    std::string text;
    text.resize(MaxFileSize + 1);
    file.read(text.data(), static_cast<std::streamsize>(text.size()));
    if (file.bad()) throw EPriceDataError("Cannot read the price file");
    if (static_cast<std::size_t>(file.gcount()) > MaxFileSize)
        throw EPriceDataError("The price file is too large");
    text.resize(static_cast<std::size_t>(file.gcount()));
    return FromCsv(text);
}

TPriceTable TPriceTable::Sample(const std::string& symbol, TChartPeriod period) {
    // A fixed last trading day, so that the same request always gives the same chart.
    const std::int64_t lastDay = DaysFromCivil(2024, 6, 14);
    TSampleRandom random(symbol + static_cast<char>('0' + period));
    double price = 20 + 200 * random.Next();
    const double step = period == cpDay ? 0.002 : 0.015;
    const double drift = (random.Next() - 0.5) * step * 0.3;
    std::vector<std::int64_t> times;
    if (period == cpDay) {
        for (int minute = 9 * 60 + 30; minute <= 16 * 60; minute += 5)
            times.push_back(lastDay * MinutesPerDay + minute);
    } else {
        const int count = period == cpQuarter ? 63 : 252;
        for (std::int64_t day = lastDay; static_cast<int>(times.size()) < count; --day)
            if ((day + 3) % 7 < 5) // 1970-01-01 was a Thursday: Monday to Friday
                times.insert(times.begin(), day * MinutesPerDay);
    }
    TPriceTable table;
    for (const std::int64_t time : times) {
        TPriceBar bar;
        bar.Time = time;
        bar.Open = price;
        price *= 1 + drift + (random.Next() - 0.5) * 2 * step;
        bar.Close = price;
        bar.High = std::max(bar.Open, bar.Close) * (1 + random.Next() * step / 2);
        bar.Low = std::min(bar.Open, bar.Close) * (1 - random.Next() * step / 2);
        bar.Volume = std::round(1e5 + 9e5 * random.Next());
        table.FBars.push_back(bar);
    }
    return table;
}

std::vector<TPriceBar> TPriceTable::Window(TChartPeriod period, std::string& label) const {
    if (FBars.empty()) return {};
    const std::int64_t last = FBars.back().Time;
    std::int64_t from = 0;
    switch (period) {
    case cpDay:
        from = (last / MinutesPerDay - (last % MinutesPerDay < 0)) * MinutesPerDay;
        label = "1 day";
        break;
    case cpQuarter:
        from = last - 91 * MinutesPerDay;
        label = "3 months";
        break;
    case cpYear:
        from = last - 365 * MinutesPerDay;
        label = "1 year";
        break;
    }
    auto first = std::lower_bound(FBars.begin(), FBars.end(), from,
                                  [](const TPriceBar& b, std::int64_t t) { return b.Time < t; });
    if (period == cpDay && FBars.end() - first < 2) {
        // Daily data has one bar a day: the short chart shows the last few days instead.
        first = FBars.end() -
                static_cast<std::ptrdiff_t>(std::min<std::size_t>(DailyBarsForDay, FBars.size()));
        label = std::to_string(FBars.end() - first) + (FBars.end() - first == 1 ? " day" : " days");
    }
    return {first, FBars.end()};
}
