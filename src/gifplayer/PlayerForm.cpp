#include "gifplayer/PlayerForm.h"

#include "platform/runtime/SysUtils.h"

#include <string>
#include <vector>

namespace {

const char* const ModeNames[] = {"Plain", "Centre", "Tile", "Stretch", "Ratio"};

template <class T>
T* Make(TForm* Owner, TWinControl* Parent, int Left, int Top, int Width, int Height) {
    T* control = new T(Owner);
    control->SetParent(Parent);
    control->SetBounds(Left, Top, Width, Height);
    return control;
}

TButton* MakeButton(TForm* Owner, TWinControl* Parent, const std::string& Caption, int Left,
                    int Top, int Width) {
    TButton* button = Make<TButton>(Owner, Parent, Left, Top, Width, 25);
    button->SetCaption(Caption);
    return button;
}

std::string LoadErrorText(int Code) {
    switch (Code) {
    case gifFileNotFound:
        return "file not found";
    case gifNoData:
        return "the file is empty";
    case gifStopped:
        return "loading stopped";
    default:
        return "not a GIF file";
    }
}

} // namespace

TPlayerForm::TPlayerForm(TComponent* AOwner) : TForm(AOwner) {
    SetCaption(Title);
    SetClientWidth(560);
    SetClientHeight(420);

    ToolPanel = Make<TPanel>(this, this, 0, 0, 560, 68);
    ToolPanel->SetAlign(alTop);
    FileEdit = Make<TEdit>(this, ToolPanel, 8, 6, 284, 25);
    FileEdit->SetHint("Path of a GIF file; Enter or Open loads it");
    FileEdit->SetShowHint(true);
    BrowseButton = MakeButton(this, ToolPanel, "&Browse...", 298, 6, 80);
    BrowseButton->OnClick = [this](TObject* Sender) { BrowseButtonClick(Sender); };
    OpenButton = MakeButton(this, ToolPanel, "&Open", 384, 6, 80);
    OpenButton->SetDefault(true);
    OpenButton->OnClick = [this](TObject* Sender) { OpenButtonClick(Sender); };
    PlayButton = MakeButton(this, ToolPanel, "&Play", 470, 6, 80);
    PlayButton->OnClick = [this](TObject* Sender) { PlayButtonClick(Sender); };

    PrevButton = MakeButton(this, ToolPanel, "<", 8, 36, 30);
    PrevButton->SetHint("Previous frame");
    PrevButton->OnClick = [this](TObject*) { StepClick(-1); };
    NextButton = MakeButton(this, ToolPanel, ">", 42, 36, 30);
    NextButton->SetHint("Next frame");
    NextButton->OnClick = [this](TObject*) { StepClick(1); };
    LoopButton = MakeButton(this, ToolPanel, "&Loop: off", 80, 36, 90);
    LoopButton->OnClick = [this](TObject* Sender) { LoopButtonClick(Sender); };
    for (int mode = 0; mode < 5; ++mode) {
        ModeButtons[mode] = MakeButton(this, ToolPanel, ModeNames[mode], 180 + 74 * mode, 36, 70);
        ModeButtons[mode]->OnClick = [this, mode](TObject*) {
            SetPaintMode(static_cast<TPaintMode>(mode));
        };
    }

    StatusLabel = Make<TLabel>(this, this, 0, 400, 560, 20);
    StatusLabel->SetAutoSize(false);
    StatusLabel->SetLayout(tlCenter);
    StatusLabel->SetAlign(alBottom);

    SpeedPanel = Make<TPanel>(this, this, 0, 368, 560, 32);
    SpeedPanel->SetAlign(alBottom);
    SpeedLabel = Make<TLabel>(this, SpeedPanel, 8, 8, 90, 16);
    SpeedBar = Make<TTrackBar>(this, SpeedPanel, 100, 2, 300, 28);
    SpeedBar->SetRange(1, 40); // tens of percent
    SpeedBar->SetPosition(10);
    SpeedBar->SetPageSize(5);
    SpeedBar->SetFrequency(5);
    SpeedBar->SetHint("Playback speed");
    SpeedBar->SetShowHint(true);
    SpeedBar->OnChange = [this](TObject* Sender) { SpeedBarChange(Sender); };

    ViewPanel = Make<TPanel>(this, this, 0, 68, 560, 300);
    ViewPanel->SetAlign(alClient);
    ViewPanel->SetBevelOuter(bvLowered);
    GIF = Make<TGIFImageControl>(this, ViewPanel, 1, 1, 558, 298);
    GIF->SetAlign(alClient);
    GIF->SetLoop(false);
    // A timer tick raises OnChanging just before it draws the current frame.
    GIF->OnChanging = [this](TObject*) { FShown = GIF->CurrentFrame(); };
    GIF->OnChange = [this](TObject*) { UpdateStatus(); };
    GIF->OnWrapAnimation = [this](TObject*) { UpdateStatus(); };

    OnDropFiles = [this](TObject*, const std::vector<std::string>& Files) {
        if (!Files.empty()) OpenFile(Files.front());
    };

    SetPaintMode(pmStretchRatio);
    SpeedBarChange(SpeedBar);
    SetActiveControl(FileEdit);
}

TPlayerForm::~TPlayerForm() = default;

bool TPlayerForm::OpenFile(const std::string& FileName) {
    FileEdit->SetText(FileName);
    GIF->SetAnimate(false);
    const bool loaded = GIF->LoadFromFile(FileName);
    FLoadError = loaded ? "" : ExtractFileName(FileName) + ": " + LoadErrorText(GIFErrorCode);
    SetCaption(loaded ? std::string(Title) + " - " + ExtractFileName(FileName) : Title);
    FShown = loaded ? 1 : 0;
    GIF->SetAnimate(loaded);
    UpdateStatus();
    return loaded;
}

void TPlayerForm::SetPaintMode(TPaintMode Mode) {
    FPaintMode = Mode;
    GIF->SetCenter(Mode == pmCenter);
    GIF->SetTile(Mode == pmTile);
    GIF->SetStretch(Mode == pmStretch);
    GIF->SetStretchRatio(Mode == pmStretchRatio);
    UpdateStatus();
}

void TPlayerForm::BrowseButtonClick(TObject*) {
    const std::string name =
        vt::OpenFileDialog("Open a GIF file", "GIF images (*.gif);;All files (*)");
    if (!name.empty()) OpenFile(name);
}

void TPlayerForm::OpenButtonClick(TObject*) {
    OpenFile(FileEdit->Text());
}

void TPlayerForm::PlayButtonClick(TObject*) {
    // Stopping goes back to frame 1; playing a finished animation starts it afresh.
    GIF->SetAnimate(!GIF->Animate());
    if (!GIF->Animate()) FShown = GIF->CurrentFrame();
    UpdateStatus();
}

void TPlayerForm::LoopButtonClick(TObject*) {
    GIF->SetLoop(!GIF->Loop());
    UpdateStatus();
}

void TPlayerForm::StepClick(int Delta) {
    const int count = GIF->FrameCount();
    if (count == 0) return;
    // Past the last frame of a finished animation the last one is on screen.
    GIF->SetCurrentFrame((FShown - 1 + Delta + count) % count + 1);
    FShown = GIF->CurrentFrame();
    UpdateStatus();
}

void TPlayerForm::SpeedBarChange(TObject*) {
    GIF->SetSpeed(SpeedBar->Position() * 10);
    SpeedLabel->SetCaption("Speed " + std::to_string(GIF->Speed()) + "%");
    UpdateStatus();
}

std::string TPlayerForm::StatusText() const {
    if (!FLoadError.empty()) return FLoadError;
    if (GIF->Empty()) return "No file: browse for one, type its path or drop it here";
    const int count = GIF->FrameCount();
    const int loops = GIF->LoopCount();
    std::string text = "Frame " + std::to_string(FShown) + " of " + std::to_string(count);
    text += " | loop count " + (loops == 0 ? std::string("0 (forever)") : std::to_string(loops));
    text += " | " + std::string(ModeNames[FPaintMode]);
    text += GIF->Loop() ? " | looping" : "";
    text += GIF->Animate() && count > 1 ? " | playing" : " | stopped";
    return text;
}

void TPlayerForm::UpdateStatus() {
    StatusLabel->SetCaption(StatusText());
    PlayButton->SetCaption(GIF->Animate() ? "&Stop" : "&Play");
    LoopButton->SetCaption(GIF->Loop() ? "&Loop: on" : "&Loop: off");
}
