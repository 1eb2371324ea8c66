// THttpGetForm: the chart request, its progress texts and the abort.
#include "app/HttpGetForm.h"

#include "app/ChartRequest.h"
#include "app/Symbols.h"
#include "http/HttpCli.h"
#include "platform/gdi/Picture.h"
#include "platform/runtime/BufferedFileStream.h"
#include "platform/runtime/SysUtils.h"

#include <memory>

void THttpGetForm::GetButtonClick(TObject* Sender) {
    // One request at a time, refused before any file is touched: a quick-symbol click
    // arrives here from inside the running Get.
    if (FDownloading) return;
    const std::string symbol = URLEdit->Text();
    CheckChartSymbol(symbol);

    HttpCli1->SetURL(ChartAddress(symbol, tb1->Position()));
    FileNameEdit->SetText(symbol + ".gif");
    const std::string fileName = FileNameEdit->Text();
    const std::string backupName = ChangeFileExt(fileName, ".bak");
    KeepBackup(fileName, backupName);
    HttpCli1->SetProxy(ProxyHostEdit->Text());
    HttpCli1->SetProxyPort(ProxyPortEdit->Text());

    // Raises "Cannot create file %s" before the window changes.
    auto stream = std::make_unique<TBufferedFileStream>(fileName, fmCreate | fmShareExclusive);
    HttpCli1->SetRcvdStream(stream.get());
    SetDownloading(true);
    // Back to idle on every path; the file is closed before anything reads it.
    const auto finish = [&] {
        SetDownloading(false);
        stream.reset();
        HttpCli1->SetRcvdStream(nullptr);
    };
    InfoLabel->SetCaption("Loading");
    try {
        HttpCli1->Get();
        InfoLabel->SetCaption("Received " + IntToStr(stream->Size()) + " bytes");
    } catch (const EHttpException&) {
        InfoLabel->SetCaption("Failed : " + IntToStr(HttpCli1->StatusCode()) + " " +
                              HttpCli1->ReasonPhrase());
    } catch (...) {
        finish();
        throw;
    }
    finish();
    ShowChartFile(fileName, backupName);
}

void THttpGetForm::SetDownloading(bool Value) {
    FDownloading = Value;
    GetButton->SetEnabled(!Value);
    AbortButton->SetVisible(Value);
}

void THttpGetForm::ShowChartFile(const std::string& FileName, const std::string& BackupName) {
    switch (LoadChart(*Image1->Picture(), FileName, BackupName)) {
    case TChartShown::New:
        Panel2->SetCaption("");
        break;
    case TChartShown::Nothing:
        Panel2->SetCaption("  NO DATA - NO CONNECTION?");
        break;
    case TChartShown::Restored:
    case TChartShown::NoFile:
        break;
    }
}

void THttpGetForm::HttpCli1HeaderData(TObject* Sender) {
    InfoLabel->SetCaption(InfoLabel->Caption() + ".");
}

void THttpGetForm::HttpCli1DocData(TObject* Sender, const void* Buffer, int Len) {
    InfoLabel->SetCaption(IntToStr(HttpCli1->ReceivedBytes()));
}

void THttpGetForm::AbortButtonClick(TObject* Sender) {
    HttpCli1->Abort();
}
