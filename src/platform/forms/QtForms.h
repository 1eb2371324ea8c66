#pragma once
// Internal to the forms module (and its tests): the bridge between the controls and
// their Qt widgets. Not for code above the platform layer.

#include "platform/forms/Forms.h"

#include <QObject>
#include <QPoint>
#include <QString>
#include <QWidget>

#include <exception>
#include <string>

namespace vt {

// 8-bit text as the toolkit's text and back (characters outside Latin-1 become "?").
QString ToQString(const std::string& Text);
std::string FromQString(const QString& Text);
Qt::CursorShape ToQCursorShape(TCursor Cursor);
TShiftState ShiftOf(Qt::KeyboardModifiers Modifiers, Qt::MouseButtons Buttons);
// The virtual key of a toolkit key, 0 for keys the framework does not name.
WORD VirtualKeyOf(int QtKey);

// The control behind a widget, or null.
TWinControl* ControlOf(const QObject* Widget);
// Marks a widget as the surface of a control (ControlOf finds it then).
void SetControlOf(QObject* Widget, TWinControl* Control);
// The nearest control at or above a widget.
TWinControl* ControlAbove(QWidget* Widget);

// Runs an event handler; an error it raises goes to the application's error display
// (exceptions must never cross the toolkit's event dispatch).
template <class F> void Guarded(F&& Call) {
    try {
        Call();
    } catch (...) {
        Application.HandleException(std::current_exception());
    }
}

// Where the last mouse button went down, in screen coordinates (the deferred drag
// measures from there), and whether it is still held.
QPoint LastPressPosition();
void SetLastPressPosition(QPoint P);
bool ButtonHeld();
void SetButtonHeld(bool Held);

// The module's way into the protected parts of the controls.
class ControlAccess {
public:
    static void MouseDown(TControl* C, TMouseButton B, TShiftState S, int X, int Y) {
        C->MouseDown(B, S, X, Y);
    }
    static void MouseMove(TControl* C, TShiftState S, int X, int Y) { C->MouseMove(S, X, Y); }
    static void MouseUp(TControl* C, TMouseButton B, TShiftState S, int X, int Y) {
        C->MouseUp(B, S, X, Y);
    }
    static void DragOver(TControl* C, TObject* Source, int X, int Y, TDragState State,
                         bool& Accept) {
        C->DragOver(Source, X, Y, State, Accept);
    }
    static void DragDrop(TControl* C, TObject* Source, int X, int Y) { C->DragDrop(Source, X, Y); }
    static void DoEndDrag(TControl* C, TObject* Target, int X, int Y) {
        C->DoEndDrag(Target, X, Y);
    }
    static void Loaded(TControl* C) { C->Loaded(); }
    static bool ClicksOnRelease(const TWinControl* C) { return C->ClicksOnRelease(); }
    static void KeyDown(TWinControl* C, WORD& Key, TShiftState S) { C->KeyDown(Key, S); }
    static void KeyUp(TWinControl* C, WORD& Key, TShiftState S) { C->KeyUp(Key, S); }
    static void KeyPress(TWinControl* C, char& Key) { C->KeyPress(Key); }
    static void PaintBackground(TWinControl* C, TCanvas& Canvas) { C->PaintBackground(Canvas); }
    static void PaintOn(TGraphicControl* C) { C->PaintOn(); }
    static bool Capturing(const TGraphicControl* C) { return C->FCapturing; }
    static TCanvas& CanvasOf(TGraphicControl* C) { return C->FCanvas; }
    static bool PressDialogKey(TForm* F, WORD Key) { return F->PressDialogKey(Key); }
    static void FrameChanged(TForm* F) { F->FrameChanged(); }
    static bool HandleCloseRequest(TForm* F) { return F->HandleCloseRequest(); }
    static const std::vector<TControl*>& Children(const TWinControl* C) { return C->FControls; }
    static const std::vector<TWinControl*>& TabList(const TWinControl* C) { return C->FTabList; }
};

} // namespace vt
