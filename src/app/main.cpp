// Brenvik Vantrel, command-line form: fetches one chart into SYMBOL.gif (keeping the
// previous one as SYMBOL.bak) and loads it with the picture readers. Usage:
//   brenvik-vantrel [SYMBOL [PERIOD]]     PERIOD 1 (one day) .. 3 (one year)
// Without a symbol it uses the one stored in the settings file (default "vtrx"). The
// proxy comes from the settings file ("Data" "ProxyHost" / "ProxyPort").

#include "app/ChartRequest.h"
#include "gif/GIFImage.h"
#include "http/HttpCli.h"
#include "platform/gdi/JPEGImage.h"
#include "platform/gdi/Picture.h"
#include "platform/messages/Application.h"
#include "platform/profile/IniFile.h"
#include "platform/runtime/SysUtils.h"

#include <cstdio>
#include <filesystem>

namespace {

std::string ExecutablePath() {
    std::error_code error;
    const auto path = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string("brenvik-vantrel") : path.string();
}

void Say(const std::string& text) {
    std::printf("%s\n", text.c_str());
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    Application.SetTitle("Bren Vik Vantrel");
    InitializeGifImg();
    RegisterJpegFormat();

    TIniFile settings(SettingsFileName(ExecutablePath()));
    const std::string symbol = argc > 1 ? argv[1] : settings.ReadString("Data", "URL", "vtrx");
    int position = argc > 2 ? StrToIntDef(argv[2], 1) : 1;
    if (position < 1 || position > 3) position = 1;

    THttpCli client(nullptr);
    client.SetAgent("Mozilla/3.0 (compatible)");
    client.SetAccept("image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*");
    client.SetProxy(settings.ReadString("Data", "ProxyHost", ""));
    client.SetProxyPort(settings.ReadString("Data", "ProxyPort", "80"));

    TPicture picture;
    try {
        const TChartResult result = RunChartRequest(client, picture, symbol, position, Say);
        if (result.Shown)
            Say(Format("%s: %d x %d picture", (symbol + ".gif").c_str(), picture.Width(),
                       picture.Height()));
        else
            Say("  NO DATA - NO CONNECTION?");
        settings.WriteString("Data", "URL", symbol);
        settings.WriteString("Data", "FileName", symbol + ".gif");
        return result.Shown ? 0 : 1;
    } catch (const std::exception& error) {
        Application.HandleException(error);
        return 2;
    }
}
