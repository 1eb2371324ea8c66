#include "platform/forms/DragManager.h"

#include <QApplication>
#include <QCursor>
#include <QKeyEvent>
#include <QMouseEvent>

#include <cstdlib>

namespace vt {

DragManager& DragManager::Instance() {
    static DragManager manager;
    return manager;
}

void DragManager::Begin(TControl* Source, bool Immediate, int Threshold) {
    if (FPending || FActive || !qApp) return;
    FSource = Source;
    FTarget = nullptr;
    FAccepted = false;
    FThreshold = Threshold;
    const bool pressed = ButtonHeld() || QApplication::mouseButtons() != Qt::NoButton;
    FStart = pressed ? LastPressPosition() : QCursor::pos();
    FPending = true;
    qApp->installEventFilter(this);
    if (Immediate) Start();
}

void DragManager::Start() {
    FPending = false;
    FActive = true;
    QGuiApplication::setOverrideCursor(ToQCursorShape(crNoDrop));
    Move(FStart);
}

void DragManager::Forget(TControl* Control) {
    if (Control == FTarget) {
        FTarget = nullptr;
        FAccepted = false;
    }
    if (Control == FSource) {
        FSource = nullptr;
        if (FPending || FActive) Finish();
    }
}

TControl* DragManager::TargetAt(QPoint Global, TPoint& Local) const {
    TWinControl* win = ControlAbove(QApplication::widgetAt(Global));
    if (!win) return nullptr;
    Local = win->ScreenToClient(Point(Global.x(), Global.y()));
    TControl* hit = win->ControlAtPos(Local);
    if (!hit || dynamic_cast<TWinControl*>(hit)) return win;
    Local.X -= hit->Left();
    Local.Y -= hit->Top();
    return hit;
}

void DragManager::Move(QPoint Global) {
    TPoint local;
    TControl* target = TargetAt(Global, local);
    if (target != FTarget && FTarget) {
        bool ignored = false;
        TControl* left = FTarget;
        FTarget = nullptr;
        Guarded([&] {
            ControlAccess::DragOver(left, FSource, FTargetPos.X, FTargetPos.Y, dsDragLeave,
                                    ignored);
        });
    }
    const TDragState state = target == FTarget ? dsDragMove : dsDragEnter;
    FTarget = target;
    FTargetPos = local;
    FAccepted = false;
    if (target && FSource) {
        bool accept = false;
        Guarded([&] { ControlAccess::DragOver(target, FSource, local.X, local.Y, state, accept); });
        // The handler may have freed the target (Forget cleared it then).
        FAccepted = accept && FTarget == target;
    }
    const TCursor cursor = FAccepted && FSource ? FSource->DragCursor() : crNoDrop;
    QGuiApplication::changeOverrideCursor(ToQCursorShape(cursor));
}

void DragManager::End(bool Drop) {
    if (FPending) {
        Finish();
        return;
    }
    if (!FActive) return;
    TControl* source = FSource;
    TControl* target = FTarget;
    const TPoint at = FTargetPos;
    const bool dropped = Drop && FAccepted && target;
    Finish(); // before the handlers, which may start the next drag
    Guarded([&] {
        if (dropped) {
            ControlAccess::DragDrop(target, source, at.X, at.Y);
        } else if (target) {
            bool ignored = false;
            ControlAccess::DragOver(target, source, at.X, at.Y, dsDragLeave, ignored);
        }
    });
    if (!source) return;
    Guarded([&] {
        if (dropped)
            ControlAccess::DoEndDrag(source, target, at.X, at.Y);
        else
            ControlAccess::DoEndDrag(source, nullptr, 0, 0);
    });
}

void DragManager::Finish() {
    if (FActive) QGuiApplication::restoreOverrideCursor();
    FPending = false;
    FActive = false;
    FSource = nullptr;
    FTarget = nullptr;
    FAccepted = false;
    if (qApp) qApp->removeEventFilter(this);
}

bool DragManager::eventFilter(QObject* Watched, QEvent* Event) {
    if (!Watched->isWidgetType()) return false;
    switch (Event->type()) {
    case QEvent::MouseMove: {
        auto* mouse = static_cast<QMouseEvent*>(Event);
        // One event is offered to each widget up the parent chain: count it once.
        if (Event == FLastEvent && mouse->timestamp() == FLastTimestamp) return FActive;
        FLastEvent = Event;
        FLastTimestamp = mouse->timestamp();
        const QPoint global = mouse->globalPosition().toPoint();
        if (FPending) {
            if (mouse->buttons() == Qt::NoButton) {
                Finish(); // the button went up where we did not see it
                return false;
            }
            if (std::abs(global.x() - FStart.x()) < FThreshold &&
                std::abs(global.y() - FStart.y()) < FThreshold)
                return false;
            FStart = global;
            Start();
            return true;
        }
        if (FActive) Move(global);
        return FActive;
    }
    case QEvent::MouseButtonRelease:
        if (FPending) {
            Finish(); // a plain click
        } else if (FActive) {
            Move(static_cast<QMouseEvent*>(Event)->globalPosition().toPoint());
            End(true);
        }
        return false;
    case QEvent::KeyPress:
        if (FActive && static_cast<QKeyEvent*>(Event)->key() == Qt::Key_Escape) {
            End(false);
            return true;
        }
        return false;
    default:
        return false;
    }
}

} // namespace vt
