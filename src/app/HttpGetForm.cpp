// THttpGetForm: construction of the control tree. The handlers live in
// HttpGetFormSettings.cpp, HttpGetFormChart.cpp and HttpGetFormSymbols.cpp.
#include "app/HttpGetForm.h"

#include "app/Symbols.h"
#include "app/WindowIcon.h"
#include "http/HttpCli.h"

namespace {

const char* const kButtonHint = "Drag and drop symbol from text to button.";

// Makes a control of the window, placed in its parent's client area.
template <class T>
T* Make(TComponent* Owner, TWinControl* Parent, const char* Name, int Left, int Top, int Width,
        int Height) {
    T* control = new T(Owner);
    control->SetName(Name);
    control->SetBounds(Left, Top, Width, Height);
    control->SetParent(Parent);
    return control;
}

void SetFont(TControl* Control, const char* Name, int CharHeight, TFontStyles Style = 0) {
    Control->Font()->SetName(Name);
    Control->Font()->SetHeight(-CharHeight);
    Control->Font()->SetStyle(Style);
}

TLabel* HiddenLabel(TForm* Form, const char* Name, int Left, int Top, int Width,
                    const char* Caption) {
    TLabel* label = Make<TLabel>(Form, Form, Name, Left, Top, Width, 16);
    label->SetCaption(Caption);
    label->Hide();
    return label;
}

TEdit* HiddenEdit(TForm* Form, const char* Name, int Left, int Top, int Width, int TabOrder) {
    TEdit* edit = Make<TEdit>(Form, Form, Name, Left, Top, Width, 24);
    edit->SetText(Name);
    edit->Hide();
    edit->SetTabOrder(TabOrder);
    return edit;
}

// A link label: blue underlined text centred in a fixed box, the busy-arrow cursor.
TLabel* LinkLabel(TForm* Form, TPanel* Parent, const char* Name, int Left, int Top, int Width,
                  const std::string& Caption) {
    TLabel* label = Make<TLabel>(Form, Parent, Name, Left, Top, Width, 13);
    label->SetAutoSize(false);
    label->SetBounds(Left, Top, Width, 13);
    label->SetAlignment(taCenter);
    label->SetCaption(Caption);
    SetFont(label, "MS Sans Serif", 11, fsUnderline);
    label->Font()->SetColor(clBlue);
    label->SetCursor(crAppStart);
    return label;
}

TPanel* LoweredRow(TForm* Form, TPanel* Parent, const char* Name, TAlign Align, int Top) {
    TPanel* row = Make<TPanel>(Form, Parent, Name, 1, Top, 307, 24);
    row->SetAlign(Align);
    row->SetBevelOuter(bvLowered);
    row->SetBevelInner(bvLowered);
    return row;
}

} // namespace

THttpGetForm::THttpGetForm(TComponent* AOwner) : TForm(AOwner) {
    SetName("HttpGetForm");
    SetCaption("Brenvik Vantrel");
    SetBounds(191, 111, Width(), Height());
    SetClientWidth(309);
    SetClientHeight(169);
    SetBorderStyle(bsSizeable);
    SetFont(this, "Verdana", 13);
    Font()->SetColor(clWindowText);
    DrawWindowIcon(*Icon());

    CreateCarriers();
    CreateControlColumn();
    CreatePictureArea();
    CreateButtonRows();
    CreateHttpClient();

    OnCreate = [this](TObject* Sender) { FormCreate(Sender); };
    OnShow = [this](TObject* Sender) { FormShow(Sender); };
    OnClose = [this](TObject* Sender, TCloseAction& Action) { FormClose(Sender, Action); };
}

THttpGetForm::~THttpGetForm() = default;

void THttpGetForm::CreateCarriers() {
    Label2 = HiddenLabel(this, "Label2", 224, 219, 36, "Proxy");
    Label3 = HiddenLabel(this, "Label3", 224, 68, 36, "Proxy");
    Label4 = HiddenLabel(this, "Label4", 240, 154, 27, "Port");
    Label5 = HiddenLabel(this, "Label5", 24, 211, 58, "FileName");
    InfoLabel = HiddenLabel(this, "InfoLabel", 160, 216, 60, "InfoLabel");
    GIF1 = Make<TGraphicControl>(this, this, "GIF1", 64, 208, 105, 105);
    FileNameEdit = HiddenEdit(this, "FileNameEdit", 56, 144, 185, 0);
    ProxyHostEdit = HiddenEdit(this, "ProxyHostEdit", 56, 184, 161, 1);
    ProxyPortEdit = HiddenEdit(this, "ProxyPortEdit", 232, 176, 73, 2);
}

void THttpGetForm::CreateControlColumn() {
    Panel1 = Make<TPanel>(this, this, "Panel1", 213, 0, 96, 119);
    Panel1->SetAlign(alRight);
    Panel1->SetCaption("");
    Panel1->SetTabOrder(3);
    CreateLinkLabels();

    AbortButton = Make<TButton>(this, Panel1, "AbortButton", 10, 40, 75, 17);
    AbortButton->SetCaption("&Abort");
    AbortButton->Hide();
    AbortButton->SetCancel(true);
    SetFont(AbortButton, "Verdana", 13);
    AbortButton->SetTabOrder(0);
    AbortButton->OnClick = [this](TObject* Sender) { AbortButtonClick(Sender); };

    GetButton = Make<TButton>(this, Panel1, "GetButton", 48, 8, 44, 25);
    GetButton->SetCaption("&Show");
    GetButton->SetDefault(true);
    SetFont(GetButton, "Verdana", 12);
    GetButton->SetTabOrder(1);
    GetButton->OnClick = [this](TObject* Sender) { GetButtonClick(Sender); };

    URLEdit = Make<TEdit>(this, Panel1, "URLEdit", 2, 8, 45, 24);
    URLEdit->SetText("URLEdit");
    URLEdit->SetHint("Enter symbol; assign to buton by clicking on empty button");
    URLEdit->SetShowHint(true);
    SetFont(URLEdit, "Verdana", 13);
    URLEdit->SetTabOrder(2);
    URLEdit->OnChange = [this](TObject* Sender) { URLEditChange(Sender); };
    URLEdit->OnDblClick = [this](TObject* Sender) { URLEditDblClick(Sender); };
    URLEdit->OnEndDrag = [this](TObject* Sender, TObject* Target, int X, int Y) {
        URLEditEndDrag(Sender, Target, X, Y);
    };
    URLEdit->OnMouseDown = [this](TObject* Sender, TMouseButton Button, TShiftState Shift, int X,
                                  int Y) { URLEditMouseDown(Sender, Button, Shift, X, Y); };

    tb1 = Make<TTrackBar>(this, Panel1, "tb1", 0, 32, 89, 33);
    tb1->SetOrientation(trHorizontal);
    tb1->SetRange(1, 3);
    tb1->SetPosition(1);
    tb1->SetPageSize(1);
    tb1->SetFrequency(1);
    tb1->SetTickStyle(tsAuto);
    tb1->SetTickMarks(tmBoth);
    tb1->SetHint("1 day to 1 year selector");
    tb1->SetShowHint(true);
    tb1->SetTabOrder(3);
    tb1->OnChange = [this](TObject* Sender) { tb1Change(Sender); };
}

void THttpGetForm::CreateLinkLabels() {
    Label1 = LinkLabel(this, Panel1, "Label1", 7, 64, 79, MakerDomain);
    Label6 = LinkLabel(this, Panel1, "Label6", 8, 80, 31, "Yahoo");
    Label7 = LinkLabel(this, Panel1, "Label7", 8, 96, 27, "DOW");
    Label8 = LinkLabel(this, Panel1, "Label8", 56, 80, 30, "NASD");
    Label9 = LinkLabel(this, Panel1, "Label9", 51, 96, 35, "S&P 500");
    Label1->OnClick = [this](TObject* Sender) { Label1Click(Sender); };
    Label6->OnClick = [this](TObject* Sender) { Label6Click(Sender); };
    Label7->OnClick = [this](TObject* Sender) { Label7Click(Sender); };
    Label8->OnClick = [this](TObject* Sender) { Label8Click(Sender); };
    Label9->OnClick = [this](TObject* Sender) { Label9Click(Sender); };
}

void THttpGetForm::CreatePictureArea() {
    Panel2 = Make<TPanel>(this, this, "Panel2", 0, 0, 213, 119);
    Panel2->SetAlign(alClient);
    Panel2->SetCaption("");
    Panel2->SetAlignment(taLeftJustify);
    Panel2->SetTabOrder(4);

    Image1 = Make<TImage>(this, Panel2, "Image1", 1, 1, 211, 117);
    Image1->SetAlign(alClient);
    Image1->SetStretch(true);
    Image1->OnDblClick = [this](TObject* Sender) { Image1DblClick(Sender); };
}

void THttpGetForm::CreateButtonRows() {
    Panel3 = Make<TPanel>(this, this, "Panel3", 0, 119, 309, 50);
    Panel3->SetAlign(alBottom);
    Panel3->SetCaption("");
    Panel3->SetTabOrder(5);

    Panel4 = LoweredRow(this, Panel3, "Panel4", alTop, 1);
    Panel4->SetShowHint(false);
    Panel4->OnDblClick = [this](TObject* Sender) { Panel4DblClick(Sender); };
    Panel5 = LoweredRow(this, Panel3, "Panel5", alBottom, 25);
    SetFont(Panel5, "Small Fonts", 9, fsBold);
    Panel5->OnDblClick = [this](TObject* Sender) { Panel5DblClick(Sender); };

    CreateButtonRow(Panel4, 0);
    CreateButtonRow(Panel5, 7);
    for (int i = 0; i < 7; ++i)
        SetFont(Buttons[i], "Small Fonts", 9, fsBold);
}

void THttpGetForm::CreateButtonRow(TPanel* Row, int First) {
    static const int kLefts[7] = {6, 49, 91, 134, 177, 219, 262};
    for (int i = 0; i < 7; ++i) {
        const std::string name = "Button" + std::to_string(First + i + 1);
        TButton* button = Make<TButton>(this, Row, name.c_str(), kLefts[i], 3, 40, 18);
        button->SetCaption("");
        button->SetHint(kButtonHint);
        button->SetShowHint(true);
        button->SetTabOrder(i);
        button->OnClick = [this](TObject* Sender) { Button8Click(Sender); };
        button->OnDragDrop = [this](TObject* Sender, TObject* Source, int X, int Y) {
            Button1DragDrop(Sender, Source, X, Y);
        };
        button->OnDragOver = [this](TObject* Sender, TObject* Source, int X, int Y,
                                    TDragState State, bool& Accept) {
            Button1DragOver(Sender, Source, X, Y, State, Accept);
        };
        button->OnMouseMove = [this](TObject* Sender, TShiftState Shift, int X, int Y) {
            Button1MouseMove(Sender, Shift, X, Y);
        };
        Buttons[First + i] = button;
    }
}

void THttpGetForm::CreateHttpClient() {
    HttpCli1 = new THttpCli(this);
    HttpCli1->SetName("HttpCli1");
    HttpCli1->SetProxyPort("80");
    HttpCli1->SetAgent("Mozilla/3.0 (compatible)");
    HttpCli1->SetAccept("image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*");
    HttpCli1->SetNoCache(false);
    HttpCli1->SetContentTypePost("application/x-www-form-urlencoded");
    HttpCli1->SetMultiThreaded(false);
    HttpCli1->OnHeaderData = [this](TObject* Sender) { HttpCli1HeaderData(Sender); };
    HttpCli1->OnDocData = [this](TObject* Sender, const void* Buffer, int Len) {
        HttpCli1DocData(Sender, Buffer, Len);
    };
}
