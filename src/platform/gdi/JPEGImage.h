#pragma once
// TJPEGImage: JPEG pictures (baseline and progressive) decoded with libjpeg into a
// bitmap when loaded. The file's bytes are kept, so saving writes them back unchanged.

#include "platform/gdi/Bitmap.h"
#include "platform/gdi/Graphic.h"

#include <cstdint>
#include <memory>
#include <vector>

class TJPEGImage : public TGraphic {
public:
    TJPEGImage();
    ~TJPEGImage() override;

    // From another TJPEGImage (shares nothing, copies the data); null empties.
    void Assign(TGraphic* source) override;
    void Draw(TCanvas* canvas, const TRect& rect) override;
    // A JPEG picture has the size of its data; setting it is ignored.
    void SetWidth(int value) override;
    void SetHeight(int value) override;

    // Reads the rest of the stream and decodes it. Data that is not a complete JPEG
    // picture raises EInvalidGraphic and leaves the image as it was.
    void LoadFromStream(TStream* stream) override;
    // Writes the loaded bytes; EInvalidGraphic "No JPEG data" when nothing is loaded.
    void SaveToStream(TStream* stream) override;

    // The decoded picture (pfDevice); empty while nothing is loaded.
    TBitmap* Bitmap() { return &FBitmap; }

protected:
    bool GetEmpty() override { return FData.empty(); }
    int GetWidth() override { return FBitmap.Width(); }
    int GetHeight() override { return FBitmap.Height(); }

private:
    std::vector<std::uint8_t> FData;
    TBitmap FBitmap;
};

// Registers TJPEGImage for "jpeg" and "jpg" as "JPEG Image File". The program calls it
// once at start-up; further calls do nothing.
void RegisterJpegFormat();
