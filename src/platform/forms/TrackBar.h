#pragma once
// TTrackBar: a slider with tick marks. Arrow keys move it by one, Page Up/Down and
// clicks beside the thumb by PageSize.

#include "platform/forms/WinControl.h"

enum TTrackBarOrientation { trHorizontal, trVertical };
enum TTickMark { tmBottomRight, tmTopLeft, tmBoth };
enum TTickStyle { tsNone, tsAuto, tsManual };

class TTrackBar : public TWinControl {
public:
    explicit TTrackBar(TComponent* AOwner);
    ~TTrackBar() override;

    // Position is kept within Min .. Max; any change of it raises OnChange.
    int Min() const { return FMin; }
    void SetMin(int Value);
    int Max() const { return FMax; }
    void SetMax(int Value);
    int Position() const;
    void SetPosition(int Value);
    void SetRange(int AMin, int AMax);
    int PageSize() const { return FPageSize; }
    void SetPageSize(int Value);
    // A tick every Frequency positions.
    int Frequency() const { return FFrequency; }
    void SetFrequency(int Value);
    TTickMark TickMarks() const { return FTickMarks; }
    void SetTickMarks(TTickMark Value);
    TTickStyle TickStyle() const { return FTickStyle; }
    void SetTickStyle(TTickStyle Value);
    TTrackBarOrientation Orientation() const { return FOrientation; }
    void SetOrientation(TTrackBarOrientation Value);

    TNotifyEvent OnChange;

protected:
    friend class vt::ControlAccess;
    void Changed(); // raises OnChange

private:
    void ApplyTicks();

    int FMin = 0;
    int FMax = 10;
    int FPageSize = 2;
    int FFrequency = 1;
    TTickMark FTickMarks = tmBottomRight;
    TTickStyle FTickStyle = tsAuto;
    TTrackBarOrientation FOrientation = trHorizontal;
};
