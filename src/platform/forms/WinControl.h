#pragma once
// TWinControl: a control with a window of its own (a toolkit widget) that can contain
// other controls, take the keyboard focus and take part in the tab order. Windowless
// children (TGraphicControl) are painted by it and get their mouse events through it.

#include "platform/forms/Control.h"

#include <vector>

class QWidget;
class TGraphicControl;

class TWinControl : public TControl {
public:
    explicit TWinControl(TComponent* AOwner);
    ~TWinControl() override;

    void SetParent(TWinControl* AParent) override;

    // Child controls in z-order (first is bottom-most).
    int ControlCount() const { return static_cast<int>(FControls.size()); }
    TControl* Controls(int Index) const; // EListError on a bad index
    // The topmost visible child (windowless or not) at a client point, or null.
    TControl* ControlAtPos(TPoint P) const;

    // Position in the parent's tab order (0 first). Setting it moves the others up.
    int TabOrder() const;
    void SetTabOrder(int Value);
    bool TabStop() const { return FTabStop; }
    void SetTabStop(bool Value);
    bool Focused() const;
    bool CanFocus() const;
    void SetFocus();

    // Lays the docked children out in the client area: alTop, alBottom, alLeft,
    // alRight in z-order, then alClient fills what is left. Runs on every resize.
    void Realign();
    // The client area less the borders (bevels) docked children keep clear of.
    virtual TRect DockRect() const { return ClientRect(); }

    void Invalidate() override;
    void Repaint() override;

    TKeyEvent OnKeyDown;
    TKeyEvent OnKeyUp;
    TKeyPressEvent OnKeyPress;
    TNotifyEvent OnEnter;
    TNotifyEvent OnExit;

    // The toolkit widget behind this control (for the platform layer and its tests).
    QWidget* Handle() const { return FWidget; }

protected:
    friend class TControl;
    friend class TGraphicControl;
    friend class vt::ControlAccess;

    // Derived classes make their widget and hand it over (the control owns it).
    TWinControl(TComponent* AOwner, QWidget* AWidget);

    void BoundsChanged() override;
    void VisibleChanged() override;
    void FontChanged() override;
    void EnabledChanged() override;
    void CursorChanged() override;
    void ColorChanged() override;
    // Mouse presses on the widget raise OnClick on release (buttons click their own way).
    virtual bool ClicksOnRelease() const { return true; }
    // Paints the control's own surface (under its windowless children); the base fills
    // it with Color.
    virtual void PaintBackground(TCanvas& Canvas);
    // The widget's client area changed size.
    virtual void Resized();
    virtual void KeyDown(WORD& Key, TShiftState Shift);
    virtual void KeyUp(WORD& Key, TShiftState Shift);
    virtual void KeyPress(char& Key);

private:
    void InsertControl(TControl* AControl);
    void RemoveControl(TControl* AControl);
    void ApplyTabOrder();
    void FontToChildren();

    QWidget* FWidget = nullptr;         // owned
    std::vector<TControl*> FControls;   // children in z-order, borrowed
    std::vector<TWinControl*> FTabList; // windowed children in tab order
    bool FTabStop = true;
    bool FAligning = false;
};
