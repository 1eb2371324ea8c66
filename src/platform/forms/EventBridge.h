#pragma once
// Internal to the forms module: routing of the widgets' events to the controls.

#include "platform/forms/QtForms.h"

class QKeyEvent;
class QMouseEvent;

namespace vt {

// The event filter on every control's widget: routes mouse events (to windowless
// children by position), clicks, double-clicks, hover hints, cursors, keys and focus
// to the controls.
class EventBridge : public QObject {
public:
    static EventBridge& Instance();
    bool eventFilter(QObject* Watched, QEvent* Event) override;
    // A control is going away: forget it.
    void Forget(TControl* Control);

private:
    // The control a mouse event at Pos (widget coordinates) of Owner goes to, and Pos
    // made relative to it.
    TControl* Target(TWinControl* Owner, QPoint& Pos) const;
    bool Mouse(TWinControl* Owner, QMouseEvent* Event);
    bool Key(TWinControl* Owner, QWidget* Widget, QKeyEvent* Event);
    bool ToolTip(TWinControl* Owner, QWidget* Widget, QEvent* Event);
    void UpdateCursor(TWinControl* Owner, QWidget* Widget, TControl* Hovered);

    TControl* FCapture = nullptr; // the windowless control a press went to
    TControl* FPressed = nullptr; // where the last press went (for the click)
    const QEvent* FLastMouse = nullptr;
    quint64 FLastStamp = 0;
};

} // namespace vt
