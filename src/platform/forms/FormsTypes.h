#pragma once
// The widget framework's plain types: alignment, mouse and key state, cursors, and the
// signatures of the events controls raise.

#include "platform/runtime/Classes.h"
#include "platform/runtime/WinTypes.h"

#include <functional>

class TControl;

// Docking of a control inside its parent's client area.
enum TAlign { alNone, alTop, alBottom, alLeft, alRight, alClient };
// Horizontal placement of a caption.
enum TAlignment { taLeftJustify, taRightJustify, taCenter };
// Vertical placement of a caption.
enum TTextLayout { tlTop, tlCenter, tlBottom };

enum TMouseButton { mbLeft, mbRight, mbMiddle };
// Or'ed TShiftFlag values: keys and mouse buttons held during an event.
using TShiftState = unsigned;
enum TShiftFlag : unsigned {
    ssShift = 0x01,
    ssAlt = 0x02,
    ssCtrl = 0x04,
    ssLeft = 0x08,
    ssRight = 0x10,
    ssMiddle = 0x20,
    ssDouble = 0x40,
};

// Virtual key codes of the keys the framework names.
enum : WORD {
    VK_BACK = 0x08,
    VK_TAB = 0x09,
    VK_RETURN = 0x0D,
    VK_SHIFT = 0x10,
    VK_CONTROL = 0x11,
    VK_MENU = 0x12,
    VK_ESCAPE = 0x1B,
    VK_SPACE = 0x20,
    VK_PRIOR = 0x21,
    VK_NEXT = 0x22,
    VK_END = 0x23,
    VK_HOME = 0x24,
    VK_LEFT = 0x25,
    VK_UP = 0x26,
    VK_RIGHT = 0x27,
    VK_DOWN = 0x28,
    VK_DELETE = 0x2E,
};

// Mouse cursor shapes.
using TCursor = int;
constexpr TCursor crDefault = 0;
constexpr TCursor crArrow = -2;
constexpr TCursor crCross = -3;
constexpr TCursor crIBeam = -4;
constexpr TCursor crSizeAll = -22;
constexpr TCursor crHourGlass = -11;
constexpr TCursor crDrag = -12;
constexpr TCursor crNoDrop = -13;
constexpr TCursor crNo = -18;
constexpr TCursor crAppStart = -19; // arrow with hourglass
constexpr TCursor crHandPoint = -21;

// Phases of a drag over one control.
enum TDragState { dsDragEnter, dsDragLeave, dsDragMove };
// dmAutomatic starts a drag on every left-button press; dmManual waits for BeginDrag.
enum TDragMode { dmManual, dmAutomatic };

// What closing a form does: nothing, hide it, free it later, or minimise it.
enum TCloseAction { caNone, caHide, caFree, caMinimize };

using TMouseEvent =
    std::function<void(TObject* Sender, TMouseButton Button, TShiftState Shift, int X, int Y)>;
using TMouseMoveEvent = std::function<void(TObject* Sender, TShiftState Shift, int X, int Y)>;
// Key may be changed (0 swallows the key).
using TKeyEvent = std::function<void(TObject* Sender, WORD& Key, TShiftState Shift)>;
using TKeyPressEvent = std::function<void(TObject* Sender, char& Key)>;
// Source is the dragged control; X, Y are in Sender's client coordinates. Accept enters
// as true; leave it true to accept a drop.
using TDragOverEvent = std::function<void(TObject* Sender, TObject* Source, int X, int Y,
                                          TDragState State, bool& Accept)>;
using TDragDropEvent = std::function<void(TObject* Sender, TObject* Source, int X, int Y)>;
// Target is the control that took the drop, or null when the drag ended nowhere or was
// cancelled; X, Y are in the target's coordinates (0, 0 without target).
using TEndDragEvent = std::function<void(TObject* Sender, TObject* Target, int X, int Y)>;
using TCloseEvent = std::function<void(TObject* Sender, TCloseAction& Action)>;
