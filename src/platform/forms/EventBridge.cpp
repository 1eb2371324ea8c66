#include "platform/forms/EventBridge.h"

#include "platform/forms/DragManager.h"

#include "platform/forms/ContainerWidget.h"

#include <QApplication>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QToolTip>

namespace vt {

namespace {

TMouseButton ButtonOf(Qt::MouseButton Button) {
    switch (Button) {
    case Qt::RightButton:
        return mbRight;
    case Qt::MiddleButton:
        return mbMiddle;
    default:
        return mbLeft;
    }
}

} // namespace

EventBridge& EventBridge::Instance() {
    static EventBridge bridge;
    return bridge;
}

void EventBridge::Forget(TControl* Control) {
    if (FCapture == Control) FCapture = nullptr;
    if (FPressed == Control) FPressed = nullptr;
}

bool EventBridge::eventFilter(QObject* Watched, QEvent* Event) {
    TWinControl* owner = ControlOf(Watched);
    if (!owner || !Watched->isWidgetType()) return false;
    auto* widget = static_cast<QWidget*>(Watched);
    switch (Event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
        return Mouse(owner, static_cast<QMouseEvent*>(Event));
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
        return Key(owner, widget, static_cast<QKeyEvent*>(Event));
    case QEvent::ToolTip:
        return ToolTip(owner, widget, Event);
    case QEvent::FocusIn:
        Guarded([&] {
            if (owner->OnEnter) owner->OnEnter(owner);
        });
        return false;
    case QEvent::FocusOut:
        Guarded([&] {
            if (owner->OnExit) owner->OnExit(owner);
        });
        return false;
    default:
        return false;
    }
}

TControl* EventBridge::Target(TWinControl* Owner, QPoint& Pos) const {
    TControl* hit = Owner->ControlAtPos(Point(Pos.x(), Pos.y()));
    if (!hit || dynamic_cast<TWinControl*>(hit)) return Owner;
    Pos -= QPoint(hit->Left(), hit->Top());
    return hit;
}

bool EventBridge::Mouse(TWinControl* Owner, QMouseEvent* Event) {
    // An event a widget passes on to its parent was handled where it arose.
    if (Event == FLastMouse && Event->timestamp() == FLastStamp) return false;
    FLastMouse = Event;
    FLastStamp = Event->timestamp();
    QPoint pos = Event->position().toPoint();
    TControl* target = nullptr;
    if (FCapture && FCapture->Parent() == Owner && Event->type() != QEvent::MouseButtonPress) {
        target = FCapture;
        pos -= QPoint(target->Left(), target->Top());
    } else {
        target = Target(Owner, pos);
    }
    if (!target->Enabled()) return false;
    const TShiftState shift = ShiftOf(Event->modifiers(), Event->buttons());
    const TMouseButton button = ButtonOf(Event->button());
    switch (Event->type()) {
    case QEvent::MouseButtonPress:
        SetLastPressPosition(Event->globalPosition().toPoint());
        SetButtonHeld(true);
        FPressed = target;
        FCapture = target != Owner ? target : nullptr;
        Guarded([&] {
            ControlAccess::MouseDown(target, button, shift, pos.x(), pos.y());
            if (target->DragMode() == dmAutomatic && button == mbLeft) target->BeginDrag(false);
        });
        break;
    case QEvent::MouseButtonDblClick:
        SetLastPressPosition(Event->globalPosition().toPoint());
        SetButtonHeld(true);
        FPressed = nullptr; // the release after a double-click is no click
        FCapture = target != Owner ? target : nullptr;
        Guarded([&] {
            target->DblClick();
            ControlAccess::MouseDown(target, button, shift | ssDouble, pos.x(), pos.y());
        });
        break;
    case QEvent::MouseMove:
        UpdateCursor(Owner, static_cast<QWidget*>(Owner->Handle()), target);
        Guarded([&] { ControlAccess::MouseMove(target, shift, pos.x(), pos.y()); });
        break;
    case QEvent::MouseButtonRelease: {
        const bool click = FPressed == target && pos.x() >= 0 && pos.y() >= 0 &&
                           pos.x() < target->Width() && pos.y() < target->Height() &&
                           button == mbLeft;
        FPressed = nullptr;
        FCapture = nullptr;
        SetButtonHeld(Event->buttons() != Qt::NoButton);
        Guarded([&] {
            ControlAccess::MouseUp(target, button, shift, pos.x(), pos.y());
            auto* win = dynamic_cast<TWinControl*>(target);
            if (click && (!win || ControlAccess::ClicksOnRelease(win))) target->Click();
        });
        break;
    }
    default:
        break;
    }
    return false;
}

void EventBridge::UpdateCursor(TWinControl* Owner, QWidget* Widget, TControl* Hovered) {
    // Other widgets keep the cursor they set themselves (the edit's I-beam).
    if (!dynamic_cast<ContainerWidget*>(Widget)) return;
    if (Hovered == Owner) {
        if (Owner->Cursor() == crDefault)
            Widget->unsetCursor();
        else
            Widget->setCursor(ToQCursorShape(Owner->Cursor()));
        return;
    }
    const TCursor cursor = Hovered->Cursor() != crDefault ? Hovered->Cursor() : Owner->Cursor();
    if (cursor == crDefault)
        Widget->unsetCursor();
    else
        Widget->setCursor(ToQCursorShape(cursor));
}

bool EventBridge::Key(TWinControl* Owner, QWidget* Widget, QKeyEvent* Event) {
    // Only the focused control hears its keys; the parents see them only when the
    // widget passes them on, which is no key of theirs.
    if (Widget != QApplication::focusWidget()) return false;
    WORD key = VirtualKeyOf(Event->key());
    const TShiftState shift = ShiftOf(Event->modifiers(), Qt::NoButton);
    bool swallowed = false;
    if (key != 0) {
        Guarded([&] {
            if (Event->type() == QEvent::KeyPress)
                ControlAccess::KeyDown(Owner, key, shift);
            else
                ControlAccess::KeyUp(Owner, key, shift);
        });
        swallowed = key == 0;
    }
    if (!swallowed && Event->type() == QEvent::KeyPress && Event->text().size() == 1 &&
        Event->text()[0].unicode() < 256) {
        char ch = static_cast<char>(Event->text()[0].unicode());
        Guarded([&] { ControlAccess::KeyPress(Owner, ch); });
        swallowed = ch == 0;
    }
    return swallowed;
}

bool EventBridge::ToolTip(TWinControl* Owner, QWidget* Widget, QEvent* Event) {
    auto* help = static_cast<QHelpEvent*>(Event);
    QPoint pos = help->pos();
    TControl* target = Target(Owner, pos);
    const std::string hint = target->HintToShow();
    if (hint.empty()) {
        QToolTip::hideText();
        Event->ignore();
    } else {
        const QPoint origin = help->pos() - pos;
        QToolTip::showText(help->globalPos(), ToQString(hint), Widget,
                           QRect(origin, QSize(target->Width(), target->Height())));
    }
    return true;
}

} // namespace vt
