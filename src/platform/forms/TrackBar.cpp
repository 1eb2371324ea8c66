#include "platform/forms/TrackBar.h"

#include "platform/forms/QtForms.h"

#include <QSlider>

namespace {

QSlider* Slider(QWidget* Widget) {
    return static_cast<QSlider*>(Widget);
}

} // namespace

TTrackBar::TTrackBar(TComponent* AOwner) : TWinControl(AOwner, new QSlider(Qt::Horizontal)) {
    QSlider* slider = Slider(Handle());
    slider->setRange(FMin, FMax);
    slider->setSingleStep(1);
    slider->setPageStep(FPageSize);
    slider->setTracking(true);
    QObject::connect(slider, &QSlider::valueChanged, slider,
                     [this] { vt::Guarded([this] { Changed(); }); });
    ApplyTicks();
    SetBounds(0, 0, 150, 45);
}

TTrackBar::~TTrackBar() {
    QObject::disconnect(Slider(Handle()), nullptr, nullptr, nullptr);
}

void TTrackBar::SetMin(int Value) {
    SetRange(Value, std::max(Value, FMax));
}

void TTrackBar::SetMax(int Value) {
    SetRange(std::min(Value, FMin), Value);
}

void TTrackBar::SetRange(int AMin, int AMax) {
    FMin = AMin;
    FMax = std::max(AMin, AMax);
    Slider(Handle())->setRange(FMin, FMax); // clamps Position (raising OnChange)
}

int TTrackBar::Position() const {
    return Slider(Handle())->value();
}

void TTrackBar::SetPosition(int Value) {
    Slider(Handle())->setValue(Value);
}

void TTrackBar::SetPageSize(int Value) {
    FPageSize = std::max(Value, 1);
    Slider(Handle())->setPageStep(FPageSize);
}

void TTrackBar::SetFrequency(int Value) {
    FFrequency = std::max(Value, 1);
    ApplyTicks();
}

void TTrackBar::SetTickMarks(TTickMark Value) {
    FTickMarks = Value;
    ApplyTicks();
}

void TTrackBar::SetTickStyle(TTickStyle Value) {
    FTickStyle = Value;
    ApplyTicks();
}

void TTrackBar::SetOrientation(TTrackBarOrientation Value) {
    FOrientation = Value;
    Slider(Handle())->setOrientation(Value == trHorizontal ? Qt::Horizontal : Qt::Vertical);
}

void TTrackBar::ApplyTicks() {
    QSlider* slider = Slider(Handle());
    slider->setTickInterval(FFrequency);
    if (FTickStyle == tsNone) {
        slider->setTickPosition(QSlider::NoTicks);
        return;
    }
    switch (FTickMarks) {
    case tmBottomRight:
        slider->setTickPosition(QSlider::TicksBelow);
        break;
    case tmTopLeft:
        slider->setTickPosition(QSlider::TicksAbove);
        break;
    case tmBoth:
        slider->setTickPosition(QSlider::TicksBothSides);
        break;
    }
}

void TTrackBar::Changed() {
    if (OnChange) OnChange(this);
}
