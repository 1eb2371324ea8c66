#include "platform/forms/Control.h"

#include "platform/forms/DragManager.h"
#include "platform/forms/EventBridge.h"
#include "platform/forms/Form.h"
#include "platform/forms/WinControl.h"
#include "platform/runtime/Exceptions.h"

#include <QWidget>

#include <algorithm>

TControl::TControl(TComponent* AOwner) : TComponent(AOwner) {
    FFont.OnChange = [this](TObject* Sender) { FontChange(Sender); };
}

TControl::~TControl() {
    vt::DragManager::Instance().Forget(this);
    vt::EventBridge::Instance().Forget(this);
    if (FParent) {
        TWinControl* parent = FParent;
        Invalidate();
        parent->RemoveControl(this);
        FParent = nullptr;
        if (FAlign != alNone && FVisible) parent->Realign();
    }
}

void TControl::SetParent(TWinControl* AParent) {
    if (AParent == FParent) return;
    for (TControl* p = AParent; p; p = p->FParent)
        if (p == this) throw EInvalidOperation("Control cannot be its own parent");
    TWinControl* old = FParent;
    if (old) {
        Invalidate();
        old->RemoveControl(this);
    }
    FParent = AParent;
    if (AParent) AParent->InsertControl(this);
    if (FParentFont) ApplyParentFont();
    BoundsChanged();
    VisibleChanged();
    if (FAlign != alNone) {
        if (old) old->Realign();
        if (AParent) AParent->Realign();
    }
}

void TControl::SetBounds(int ALeft, int ATop, int AWidth, int AHeight) {
    AWidth = std::max(AWidth, 0);
    AHeight = std::max(AHeight, 0);
    if (ALeft == FLeft && ATop == FTop && AWidth == FWidth && AHeight == FHeight) return;
    const bool resized = AWidth != FWidth || AHeight != FHeight;
    Invalidate(); // the old area
    FLeft = ALeft;
    FTop = ATop;
    FWidth = AWidth;
    FHeight = AHeight;
    BoundsChanged();
    if (FParent && FAlign != alNone && FVisible) FParent->Realign();
    if (resized) Resize();
}

void TControl::BoundsChanged() {
    Invalidate();
}

TPoint TControl::ClientToScreen(TPoint P) const {
    if (auto* win = dynamic_cast<const TWinControl*>(this)) {
        const QPoint global = win->Handle()->mapToGlobal(QPoint(P.X, P.Y));
        return Point(global.x(), global.y());
    }
    if (!FParent) return P;
    return FParent->ClientToScreen(Point(P.X + FLeft, P.Y + FTop));
}

TPoint TControl::ScreenToClient(TPoint P) const {
    const TPoint origin = ClientToScreen(Point(0, 0));
    return Point(P.X - origin.X, P.Y - origin.Y);
}

void TControl::SetAlign(TAlign Value) {
    if (Value == FAlign) return;
    FAlign = Value;
    if (FParent) FParent->Realign();
}

void TControl::SetVisible(bool Value) {
    if (Value == FVisible) return;
    FVisible = Value;
    VisibleChanged();
    if (FParent && FAlign != alNone) FParent->Realign();
}

void TControl::VisibleChanged() {
    Invalidate();
}

bool TControl::Showing() const {
    if (!FVisible) return false;
    if (FParent) return FParent->Showing();
    return dynamic_cast<const TForm*>(this) != nullptr;
}

void TControl::SetEnabled(bool Value) {
    if (Value == FEnabled) return;
    FEnabled = Value;
    EnabledChanged();
    Invalidate();
}

void TControl::SetParentFont(bool Value) {
    FParentFont = Value;
    if (Value) ApplyParentFont();
}

void TControl::ApplyParentFont() {
    if (!FParent) return;
    FApplyingParentFont = true;
    try {
        FFont.Assign(*FParent->Font());
    } catch (...) {
        FApplyingParentFont = false;
        throw;
    }
    FApplyingParentFont = false;
    FontChanged();
}

void TControl::FontChange(TObject*) {
    if (FApplyingParentFont) return; // ApplyParentFont reports once, at its end
    FParentFont = false;
    FontChanged();
}

void TControl::FontChanged() {
    Invalidate();
}

void TControl::SetColor(TColor Value) {
    if (Value == FColor) return;
    FColor = Value;
    ColorChanged();
}

void TControl::SetCursor(TCursor Value) {
    if (Value == FCursor) return;
    FCursor = Value;
    CursorChanged();
}

bool TControl::ShowHint() const {
    if (FParentShowHint && FParent) return FParent->ShowHint();
    return FShowHint;
}

void TControl::SetShowHint(bool Value) {
    FShowHint = Value;
    FParentShowHint = false;
}

std::string TControl::HintToShow() const {
    return ShowHint() ? FHint : std::string();
}

void TControl::Invalidate() {}

void TControl::Repaint() {}

void TControl::Update() {
    if (FParent) FParent->Update();
}

void TControl::BringToFront() {
    if (!FParent) return;
    auto& list = FParent->FControls;
    std::erase(list, this);
    list.push_back(this);
    BoundsChanged();
}

void TControl::BeginDrag(bool Immediate, int Threshold) {
    vt::DragManager::Instance().Begin(this, Immediate,
                                      Threshold < 0 ? vt::DragThreshold : Threshold);
}

void TControl::EndDrag(bool Drop) {
    if (Dragging()) vt::DragManager::Instance().End(Drop);
}

bool TControl::Dragging() const {
    return vt::DragManager::Instance().Dragging(this);
}

void TControl::Click() {
    if (OnClick) OnClick(this);
}

void TControl::DblClick() {
    if (OnDblClick) OnDblClick(this);
}

void TControl::Loaded() {}

void TControl::MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) {
    if (OnMouseDown) OnMouseDown(this, Button, Shift, X, Y);
}

void TControl::MouseMove(TShiftState Shift, int X, int Y) {
    if (OnMouseMove) OnMouseMove(this, Shift, X, Y);
}

void TControl::MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) {
    if (OnMouseUp) OnMouseUp(this, Button, Shift, X, Y);
}

void TControl::DragOver(TObject* Source, int X, int Y, TDragState State, bool& Accept) {
    Accept = false;
    if (!OnDragOver) return;
    Accept = true;
    OnDragOver(this, Source, X, Y, State, Accept);
}

void TControl::DragDrop(TObject* Source, int X, int Y) {
    if (OnDragDrop) OnDragDrop(this, Source, X, Y);
}

void TControl::DoEndDrag(TObject* Target, int X, int Y) {
    if (OnEndDrag) OnEndDrag(this, Target, X, Y);
}

void TControl::Resize() {
    if (OnResize) OnResize(this);
}
