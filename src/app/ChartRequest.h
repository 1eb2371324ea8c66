#pragma once
// One chart request: the chart address for a symbol and period, the download into
// SYMBOL.gif with the previous copy kept as SYMBOL.bak, and the picture load with the
// fall-back to the backup.

#include <functional>
#include <string>

class THttpCli;
class TPicture;

// Chart service hosts: periods 1 and 2, and period 3 (one year).
inline constexpr const char* ShortChartHost = "chart.yahoo.com";
inline constexpr const char* YearChartHost = "ichart.yahoo.com";

// The chart address for `symbol` (used verbatim) at trackbar position 1, 2 or 3.
std::string ChartAddress(const std::string& symbol, int position);

// The settings file name for an executable path: its file name in lower case, less
// its last three characters, plus "ini" ("C:\Tools\ChartView.EXE" gives chartview.ini).
std::string SettingsFileName(const std::string& exePath);

struct TChartResult {
    std::string Progress; // "Received N bytes" or "Failed : status reason"
    bool Shown = false;   // a picture (new or restored) was loaded
};

// Runs the request on `client` (whose proxy settings the caller has set) and loads the
// outcome into `picture`. `progress` receives the running progress texts.
TChartResult RunChartRequest(THttpCli& client, TPicture& picture, const std::string& symbol,
                             int position, const std::function<void(const std::string&)>& progress);
