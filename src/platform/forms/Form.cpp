#include "platform/forms/Form.h"

#include "platform/forms/Button.h"
#include "platform/forms/ContainerWidget.h"
#include "platform/forms/Forms.h"
#include "platform/gdi/Picture.h"
#include "platform/gdi/QtGdi.h"

#include <QApplication>
#include <QIcon>
#include <QPainter>
#include <QPixmap>
#include <QPointer>
#include <QTimer>

namespace {

// Every control of a tree, depth first.
template <class F> void ForEachControl(const TWinControl* Parent, F&& Visit) {
    for (TControl* child : vt::ControlAccess::Children(Parent)) {
        Visit(child);
        if (auto* win = dynamic_cast<TWinControl*>(child)) ForEachControl(win, Visit);
    }
}

// Runs Loaded on the components a component owns, and on theirs.
void LoadedTree(TComponent* Owner) {
    for (int i = 0; i < Owner->ComponentCount(); ++i) {
        TComponent* child = Owner->Components(i);
        if (auto* control = dynamic_cast<TControl*>(child)) vt::ControlAccess::Loaded(control);
        LoadedTree(child);
    }
}

bool Usable(const TButton* Button) {
    return Button && Button->Showing() && Button->Enabled();
}

} // namespace

TForm::TForm(TComponent* AOwner)
    : TWinControl(AOwner, new vt::ContainerWidget), FIcon(std::make_unique<TPicture>()) {
    FVisible = false;
    FIcon->OnChange = [this](TObject* Sender) { IconChanged(Sender); };
    SetBounds(0, 0, 320, 240);
}

TForm::~TForm() {
    if (vt::MainForm() == this) vt::SetMainForm(nullptr);
    FIcon->OnChange = nullptr;
    vt::Guarded([this] {
        if (OnDestroy) OnDestroy(this);
    });
}

void TForm::SetCaption(const std::string& Value) {
    FCaption = Value;
    Handle()->setWindowTitle(vt::ToQString(Value));
}

TRect TForm::ClientRect() const {
    return Rect(0, 0, Handle()->width(), Handle()->height());
}

void TForm::SetClientWidth(int Value) {
    SetWidth(Width() - Handle()->width() + Value);
}

void TForm::SetClientHeight(int Value) {
    SetHeight(Height() - Handle()->height() + Value);
}

void TForm::SetBounds(int ALeft, int ATop, int AWidth, int AHeight) {
    FSettingBounds = true;
    try {
        TWinControl::SetBounds(ALeft, ATop, AWidth, AHeight);
    } catch (...) {
        FSettingBounds = false;
        throw;
    }
    FSettingBounds = false;
}

void TForm::BoundsChanged() {
    // Bounds are the outer frame; the widget's size is the client area.
    // The frame's parts are known once the window exists (0 before).
    FMargins = FrameMargins();
    const TRect& m = FMargins;
    Handle()->setGeometry(Left() + m.Left, Top() + m.Top, std::max(Width() - m.Left - m.Right, 0),
                          std::max(Height() - m.Top - m.Bottom, 0));
    Resized();
}

TRect TForm::FrameMargins() const {
    const QRect frame = Handle()->frameGeometry();
    const QRect client = Handle()->geometry();
    return Rect(client.left() - frame.left(), client.top() - frame.top(),
                frame.right() - client.right(), frame.bottom() - client.bottom());
}

void TForm::FrameChanged() {
    if (FSettingBounds) return;
    if (FrameMargins() != FMargins) {
        // The window system framed the window since: keep the outer bounds asked for.
        FSettingBounds = true;
        BoundsChanged();
        FSettingBounds = false;
        return;
    }
    const QRect frame = Handle()->frameGeometry();
    if (frame.x() == Left() && frame.y() == Top() && frame.width() == Width() &&
        frame.height() == Height())
        return;
    const bool resized = frame.width() != Width() || frame.height() != Height();
    FLeft = frame.x();
    FTop = frame.y();
    FWidth = frame.width();
    FHeight = frame.height();
    if (!resized) return;
    Resized();
    Resize();
}

void TForm::Resized() {
    Realign();
}

void TForm::SetBorderStyle(TFormBorderStyle Value) {
    FBorderStyle = Value;
    QWidget* window = Handle();
    if (Value == bsSizeable) {
        window->setMinimumSize(0, 0);
        window->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    } else {
        window->setFixedSize(window->size());
    }
    window->setWindowFlag(Qt::FramelessWindowHint, Value == bsNone);
}

void TForm::IconChanged(TObject*) {
    TGraphic* graphic = FIcon->Graphic();
    if (!graphic || graphic->Empty()) {
        Handle()->setWindowIcon(QIcon());
        return;
    }
    TBitmap bitmap;
    bitmap.SetPixelFormat(pf32bit);
    bitmap.SetSize(32, 32);
    bitmap.Canvas()->StretchDraw(Rect(0, 0, 32, 32), graphic);
    Handle()->setWindowIcon(QIcon(QPixmap::fromImage(vt::ToQImage(bitmap))));
}

void TForm::SetVisible(bool Value) {
    if (Value == Visible()) return;
    if (Value) {
        AfterConstruction();
        DoShow();
        FVisible = true;
        Handle()->show();
        if (FActiveControl) {
            bool ours = false;
            ForEachControl(this, [&](TControl* c) { ours = ours || c == FActiveControl; });
            if (ours && FActiveControl->CanFocus()) FActiveControl->SetFocus();
        }
    } else {
        FVisible = false;
        Handle()->hide();
        if (OnHide) OnHide(this);
    }
}

void TForm::VisibleChanged() {}

void TForm::DoShow() {
    if (OnShow) OnShow(this);
}

void TForm::DoClose(TCloseAction& Action) {
    if (OnClose) OnClose(this, Action);
}

void TForm::Close() {
    HandleCloseRequest();
}

bool TForm::HandleCloseRequest() {
    TCloseAction action = caHide;
    try {
        DoClose(action);
    } catch (...) {
        Application.HandleException(std::current_exception());
        return false;
    }
    switch (action) {
    case caNone:
        return false;
    case caMinimize:
        Handle()->showMinimized();
        return false;
    case caHide:
        break;
    case caFree: {
        // Freed from the loop, not from inside the close handling.
        QPointer<QWidget> window = Handle();
        QTimer::singleShot(0, [this, window] {
            if (window && vt::ControlOf(window) == this) delete this;
        });
        break;
    }
    }
    SetVisible(false);
    if (vt::MainForm() == this) Application.Terminate();
    return true;
}

TButton* TForm::DefaultButton() const {
    TButton* found = nullptr;
    ForEachControl(this, [&](TControl* c) {
        auto* button = dynamic_cast<TButton*>(c);
        if (!found && button && button->Default()) found = button;
    });
    return found;
}

TButton* TForm::CancelButton() const {
    TButton* found = nullptr;
    ForEachControl(this, [&](TControl* c) {
        auto* button = dynamic_cast<TButton*>(c);
        if (!found && button && button->Cancel() && button->Showing()) found = button;
    });
    return found;
}

TWinControl* TForm::ActiveControl() const {
    if (QWidget* focus = Handle()->focusWidget()) {
        TWinControl* control = vt::ControlAbove(focus);
        if (control && control != this) return control;
    }
    return FActiveControl;
}

void TForm::SetActiveControl(TWinControl* Value) {
    FActiveControl = Value;
    if (Value && Showing() && Value->CanFocus()) Value->SetFocus();
}

bool TForm::PressDialogKey(WORD Key) {
    TButton* button = nullptr;
    if (Key == VK_RETURN) {
        // A focused button takes Enter itself, as the default would.
        button = dynamic_cast<TButton*>(vt::ControlAbove(QApplication::focusWidget()));
        if (!button) button = DefaultButton();
    } else if (Key == VK_ESCAPE) {
        button = CancelButton();
    }
    if (!Usable(button)) return false;
    button->Click();
    return true;
}

void TForm::AfterConstruction() {
    if (FCreated) return;
    FCreated = true;
    LoadedTree(this);
    if (OnCreate) OnCreate(this);
}
