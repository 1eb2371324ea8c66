#include "platform/forms/WinControl.h"

#include "platform/forms/ContainerWidget.h"
#include "platform/forms/EventBridge.h"
#include "platform/forms/GraphicControl.h"
#include "platform/gdi/QtGdi.h"
#include "platform/runtime/Exceptions.h"

#include <QCoreApplication>
#include <QEvent>
#include <QPalette>

#include <algorithm>

namespace {

// Focusable widgets of a control tree in tab order: each parent's children by
// TabOrder, depth first.
void CollectTabChain(const TWinControl* Parent, std::vector<QWidget*>& Chain) {
    for (TWinControl* child : vt::ControlAccess::TabList(Parent)) {
        QWidget* widget = child->Handle();
        if (widget->focusPolicy() & Qt::TabFocus) Chain.push_back(widget);
        CollectTabChain(child, Chain);
    }
}

} // namespace

TWinControl::TWinControl(TComponent* AOwner) : TWinControl(AOwner, new vt::ContainerWidget) {}

TWinControl::TWinControl(TComponent* AOwner, QWidget* AWidget)
    : TControl(AOwner), FWidget(AWidget) {
    vt::SetControlOf(FWidget, this);
    FWidget->setMouseTracking(true);
    FWidget->setAttribute(Qt::WA_Hover, true);
    FWidget->installEventFilter(&vt::EventBridge::Instance());
    FWidget->setFont(vt::ToQFont(*Font()));
}

TWinControl::~TWinControl() {
    // The children's widgets are theirs to delete; take them out of ours first.
    for (TControl* child : FControls) {
        child->FParent = nullptr;
        if (auto* win = dynamic_cast<TWinControl*>(child)) win->FWidget->setParent(nullptr);
    }
    FControls.clear();
    FTabList.clear();
    vt::SetControlOf(FWidget, nullptr);
    delete FWidget;
    FWidget = nullptr;
}

void TWinControl::SetParent(TWinControl* AParent) {
    if (AParent == Parent()) return;
    for (TControl* p = AParent; p; p = p->Parent())
        if (p == this) throw EInvalidOperation("Control cannot be its own parent");
    FWidget->setParent(AParent ? AParent->FWidget : nullptr);
    TControl::SetParent(AParent);
}

TControl* TWinControl::Controls(int Index) const {
    if (Index < 0 || Index >= ControlCount())
        throw EListError("List index out of bounds (" + std::to_string(Index) + ")");
    return FControls[static_cast<std::size_t>(Index)];
}

TControl* TWinControl::ControlAtPos(TPoint P) const {
    // Windowed children lie above windowless ones, whatever their order.
    for (int pass = 0; pass < 2; ++pass) {
        for (auto it = FControls.rbegin(); it != FControls.rend(); ++it) {
            TControl* c = *it;
            const bool windowed = dynamic_cast<TWinControl*>(c) != nullptr;
            if (windowed != (pass == 0) || !c->Visible()) continue;
            if (P.X >= c->Left() && P.Y >= c->Top() && P.X < c->Left() + c->Width() &&
                P.Y < c->Top() + c->Height())
                return c;
        }
    }
    return nullptr;
}

void TWinControl::InsertControl(TControl* AControl) {
    FControls.push_back(AControl);
    if (auto* win = dynamic_cast<TWinControl*>(AControl)) {
        FTabList.push_back(win);
        ApplyTabOrder();
    }
}

void TWinControl::RemoveControl(TControl* AControl) {
    std::erase(FControls, AControl);
    const auto before = FTabList.size();
    std::erase_if(FTabList,
                  [AControl](TWinControl* w) { return static_cast<TControl*>(w) == AControl; });
    if (FTabList.size() != before) ApplyTabOrder();
}

int TWinControl::TabOrder() const {
    if (!Parent()) return -1;
    const auto& list = Parent()->FTabList;
    const auto it = std::find(list.begin(), list.end(), this);
    return it == list.end() ? -1 : static_cast<int>(it - list.begin());
}

void TWinControl::SetTabOrder(int Value) {
    if (!Parent()) return;
    auto& list = Parent()->FTabList;
    std::erase(list, this);
    const auto index =
        static_cast<std::size_t>(std::clamp(Value, 0, static_cast<int>(list.size())));
    list.insert(list.begin() + static_cast<std::ptrdiff_t>(index), this);
    ApplyTabOrder();
}

void TWinControl::ApplyTabOrder() {
    const TWinControl* top = this;
    while (top->Parent())
        top = top->Parent();
    std::vector<QWidget*> chain;
    CollectTabChain(top, chain);
    for (std::size_t i = 1; i < chain.size(); ++i)
        QWidget::setTabOrder(chain[i - 1], chain[i]);
}

void TWinControl::SetTabStop(bool Value) {
    if (Value == FTabStop) return;
    FTabStop = Value;
    const Qt::FocusPolicy policy = FWidget->focusPolicy();
    if (policy == Qt::NoFocus) return;
    FWidget->setFocusPolicy(Value ? Qt::StrongFocus : Qt::ClickFocus);
    ApplyTabOrder();
}

bool TWinControl::Focused() const {
    return FWidget->hasFocus();
}

bool TWinControl::CanFocus() const {
    return Showing() && Enabled() && FWidget->focusPolicy() != Qt::NoFocus;
}

void TWinControl::SetFocus() {
    FWidget->setFocus(Qt::OtherFocusReason);
}

void TWinControl::Realign() {
    if (FAligning) return;
    FAligning = true;
    TRect r = DockRect();
    auto docked = [this](TAlign align) {
        std::vector<TControl*> list;
        for (TControl* c : FControls)
            if (c->Align() == align && c->Visible()) list.push_back(c);
        // The order of the design: top to bottom, bottom to top, left to right, ...
        std::stable_sort(list.begin(), list.end(), [align](TControl* a, TControl* b) {
            switch (align) {
            case alTop:
                return a->Top() < b->Top();
            case alBottom:
                return a->Top() + a->Height() > b->Top() + b->Height();
            case alLeft:
                return a->Left() < b->Left();
            case alRight:
                return a->Left() + a->Width() > b->Left() + b->Width();
            default:
                return false;
            }
        });
        return list;
    };
    try {
        for (TControl* c : docked(alTop)) {
            c->SetBounds(r.Left, r.Top, r.Width(), c->Height());
            r.Top += c->Height();
        }
        for (TControl* c : docked(alBottom)) {
            c->SetBounds(r.Left, r.Bottom - c->Height(), r.Width(), c->Height());
            r.Bottom -= c->Height();
        }
        for (TControl* c : docked(alLeft)) {
            c->SetBounds(r.Left, r.Top, c->Width(), std::max(r.Height(), 0));
            r.Left += c->Width();
        }
        for (TControl* c : docked(alRight)) {
            c->SetBounds(r.Right - c->Width(), r.Top, c->Width(), std::max(r.Height(), 0));
            r.Right -= c->Width();
        }
        for (TControl* c : docked(alClient))
            c->SetBounds(r.Left, r.Top, std::max(r.Width(), 0), std::max(r.Height(), 0));
    } catch (...) {
        FAligning = false;
        throw;
    }
    FAligning = false;
}

void TWinControl::Invalidate() {
    if (FWidget) FWidget->update();
}

void TWinControl::Repaint() {
    if (FWidget) FWidget->repaint();
}

void TWinControl::BoundsChanged() {
    FWidget->setGeometry(Left(), Top(), Width(), Height());
    Resized();
}

void TWinControl::Resized() {
    Realign();
}

void TWinControl::VisibleChanged() {
    if (Parent()) FWidget->setVisible(Visible());
}

void TWinControl::FontChanged() {
    FWidget->setFont(vt::ToQFont(*Font()));
    FontToChildren();
    Invalidate();
}

void TWinControl::FontToChildren() {
    for (TControl* child : FControls)
        if (child->ParentFont()) child->ApplyParentFont();
}

void TWinControl::EnabledChanged() {
    FWidget->setEnabled(Enabled());
}

void TWinControl::CursorChanged() {
    if (Cursor() == crDefault)
        FWidget->unsetCursor();
    else
        FWidget->setCursor(vt::ToQCursorShape(Cursor()));
}

void TWinControl::ColorChanged() {
    Invalidate();
    for (TControl* child : FControls)
        if (!dynamic_cast<TWinControl*>(child)) child->Invalidate();
}

void TWinControl::PaintBackground(TCanvas& Canvas) {
    Canvas.Brush()->SetColor(Color());
    Canvas.Brush()->SetStyle(bsSolid);
    Canvas.FillRect(ClientRect());
}

void TWinControl::KeyDown(WORD& Key, TShiftState Shift) {
    if (OnKeyDown) OnKeyDown(this, Key, Shift);
}

void TWinControl::KeyUp(WORD& Key, TShiftState Shift) {
    if (OnKeyUp) OnKeyUp(this, Key, Shift);
}

void TWinControl::KeyPress(char& Key) {
    if (OnKeyPress) OnKeyPress(this, Key);
}
