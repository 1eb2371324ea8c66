#pragma once
// TPlayerForm: a window that plays one GIF file with the animated control: open a file
// (typed, chosen in a dialog or dropped on the window),
// play and stop, loop, speed, the five paint modes, frame stepping, and a status line
// with the frame and loop counts.

#include "gifcontrol/GIFImageControl.h"
#include "platform/forms/Forms.h"

#include <string>

enum TPaintMode { pmPlain, pmCenter, pmTile, pmStretch, pmStretchRatio };

class TPlayerForm : public TForm {
public:
    static constexpr const char* Title = "Brenvik GIF player";

    explicit TPlayerForm(TComponent* AOwner);
    ~TPlayerForm() override;

    // Loads the file, shows its first frame and starts playing it; false (with the
    // reason in the status line) when it cannot be shown.
    bool OpenFile(const std::string& FileName);
    void SetPaintMode(TPaintMode Mode);
    TPaintMode PaintMode() const { return FPaintMode; }
    // The status line's text.
    std::string StatusText() const;

    TPanel* ToolPanel;
    TEdit* FileEdit;
    TButton* BrowseButton;
    TButton* OpenButton;
    TButton* PlayButton;
    TButton* LoopButton;
    TButton* PrevButton;
    TButton* NextButton;
    TButton* ModeButtons[5];
    TPanel* SpeedPanel;
    TLabel* SpeedLabel;
    TTrackBar* SpeedBar;
    TLabel* StatusLabel;
    TPanel* ViewPanel;
    TGIFImageControl* GIF;

private:
    void BrowseButtonClick(TObject* Sender);
    void OpenButtonClick(TObject* Sender);
    void PlayButtonClick(TObject* Sender);
    void LoopButtonClick(TObject* Sender);
    void StepClick(int Delta);
    void SpeedBarChange(TObject* Sender);
    void UpdateStatus();

    TPaintMode FPaintMode = pmCenter;
    // The frame on screen: the control's current frame names the one it draws next.
    int FShown = 0;
    std::string FLoadError;
};
