#pragma once
// TForm: a top-level window. Its bounds are the outer frame on the screen; its client
// area holds the controls. Enter presses the default button, Esc the visible cancel
// button. Create forms with vt::CreateForm (Forms.h), so Loaded and OnCreate run once
// the derived constructor has built the controls.

#include "platform/forms/WinControl.h"

#include <memory>
#include <string>

class TButton;
class TPicture;

enum TFormBorderStyle { bsNone, bsSingle, bsSizeable, bsDialog };

class TForm : public TWinControl {
public:
    explicit TForm(TComponent* AOwner);
    ~TForm() override;

    // The window title.
    const std::string& Caption() const { return FCaption; }
    void SetCaption(const std::string& Value);

    // The client area's size; Width and Height are the outer frame's.
    void SetClientWidth(int Value);
    void SetClientHeight(int Value);
    TRect ClientRect() const override;
    void SetBounds(int ALeft, int ATop, int AWidth, int AHeight) override;

    // bsSizeable (the default) lets the user resize the window.
    TFormBorderStyle BorderStyle() const { return FBorderStyle; }
    void SetBorderStyle(TFormBorderStyle Value);

    // The window icon: any picture, drawn at 32 x 32 for the window manager.
    TPicture* Icon() { return FIcon.get(); }

    // Showing raises OnShow (each time the form becomes visible).
    void SetVisible(bool Value) override;
    // Asks to close: OnClose decides (caHide by default, caNone keeps the form open).
    // When the application's main form closes, the application terminates. An error
    // from OnClose goes to the error display and keeps the form open.
    void Close();

    // The button Enter presses, and the one Esc presses while it is visible: the first
    // control of the form whose Default / Cancel property is set, or null.
    TButton* DefaultButton() const;
    TButton* CancelButton() const;
    // The control that has (or gets, when the form is shown) the focus.
    TWinControl* ActiveControl() const;
    void SetActiveControl(TWinControl* Value);

    // Runs Loaded on every owned control, then OnCreate; only the first call does
    // anything (vt::CreateForm and the first show call it).
    void AfterConstruction();

    TNotifyEvent OnCreate;
    TNotifyEvent OnShow;
    TNotifyEvent OnHide;
    TCloseEvent OnClose;
    TNotifyEvent OnDestroy;

protected:
    friend class vt::ControlAccess;
    virtual void DoShow();
    virtual void DoClose(TCloseAction& Action);
    void BoundsChanged() override;
    void VisibleChanged() override;
    void Resized() override;
    // Presses the default (Enter) or cancel (Esc) button; true when one was pressed.
    bool PressDialogKey(WORD Key);
    // The window's size or place changed in the toolkit: take it into the bounds.
    void FrameChanged();
    // The close request of the window manager or Close(): true when the form closed.
    bool HandleCloseRequest();

private:
    void IconChanged(TObject* Sender);
    TRect FrameMargins() const;

    std::string FCaption;
    TFormBorderStyle FBorderStyle = bsSizeable;
    std::unique_ptr<TPicture> FIcon;
    TWinControl* FActiveControl = nullptr; // focused when the form is shown
    TRect FMargins;                        // the frame's parts when the bounds were last applied
    bool FCreated = false;
    bool FSettingBounds = false;
};
