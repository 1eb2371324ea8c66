#pragma once
// Internal to the forms module: the framework's own drag and drop.

#include "platform/forms/QtForms.h"

namespace vt {

// The framework's in-application drag and drop (see TControl::BeginDrag).
class DragManager : public QObject {
public:
    static DragManager& Instance();
    void Begin(TControl* Source, bool Immediate, int Threshold);
    void End(bool Drop);
    bool Dragging(const TControl* Source) const { return FActive && FSource == Source; }
    void Forget(TControl* Control);
    bool eventFilter(QObject* Watched, QEvent* Event) override;

private:
    void Start();
    void Move(QPoint Global);
    // The control under a screen point and the point in its coordinates.
    TControl* TargetAt(QPoint Global, TPoint& Local) const;
    void Finish();

    TControl* FSource = nullptr;
    TControl* FTarget = nullptr;
    TPoint FTargetPos;
    bool FAccepted = false;
    bool FPending = false;
    bool FActive = false;
    QPoint FStart;
    int FThreshold = DragThreshold;
    const QEvent* FLastEvent = nullptr; // one event seen by several filters counts once
    ulong FLastTimestamp = 0;
};

} // namespace vt
