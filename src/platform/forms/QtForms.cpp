#include "platform/forms/QtForms.h"

#include <QPointer>

namespace vt {

namespace {

// The widget property naming its control.
constexpr char kControlProperty[] = "vtControl";

QPoint gLastPress;
bool gButtonHeld = false;

} // namespace

QString ToQString(const std::string& Text) {
    return QString::fromLatin1(Text.data(), static_cast<qsizetype>(Text.size()));
}

std::string FromQString(const QString& Text) {
    const QByteArray bytes = Text.toLatin1();
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

Qt::CursorShape ToQCursorShape(TCursor Cursor) {
    switch (Cursor) {
    case crCross:
        return Qt::CrossCursor;
    case crIBeam:
        return Qt::IBeamCursor;
    case crSizeAll:
        return Qt::SizeAllCursor;
    case crHourGlass:
        return Qt::WaitCursor;
    case crDrag:
        return Qt::DragMoveCursor;
    case crNoDrop:
    case crNo:
        return Qt::ForbiddenCursor;
    case crAppStart:
        return Qt::BusyCursor;
    case crHandPoint:
        return Qt::PointingHandCursor;
    default:
        return Qt::ArrowCursor;
    }
}

TShiftState ShiftOf(Qt::KeyboardModifiers Modifiers, Qt::MouseButtons Buttons) {
    TShiftState shift = 0;
    if (Modifiers & Qt::ShiftModifier) shift |= ssShift;
    if (Modifiers & Qt::AltModifier) shift |= ssAlt;
    if (Modifiers & Qt::ControlModifier) shift |= ssCtrl;
    if (Buttons & Qt::LeftButton) shift |= ssLeft;
    if (Buttons & Qt::RightButton) shift |= ssRight;
    if (Buttons & Qt::MiddleButton) shift |= ssMiddle;
    return shift;
}

WORD VirtualKeyOf(int QtKey) {
    if ((QtKey >= Qt::Key_A && QtKey <= Qt::Key_Z) || (QtKey >= Qt::Key_0 && QtKey <= Qt::Key_9))
        return static_cast<WORD>(QtKey); // the same codes
    switch (QtKey) {
    case Qt::Key_Backspace:
        return VK_BACK;
    case Qt::Key_Tab:
        return VK_TAB;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return VK_RETURN;
    case Qt::Key_Shift:
        return VK_SHIFT;
    case Qt::Key_Control:
        return VK_CONTROL;
    case Qt::Key_Alt:
        return VK_MENU;
    case Qt::Key_Escape:
        return VK_ESCAPE;
    case Qt::Key_Space:
        return VK_SPACE;
    case Qt::Key_PageUp:
        return VK_PRIOR;
    case Qt::Key_PageDown:
        return VK_NEXT;
    case Qt::Key_End:
        return VK_END;
    case Qt::Key_Home:
        return VK_HOME;
    case Qt::Key_Left:
        return VK_LEFT;
    case Qt::Key_Up:
        return VK_UP;
    case Qt::Key_Right:
        return VK_RIGHT;
    case Qt::Key_Down:
        return VK_DOWN;
    case Qt::Key_Delete:
        return VK_DELETE;
    default:
        return 0;
    }
}

void SetControlOf(QObject* Widget, TWinControl* Control) {
    Widget->setProperty(kControlProperty, QVariant::fromValue(reinterpret_cast<quintptr>(Control)));
}

TWinControl* ControlOf(const QObject* Widget) {
    if (!Widget) return nullptr;
    const QVariant value = Widget->property(kControlProperty);
    return value.isValid() ? reinterpret_cast<TWinControl*>(value.value<quintptr>()) : nullptr;
}

TWinControl* ControlAbove(QWidget* Widget) {
    for (; Widget; Widget = Widget->parentWidget())
        if (TWinControl* control = ControlOf(Widget)) return control;
    return nullptr;
}

QPoint LastPressPosition() {
    return gLastPress;
}

void SetLastPressPosition(QPoint P) {
    gLastPress = P;
}

bool ButtonHeld() {
    return gButtonHeld;
}

void SetButtonHeld(bool Held) {
    gButtonHeld = Held;
}

std::string StripAccelChars(const std::string& Caption) {
    std::string shown;
    shown.reserve(Caption.size());
    for (std::size_t i = 0; i < Caption.size(); ++i) {
        if (Caption[i] == '&' && i + 1 < Caption.size()) ++i;
        shown += Caption[i];
    }
    return shown;
}

} // namespace vt
