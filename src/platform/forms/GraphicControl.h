#pragma once
// TGraphicControl: a windowless control. It has no surface of its own: its parent
// paints it (Paint with Canvas bound to the parent's surface, origin at the control's
// top left, clipped to its bounds) and routes mouse events, hints and the cursor to it.

#include "platform/forms/Control.h"

class TBitmap;

class TGraphicControl : public TControl {
public:
    explicit TGraphicControl(TComponent* AOwner);
    ~TGraphicControl() override;

    // Draws only during Paint; outside a paint drawing on it raises EInvalidOperation.
    TCanvas* Canvas() { return &FCanvas; }

    // Asks the parent to repaint the control's area later / at once.
    void Invalidate() override;
    void Repaint() override;

    // Renders what lies behind the control (the parent and its other children, without
    // this control) into Bitmap, sized to the control, as a true-colour bitmap. Without
    // a parent the bitmap gets the control's size, filled with Color.
    void CaptureBackground(TBitmap& Bitmap);
    // True while the parent renders for CaptureBackground (Paint is skipped then).
    bool CapturingBackground() const { return FCapturing; }

    // Whether the control paints its whole area (the parent then skips its background
    // behind it, as far as the toolkit allows). False by default.
    bool Opaque() const { return FOpaque; }
    void SetOpaque(bool Value) { FOpaque = Value; }

protected:
    friend class TWinControl;
    friend class vt::ControlAccess;
    // Draws the control on Canvas(). The base draws nothing.
    virtual void Paint() {}

private:
    // Called by the parent's paint with the canvas bound.
    void PaintOn();

    TCanvas FCanvas;
    bool FCapturing = false;
    bool FOpaque = false;
    bool FPaintFailed = false;
};
