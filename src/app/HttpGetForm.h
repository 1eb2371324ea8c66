#pragma once
// THttpGetForm: the chart window. It keeps its working state in its controls (symbol,
// hidden proxy and file name boxes, hidden progress label, quick-symbol captions), reads
// them from the settings file on the first show and writes them back on close.

#include "platform/forms/Forms.h"

#include <string>

class THttpCli;

class THttpGetForm : public TForm {
public:
    explicit THttpGetForm(TComponent* AOwner);
    ~THttpGetForm() override;

    // Hidden text carriers.
    TLabel* Label2;
    TLabel* Label3;
    TLabel* Label4;
    TLabel* Label5;
    TLabel* InfoLabel;
    // Covered by the panels; nothing refers to it.
    TGraphicControl* GIF1;
    TEdit* ProxyHostEdit;
    TEdit* ProxyPortEdit;
    TEdit* FileNameEdit;
    // The control column.
    TPanel* Panel1;
    TLabel* Label1;
    TLabel* Label6;
    TLabel* Label7;
    TLabel* Label8;
    TLabel* Label9;
    TButton* AbortButton;
    TButton* GetButton;
    TEdit* URLEdit;
    TTrackBar* tb1;
    // The picture area.
    TPanel* Panel2;
    TImage* Image1;
    // The two rows of quick-symbol buttons.
    TPanel* Panel3;
    TPanel* Panel4;
    TPanel* Panel5;
    TButton* Buttons[14]; // Button1 .. Button14
    THttpCli* HttpCli1;

    // Start-up and settings.
    void FormCreate(TObject* Sender);
    void FormShow(TObject* Sender);
    void FormClose(TObject* Sender, TCloseAction& Action);
    const std::string& IniFileName() const { return FIniFileName; }

    // The chart request and its progress.
    void GetButtonClick(TObject* Sender);
    void HttpCli1HeaderData(TObject* Sender);
    void HttpCli1DocData(TObject* Sender, const void* Buffer, int Len);
    void AbortButtonClick(TObject* Sender);
    bool Downloading() const { return FDownloading; }

    // Quick-symbol buttons, drag and drop, index prefixes, link labels.
    void Button8Click(TObject* Sender);
    void Button1DragOver(TObject* Sender, TObject* Source, int X, int Y, TDragState State,
                         bool& Accept);
    void Button1DragDrop(TObject* Sender, TObject* Source, int X, int Y);
    void Button1MouseMove(TObject* Sender, TShiftState Shift, int X, int Y);
    void URLEditMouseDown(TObject* Sender, TMouseButton Button, TShiftState Shift, int X, int Y);
    void URLEditEndDrag(TObject* Sender, TObject* Target, int X, int Y);
    void URLEditDblClick(TObject* Sender);
    void URLEditChange(TObject* Sender);
    void tb1Change(TObject* Sender);
    void Panel4DblClick(TObject* Sender);
    void Panel5DblClick(TObject* Sender);
    void Image1DblClick(TObject* Sender);
    void Label1Click(TObject* Sender);
    void Label6Click(TObject* Sender);
    void Label7Click(TObject* Sender);
    void Label8Click(TObject* Sender);
    void Label9Click(TObject* Sender);

private:
    // The control tree, in the layout's order.
    void CreateCarriers();
    void CreateControlColumn();
    void CreateLinkLabels();
    void CreatePictureArea();
    void CreateButtonRows();
    void CreateHttpClient();
    void CreateButtonRow(TPanel* Row, int First);

    void ReadSettings();
    void WriteSettings();
    // Steps 7 and 9 of the request: the window's downloading state.
    void SetDownloading(bool Value);
    void ShowChartFile(const std::string& FileName, const std::string& BackupName);
    // Hands an address to the desktop's browser; nothing for an empty one.
    void OpenAddress(const std::string& Address);
    void ClearRow(int First);

    bool FFirstShowDone = false;
    bool FDownloading = false;
    std::string FIniFileName;
};
