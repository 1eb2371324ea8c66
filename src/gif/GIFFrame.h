#pragma once
// One image of a GIF file, decoded into its own bitmap (never composed with others).

#include "platform/runtime/Classes.h"

#include <cstdint>
#include <memory>

class TBitmap;
class TGIFData;
class TGIFExtension;
class TImageDescriptor;

class TGIFFrame : public TObject {
public:
    explicit TGIFFrame(TGIFData* AOwner);
    ~TGIFFrame() override;
    TGIFFrame(const TGIFFrame&) = delete;
    TGIFFrame& operator=(const TGIFFrame&) = delete;

    // Reads the frame's extensions and image; the owner's stream stands just behind the
    // separator byte that starts the frame.
    void Read();

    TGIFData* Owner() const { return FOwner; }
    TBitmap* Bitmap() const { return FBitmap.get(); }
    // Display time in tenths of a second, at most 30.
    std::int32_t Delay() const { return FDelay; }

    static constexpr int MaxDelay = 30;

private:
    void ApplyExtension(TGIFExtension* Extension, TImageDescriptor* Descriptor);
    void BitmapChanged(TObject* Sender);

    TGIFData* FOwner;
    std::unique_ptr<TBitmap> FBitmap;
    std::int32_t FDelay = 0;
};
