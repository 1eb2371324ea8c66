#pragma once
// The disk side of one chart request: the chart address for a symbol and period, the
// one-generation backup of the previous chart file, and loading the outcome with the
// fall-back to that backup. The window's GetButtonClick runs the download between them.

#include <string>

class TPicture;

// Chart service hosts: periods 1 and 2, and period 3 (one year).
inline constexpr const char* ShortChartHost = "chart.yahoo.com";
inline constexpr const char* YearChartHost = "ichart.yahoo.com";

// The chart address for `symbol` (used verbatim) at trackbar position 1, 2 or 3.
std::string ChartAddress(const std::string& symbol, int position);

// The settings file name for an executable path: its file name in lower case, less
// its last three characters, plus "ini" ("C:\Tools\ChartView.EXE" gives chartview.ini).
std::string SettingsFileName(const std::string& exePath);

// Moves an existing chart file to the backup name, replacing an older backup. Failures
// are ignored: they must not stop the request.
void KeepBackup(const std::string& fileName, const std::string& backupName);

enum class TChartShown {
    NoFile,   // no chart file on disk: nothing was tried
    New,      // the downloaded file
    Restored, // the new file was unusable; the backup came back and is shown
    Nothing   // neither file could be shown
};

// Loads the chart file into `picture` (emptied first). A file that fails to load, or
// loads as a picture with nothing to draw, is deleted and the backup is moved back and
// loaded instead.
TChartShown LoadChart(TPicture& picture, const std::string& fileName,
                      const std::string& backupName);
