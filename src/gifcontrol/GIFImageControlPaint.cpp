// TGIFImageControl: painting the composed picture plainly, centred, tiled, stretched or
// stretched with its aspect ratio kept, over the background behind the control where the
// picture is transparent.

#include "gifcontrol/GIFImageControl.h"

#include <cmath>

bool TGIFImageControl::WantsOpaque() const {
    if (!FImageVisible || FEmpty || FAnyTransparent || FStretchRatio) return false;
    if (FTile || FStretch) return true;
    return FImageWidth >= Width() && FImageHeight >= Height();
}

void TGIFImageControl::UpdatePaintStyle() {
    FStretched =
        (FStretch || FStretchRatio) && (Width() != FImageWidth || Height() != FImageHeight);
    SetOpaque(WantsOpaque());
}

void TGIFImageControl::Paint() {
    HandlePaint(Canvas());
}

void TGIFImageControl::HandlePaint(TCanvas* Canvas) {
    const bool wasOpaque = Opaque();
    UpdatePaintStyle();
    if (Opaque() != wasOpaque) { // the parent must paint (or skip) the background first
        Invalidate();
        return;
    }
    FCapturePending = !Opaque();
    PaintTo(Canvas);
    UpdateTimer();
}

void TGIFImageControl::PaintTo(TCanvas* Canvas) {
    if (FEmpty || FrameCount() == 0 || !FImageVisible || !FImage || FImage->Empty()) return;
    if (!FBuffer || FBuffer->Width() != Width() || FBuffer->Height() != Height()) {
        FBuffer = std::make_unique<TBitmap>();
        FBuffer->SetSize(Width(), Height());
    }
    if (FCapturePending) {
        CaptureBackground(*FBuffer);
        FCapturePending = false;
    }
    // Where the mask exists it says what is transparent, whichever frame made it so.
    if (FMask)
        PaintTransparent(Canvas, DestinationRect());
    else
        PaintOpaque(Canvas, DestinationRect());
}

TRect TGIFImageControl::DestinationRect() const {
    const TRect client = ClientRect();
    if (!FStretched || !FStretchRatio || FStretch) return client;
    const double rx = double(client.Width()) / FImageWidth;
    const double ry = double(client.Height()) / FImageHeight;
    if (!std::isfinite(rx) || !std::isfinite(ry)) return client;
    TRect r = client;
    // Halves round to even.
    if (rx > ry) {
        const double inset = (client.Width() - FImageWidth * ry) * 0.5;
        r.Left = static_cast<int>(std::nearbyint(client.Left + inset));
        r.Right = static_cast<int>(std::nearbyint(client.Right - inset));
    } else {
        const double inset = (client.Height() - FImageHeight * rx) * 0.5;
        r.Top = static_cast<int>(std::nearbyint(client.Top + inset));
        r.Bottom = static_cast<int>(std::nearbyint(client.Bottom - inset));
    }
    return r;
}

void TGIFImageControl::PaintTransparent(TCanvas* Canvas, const TRect& Dest) {
    const int iw = FImageWidth, ih = FImageHeight;
    const TRect image = Rect(0, 0, iw, ih);
    const bool whole = FStretched || FTile;
    const int tw = whole ? Width() : iw;
    const int th = whole ? Height() : ih;
    const TPoint place =
        !whole && FCenter ? Point((Width() - iw) / 2, (Height() - ih) / 2) : Point(0, 0);
    // The background under the picture, then the picture's opaque pixels over it.
    TBitmap temp;
    temp.SetSize(tw, th);
    TCanvas* t = temp.Canvas();
    t->BitBlt(0, 0, tw, th, FBuffer->Canvas(), place.X, place.Y, SRCCOPY);
    const auto twoSteps = [&](const TRect& At) {
        t->StretchBlt(At, *FMask, image, SRCAND);
        t->StretchBlt(At, *FImage, image, SRCINVERT);
    };
    if (FStretched) {
        twoSteps(Dest);
    } else if (FTile) {
        for (int row = 0; row <= th / ih; ++row)
            for (int col = 0; col <= tw / iw; ++col)
                twoSteps(Bounds(col * iw, row * ih, iw, ih));
    } else {
        twoSteps(image);
    }
    Canvas->StretchBlt(Bounds(place.X, place.Y, tw, th), temp, Rect(0, 0, tw, th), SRCCOPY);
}

void TGIFImageControl::PaintOpaque(TCanvas* Canvas, const TRect& Dest) {
    const int iw = FImageWidth, ih = FImageHeight;
    const TRect image = Rect(0, 0, iw, ih);
    if (FStretched) {
        Canvas->StretchBlt(Dest, *FImage, image, SRCCOPY);
    } else if (FTile) {
        for (int row = 0; row <= Height() / ih; ++row)
            for (int col = 0; col <= Width() / iw; ++col)
                Canvas->StretchBlt(Bounds(col * iw, row * ih, iw, ih), *FImage, image, SRCCOPY);
    } else if (FCenter) {
        Canvas->StretchBlt(Bounds((Width() - iw) / 2, (Height() - ih) / 2, iw, ih), *FImage, image,
                           SRCCOPY);
    } else {
        Canvas->StretchBlt(image, *FImage, image, SRCCOPY);
    }
}
