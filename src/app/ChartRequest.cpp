#include "app/ChartRequest.h"

#include "platform/gdi/Bitmap.h"
#include "platform/gdi/Canvas.h"
#include "platform/gdi/Picture.h"
#include "platform/runtime/Exceptions.h"
#include "platform/runtime/SysUtils.h"

std::string ChartAddress(const std::string& symbol, int position) {
    switch (position) {
    case 2:
        return std::string("http://") + ShortChartHost + "/v?s=" + symbol;
    case 3:
        return std::string("http://") + YearChartHost + "/c/0b/" + symbol.substr(0, 1) + "/" +
               symbol + ".gif";
    default:
        return std::string("http://") + ShortChartHost + "/t?s=" + symbol;
    }
}

std::string SettingsFileName(const std::string& exePath) {
    std::string name = LowerCase(ExtractFileName(exePath));
    name.resize(name.size() > 3 ? name.size() - 3 : 0);
    return name + "ini";
}

void KeepBackup(const std::string& fileName, const std::string& backupName) {
    if (!FileExists(fileName)) return;
    DeleteFile(backupName);
    RenameFile(fileName, backupName);
}

namespace {

// Loads `fileName` and draws it once off screen, so that a picture the view could not
// paint counts as a failed load; false (picture left empty) on any error.
bool TryLoad(TPicture& picture, const std::string& fileName) {
    try {
        picture.LoadFromFile(fileName);
        TGraphic* graphic = picture.Graphic();
        if (!graphic || graphic->Empty() || graphic->Width() <= 0 || graphic->Height() <= 0)
            throw EInvalidGraphic("The picture has nothing to draw");
        TBitmap probe;
        probe.SetSize(1, 1);
        probe.Canvas()->StretchDraw(TRect{0, 0, 1, 1}, graphic);
        graphic->SetTransparent(false); // the chart is drawn opaque
        return true;
    } catch (...) {
        picture.SetGraphic(nullptr);
        return false;
    }
}

} // namespace

TChartShown LoadChart(TPicture& picture, const std::string& fileName,
                      const std::string& backupName) {
    picture.SetGraphic(nullptr);
    if (!FileExists(fileName)) return TChartShown::NoFile;
    if (TryLoad(picture, fileName)) return TChartShown::New;
    // The new file is no picture: bring the previous chart back.
    DeleteFile(fileName);
    RenameFile(backupName, fileName);
    return TryLoad(picture, fileName) ? TChartShown::Restored : TChartShown::Nothing;
}
