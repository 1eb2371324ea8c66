#include "app/ChartRequest.h"

#include "http/HttpCli.h"
#include "platform/gdi/Picture.h"
#include "platform/runtime/Streams.h"
#include "platform/runtime/SysUtils.h"

#include <memory>

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

namespace {

// Loads `fileName` into `picture`; false (picture left empty) when it is no picture.
bool TryLoad(TPicture& picture, const std::string& fileName) {
    try {
        picture.LoadFromFile(fileName);
        return true;
    } catch (const Exception&) {
        picture.SetGraphic(nullptr);
        return false;
    }
}

} // namespace

TChartResult RunChartRequest(THttpCli& client, TPicture& picture, const std::string& symbol,
                             int position,
                             const std::function<void(const std::string&)>& progress) {
    client.SetURL(ChartAddress(symbol, position));
    const std::string fileName = symbol + ".gif";
    const std::string backupName = ChangeFileExt(fileName, ".bak");
    if (FileExists(fileName)) {
        DeleteFile(backupName);
        RenameFile(fileName, backupName);
    }

    TChartResult result;
    {
        // Raises "Cannot create file %s" before anything else has changed.
        TFileStream stream(fileName, fmCreate | fmShareExclusive);
        client.SetRcvdStream(&stream);
        progress("Loading");
        try {
            client.Get();
            result.Progress = "Received " + IntToStr(stream.Size()) + " bytes";
        } catch (const EHttpException&) {
            result.Progress =
                "Failed : " + IntToStr(client.StatusCode()) + " " + client.ReasonPhrase();
        } catch (...) {
            client.SetRcvdStream(nullptr);
            throw;
        }
        client.SetRcvdStream(nullptr);
    }
    progress(result.Progress);

    picture.SetGraphic(nullptr);
    if (FileExists(fileName)) {
        result.Shown = TryLoad(picture, fileName);
        if (!result.Shown) {
            // The new file is no picture: bring the previous chart back.
            DeleteFile(fileName);
            RenameFile(backupName, fileName);
            result.Shown = TryLoad(picture, fileName);
        }
    }
    return result;
}
