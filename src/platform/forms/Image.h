#pragma once
// TImage: a windowless picture view. Shows a TPicture at its own size, centred, or
// stretched over the whole control (aspect ratio not kept).

#include "platform/forms/GraphicControl.h"

#include <memory>

class TPicture;

class TImage : public TGraphicControl {
public:
    explicit TImage(TComponent* AOwner);
    ~TImage() override;

    // The picture shown; load a file with Picture()->LoadFromFile (the format registry
    // picks the reader by extension). Changes repaint the control.
    TPicture* Picture() { return FPicture.get(); }
    bool Stretch() const { return FStretch; }
    void SetStretch(bool Value);
    bool Center() const { return FCenter; }
    void SetCenter(bool Value);
    // Transparent: the graphic is drawn transparent where it has transparent pixels.
    bool Transparent() const { return FTransparent; }
    void SetTransparent(bool Value);

protected:
    void Paint() override;

private:
    void PictureChanged(TObject* Sender);
    TRect DestRect();

    std::unique_ptr<TPicture> FPicture;
    bool FStretch = false;
    bool FCenter = false;
    bool FTransparent = false;
};
