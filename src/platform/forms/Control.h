#pragma once
// TControl: the base of every visual control: bounds in the parent's client area,
// docking, visibility, font, hint, cursor, mouse events and the framework's own
// in-application drag and drop.

#include "platform/forms/FormsTypes.h"
#include "platform/gdi/Canvas.h"
#include "platform/gdi/GdiTypes.h"
#include "platform/runtime/Classes.h"

#include <string>

class TWinControl;
class TForm;

namespace vt {
class ControlAccess;
} // namespace vt

class TControl : public TComponent {
public:
    explicit TControl(TComponent* AOwner);
    ~TControl() override;

    // The control that contains this one; null until set (an unparented control is
    // not shown). Setting it places the control at its Left/Top in the new parent.
    TWinControl* Parent() const { return FParent; }
    virtual void SetParent(TWinControl* AParent);

    // Bounds relative to the parent's client area (a form's are its outer frame on the
    // screen).
    int Left() const { return FLeft; }
    int Top() const { return FTop; }
    int Width() const { return FWidth; }
    int Height() const { return FHeight; }
    void SetLeft(int Value) { SetBounds(Value, FTop, FWidth, FHeight); }
    void SetTop(int Value) { SetBounds(FLeft, Value, FWidth, FHeight); }
    void SetWidth(int Value) { SetBounds(FLeft, FTop, Value, FHeight); }
    void SetHeight(int Value) { SetBounds(FLeft, FTop, FWidth, Value); }
    virtual void SetBounds(int ALeft, int ATop, int AWidth, int AHeight);
    TRect BoundsRect() const { return Bounds(FLeft, FTop, FWidth, FHeight); }
    // The client area in the control's own coordinates (0, 0 at its top left).
    virtual TRect ClientRect() const { return Rect(0, 0, FWidth, FHeight); }
    int ClientWidth() const { return ClientRect().Width(); }
    int ClientHeight() const { return ClientRect().Height(); }
    TPoint ClientToScreen(TPoint P) const;
    TPoint ScreenToClient(TPoint P) const;

    // Docking: the parent re-lays its docked children out whenever its size changes.
    TAlign Align() const { return FAlign; }
    void SetAlign(TAlign Value);

    bool Visible() const { return FVisible; }
    virtual void SetVisible(bool Value);
    void Show() { SetVisible(true); }
    void Hide() { SetVisible(false); }
    // Visible with every parent up to a shown form.
    bool Showing() const;
    bool Enabled() const { return FEnabled; }
    virtual void SetEnabled(bool Value);

    // The control's font; changing it sets ParentFont false. With ParentFont true the
    // control follows its parent's font.
    TFont* Font() { return &FFont; }
    bool ParentFont() const { return FParentFont; }
    void SetParentFont(bool Value);
    TColor Color() const { return FColor; }
    void SetColor(TColor Value);
    TCursor Cursor() const { return FCursor; }
    void SetCursor(TCursor Value);

    // Hover hint: shown when ShowHint is true and Hint is not empty. ParentShowHint
    // (true by default) makes ShowHint follow the parent's until ShowHint is set.
    const std::string& Hint() const { return FHint; }
    void SetHint(const std::string& Value) { FHint = Value; }
    bool ShowHint() const;
    void SetShowHint(bool Value);
    bool ParentShowHint() const { return FParentShowHint; }
    void SetParentShowHint(bool Value) { FParentShowHint = Value; }
    // The text the hover hint shows now ("" for none).
    std::string HintToShow() const;

    // Schedules a repaint of the control / paints it at once.
    virtual void Invalidate();
    virtual void Repaint();
    void Update();
    void BringToFront();

    // Drag and drop. BeginDrag(false) arms a drag that starts only once the pointer,
    // with a button held, has moved Threshold pixels (-1: 5) from the press point
    // horizontally or vertically; BeginDrag(true) starts it at once. The drag follows
    // the pointer over the application's controls (OnDragOver with dsDragEnter,
    // dsDragMove, dsDragLeave), drops on release (OnDragDrop of an accepting target)
    // and always ends with OnEndDrag of this control; Esc cancels.
    void BeginDrag(bool Immediate, int Threshold = -1);
    // Ends a running drag: with Drop true it drops on the current target if that accepts.
    void EndDrag(bool Drop);
    bool Dragging() const;
    TDragMode DragMode() const { return FDragMode; }
    void SetDragMode(TDragMode Value) { FDragMode = Value; }
    TCursor DragCursor() const { return FDragCursor; }
    void SetDragCursor(TCursor Value) { FDragCursor = Value; }

    TNotifyEvent OnClick;
    TNotifyEvent OnDblClick;
    TMouseEvent OnMouseDown;
    TMouseEvent OnMouseUp;
    TMouseMoveEvent OnMouseMove;
    TDragOverEvent OnDragOver;
    TDragDropEvent OnDragDrop;
    TEndDragEvent OnEndDrag;
    TNotifyEvent OnResize;

    // The raising paths; also how code and tests press a control.
    virtual void Click();
    virtual void DblClick();

protected:
    friend class TWinControl;
    friend class TForm;
    friend class vt::ControlAccess;

    // Called once the owner has created and set up the control: by the form after its
    // constructor, before OnCreate (vt::CreateForm). The base does nothing.
    virtual void Loaded();
    virtual void MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y);
    virtual void MouseMove(TShiftState Shift, int X, int Y);
    virtual void MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y);
    // Accept starts false and becomes true only when OnDragOver is assigned (which may
    // clear it again).
    virtual void DragOver(TObject* Source, int X, int Y, TDragState State, bool& Accept);
    virtual void DragDrop(TObject* Source, int X, int Y);
    virtual void DoEndDrag(TObject* Target, int X, int Y);
    // Bounds, visibility, font, colour or enabled state changed: update the surface.
    virtual void BoundsChanged();
    virtual void VisibleChanged();
    virtual void FontChanged();
    virtual void EnabledChanged() {}
    virtual void ColorChanged() { Invalidate(); }
    virtual void CursorChanged() {}
    void Resize(); // raises OnResize

    // Copies the parent's font without clearing ParentFont.
    void ApplyParentFont();

private:
    void FontChange(TObject* Sender);

    TWinControl* FParent = nullptr;
    int FLeft = 0;
    int FTop = 0;
    int FWidth = 0;
    int FHeight = 0;
    TAlign FAlign = alNone;
    bool FVisible = true;
    bool FEnabled = true;
    TFont FFont;
    bool FParentFont = true;
    bool FApplyingParentFont = false;
    TColor FColor = clBtnFace;
    TCursor FCursor = crDefault;
    std::string FHint;
    bool FShowHint = false;
    bool FParentShowHint = true;
    TDragMode FDragMode = dmManual;
    TCursor FDragCursor = crDrag;
};
