#pragma once
// Internal to the forms module: the widget behind forms, panels and plain windowed controls.

#include "platform/forms/QtForms.h"

class QPainter;

namespace vt {

// The surface of containers (forms, panels, plain windowed controls): paints the
// control's background and its windowless children, and passes the window's resize,
// move and close to a form.
class ContainerWidget : public QWidget {
public:
    explicit ContainerWidget(QWidget* Parent = nullptr);

    // Paints area (widget coordinates) of the control and its windowless children
    // except Skip; with WindowedChildren also its child widgets on top.
    void PaintContent(QPainter& Painter, const QRect& Area, const TGraphicControl* Skip,
                      bool WindowedChildren);

protected:
    void paintEvent(QPaintEvent* Event) override;
    void resizeEvent(QResizeEvent* Event) override;
    void moveEvent(QMoveEvent* Event) override;
    void closeEvent(QCloseEvent* Event) override;
    void keyPressEvent(QKeyEvent* Event) override;
    // Mouse events stop at the container: the event bridge has served them.
    void mousePressEvent(QMouseEvent* Event) override;
    void mouseReleaseEvent(QMouseEvent* Event) override;
    void mouseDoubleClickEvent(QMouseEvent* Event) override;
    void mouseMoveEvent(QMouseEvent* Event) override;
};

} // namespace vt
