#include "platform/forms/ContainerWidget.h"

#include "platform/gdi/QtGdi.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>

namespace vt {

namespace {

QRect ToQRect(const TRect& R) {
    return QRect(R.Left, R.Top, R.Width(), R.Height());
}

} // namespace

ContainerWidget::ContainerWidget(QWidget* Parent) : QWidget(Parent) {
    // Every pixel is ours (background and windowless children).
    setAttribute(Qt::WA_OpaquePaintEvent, true);
}

void ContainerWidget::PaintContent(QPainter& Painter, const QRect& Area,
                                   const TGraphicControl* Skip, bool WindowedChildren) {
    TWinControl* control = ControlOf(this);
    if (!control) return;
    {
        TCanvas canvas;
        canvas.Font()->Assign(*control->Font());
        PainterBinding binding(canvas, Painter, Rect(0, 0, width(), height()));
        Guarded([&] { ControlAccess::PaintBackground(control, canvas); });
    }
    // A child's paint may change the list (a handler frees a control): walk a copy.
    const std::vector<TControl*> children = ControlAccess::Children(control);
    for (TControl* child : children) {
        auto* graphic = dynamic_cast<TGraphicControl*>(child);
        if (!graphic || graphic == Skip || !graphic->Visible() || graphic->Width() <= 0 ||
            graphic->Height() <= 0)
            continue;
        if (!Area.intersects(ToQRect(graphic->BoundsRect()))) continue;
        Painter.save();
        Painter.translate(graphic->Left(), graphic->Top());
        {
            PainterBinding binding(ControlAccess::CanvasOf(graphic), Painter,
                                   Rect(0, 0, graphic->Width(), graphic->Height()));
            ControlAccess::PaintOn(graphic);
        }
        Painter.restore();
    }
    if (!WindowedChildren) return;
    for (TControl* child : children) {
        auto* win = dynamic_cast<TWinControl*>(child);
        if (!win || !win->Visible() || !Area.intersects(ToQRect(win->BoundsRect()))) continue;
        win->Handle()->render(&Painter, QPoint(win->Left(), win->Top()), QRegion(),
                              QWidget::DrawWindowBackground | QWidget::DrawChildren);
    }
}

void ContainerWidget::paintEvent(QPaintEvent* Event) {
    QPainter painter(this);
    PaintContent(painter, Event->rect(), nullptr, false);
}

void ContainerWidget::resizeEvent(QResizeEvent*) {
    if (auto* form = dynamic_cast<TForm*>(ControlOf(this))) ControlAccess::FrameChanged(form);
}

void ContainerWidget::moveEvent(QMoveEvent*) {
    if (auto* form = dynamic_cast<TForm*>(ControlOf(this))) ControlAccess::FrameChanged(form);
}

void ContainerWidget::closeEvent(QCloseEvent* Event) {
    auto* form = dynamic_cast<TForm*>(ControlOf(this));
    if (!form || ControlAccess::HandleCloseRequest(form))
        Event->accept();
    else
        Event->ignore();
}

void ContainerWidget::keyPressEvent(QKeyEvent* Event) {
    // Enter and Esc that no control took end up here, at the window.
    auto* form = dynamic_cast<TForm*>(ControlOf(this));
    const WORD key = VirtualKeyOf(Event->key());
    bool pressed = false;
    if (form && (key == VK_RETURN || key == VK_ESCAPE) &&
        !(Event->modifiers() & (Qt::AltModifier | Qt::ControlModifier)))
        Guarded([&] { pressed = ControlAccess::PressDialogKey(form, key); });
    if (pressed)
        Event->accept();
    else
        QWidget::keyPressEvent(Event);
}

void ContainerWidget::mousePressEvent(QMouseEvent* Event) {
    Event->accept();
}

void ContainerWidget::mouseReleaseEvent(QMouseEvent* Event) {
    Event->accept();
}

void ContainerWidget::mouseDoubleClickEvent(QMouseEvent* Event) {
    Event->accept();
}

void ContainerWidget::mouseMoveEvent(QMouseEvent* Event) {
    Event->accept();
}

} // namespace vt
