#include "platform/forms/Edit.h"

#include "platform/forms/QtForms.h"
#include "platform/gdi/QtGdi.h"

#include <QLineEdit>

#include <limits>

namespace {

QLineEdit* LineEdit(QWidget* Widget) {
    return static_cast<QLineEdit*>(Widget);
}

} // namespace

TEdit::TEdit(TComponent* AOwner) : TWinControl(AOwner, new QLineEdit) {
    QLineEdit* edit = LineEdit(Handle());
    edit->setMaxLength(std::numeric_limits<int>::max());
    QObject::connect(edit, &QLineEdit::textChanged, edit,
                     [this] { vt::Guarded([this] { Change(); }); });
    SetColor(clWindow);
    SetBounds(0, 0, 121, 24);
}

TEdit::~TEdit() {
    // Deleting the widget must not report a change.
    QObject::disconnect(LineEdit(Handle()), nullptr, nullptr, nullptr);
}

std::string TEdit::Text() const {
    return vt::FromQString(LineEdit(Handle())->text());
}

void TEdit::SetText(const std::string& Value) {
    LineEdit(Handle())->setText(vt::ToQString(Value));
}

int TEdit::SelStart() const {
    const QLineEdit* edit = LineEdit(Handle());
    return edit->hasSelectedText() ? edit->selectionStart() : edit->cursorPosition();
}

void TEdit::SetSelStart(int Value) {
    LineEdit(Handle())->setCursorPosition(Value);
}

int TEdit::SelLength() const {
    return LineEdit(Handle())->selectionLength();
}

void TEdit::SetSelLength(int Value) {
    QLineEdit* edit = LineEdit(Handle());
    const int start = SelStart();
    if (Value <= 0) {
        edit->deselect();
        edit->setCursorPosition(start);
    } else {
        edit->setSelection(start, Value);
    }
}

std::string TEdit::SelText() const {
    return vt::FromQString(LineEdit(Handle())->selectedText());
}

void TEdit::SelectAll() {
    LineEdit(Handle())->selectAll();
}

void TEdit::SetMaxLength(int Value) {
    FMaxLength = std::max(Value, 0);
    LineEdit(Handle())->setMaxLength(FMaxLength ? FMaxLength : std::numeric_limits<int>::max());
}

bool TEdit::ReadOnly() const {
    return LineEdit(Handle())->isReadOnly();
}

void TEdit::SetReadOnly(bool Value) {
    LineEdit(Handle())->setReadOnly(Value);
}

void TEdit::Change() {
    if (OnChange) OnChange(this);
}

void TEdit::ColorChanged() {
    QPalette palette = Handle()->palette();
    palette.setColor(QPalette::Base, vt::ToQColor(Color()));
    Handle()->setPalette(palette);
}
