#include "platform/forms/Image.h"

#include "platform/gdi/Picture.h"

TImage::TImage(TComponent* AOwner)
    : TGraphicControl(AOwner), FPicture(std::make_unique<TPicture>()) {
    FPicture->OnChange = [this](TObject* Sender) { PictureChanged(Sender); };
    SetBounds(0, 0, 105, 105);
}

TImage::~TImage() {
    FPicture->OnChange = nullptr;
}

void TImage::SetStretch(bool Value) {
    FStretch = Value;
    Invalidate();
}

void TImage::SetCenter(bool Value) {
    FCenter = Value;
    Invalidate();
}

void TImage::SetTransparent(bool Value) {
    FTransparent = Value;
    if (TGraphic* graphic = FPicture->Graphic()) graphic->SetTransparent(Value);
    Invalidate();
}

void TImage::PictureChanged(TObject*) {
    TGraphic* graphic = FPicture->Graphic();
    if (graphic && graphic->Transparent() != FTransparent) {
        // Setting it raises OnChange again; the next call finds it equal.
        graphic->SetTransparent(FTransparent);
        return;
    }
    Invalidate();
}

TRect TImage::DestRect() {
    TGraphic* graphic = FPicture->Graphic();
    if (FStretch) return ClientRect();
    const int w = graphic->Width(), h = graphic->Height();
    if (FCenter) return Bounds((Width() - w) / 2, (Height() - h) / 2, w, h);
    return Bounds(0, 0, w, h);
}

void TImage::Paint() {
    TGraphic* graphic = FPicture->Graphic();
    if (!graphic) return;
    // A picture that cannot draw itself (nothing decoded) leaves the area as it is.
    try {
        if (graphic->Empty()) return;
        Canvas()->StretchDraw(DestRect(), graphic);
    } catch (const std::exception&) {
    }
}
