#include "gif/GIFFrame.h"

#include "gif/Decoder.h"
#include "gif/GIFBlocks.h"
#include "gif/GIFData.h"
#include "platform/gdi/Bitmap.h"
#include "platform/messages/Application.h"
#include "platform/runtime/Exceptions.h"
#include "platform/runtime/SysUtils.h"
#include "util/ObjectLists.h"

#include <algorithm>

TGIFFrame::TGIFFrame(TGIFData* AOwner) : FOwner(AOwner), FBitmap(std::make_unique<TBitmap>()) {}

TGIFFrame::~TGIFFrame() {
    // The bitmap goes away now: that is no change anybody may refuse.
    FBitmap->OnChanging = nullptr;
}

void TGIFFrame::Read() {
    TGIFData* data = FOwner;
    TOwnedObjectList extensions; // the blocks before the image, freed in every case
    for (;;) {
        const std::uint8_t separator = data->ReadSeparator();
        if (separator == TGIFData::ImageSeparator) break;
        if (separator == TGIFData::Trailer) {
            // Extensions without an image: an empty frame; the caller reads the trailer.
            data->Stream()->Seek(-1, soFromCurrent);
            return;
        }
        if (separator != TGIFData::ExtensionIntroducer) TGIFData::SeparatorError(separator);
        std::unique_ptr<TGIFExtension> extension;
        switch (data->ReadByte()) {
        case TPlainTextExtension::Label:
            extension = std::make_unique<TPlainTextExtension>(data);
            break;
        case TGraphicControlExtension::Label:
            extension = std::make_unique<TGraphicControlExtension>(data);
            break;
        case TCommentExtension::Label:
            extension = std::make_unique<TCommentExtension>(data);
            break;
        case TApplicationExtension::Label:
            extension = std::make_unique<TApplicationExtension>(data);
            break;
        default:
            data->SkipSubBlocks();
            continue;
        }
        extensions.Add(extension.get());
        extension.release();
    }

    TImageDescriptor descriptor(data);
    TRasterData raster(data);
    data->ClaimPixels(std::int64_t{descriptor.Width} * descriptor.Height);
    RenderImage(&raster, &descriptor, FBitmap.get());
    for (int i = 0; i < extensions.Count(); ++i) {
        try {
            ApplyExtension(static_cast<TGIFExtension*>(extensions.Items(i)), &descriptor);
        } catch (const EAbort&) {
        } catch (const Exception& e) {
            Application.HandleException(e);
        }
    }
    // The finished frame is read-only; refusing before the change keeps its pixels intact.
    FBitmap->OnChanging = [this](TObject* Sender) { BitmapChanged(Sender); };
}

void TGIFFrame::ApplyExtension(TGIFExtension* Extension, TImageDescriptor* Descriptor) {
    if (auto* control = dynamic_cast<TGraphicControlExtension*>(Extension)) {
        FDelay = std::min(control->DelayTime / 10, MaxDelay);
        return;
    }
    auto* text = dynamic_cast<TPlainTextExtension*>(Extension);
    if (!text) return;
    TCanvas* canvas = FBitmap->Canvas();
    canvas->Font()->SetHeight(text->CellHeight);
    const TColorTable* table = Descriptor->ColorTable;
    int oldMode = 0;
    TColor oldColor = 0;
    if (table) {
        canvas->Font()->SetColor(static_cast<TColor>(table->GetColor(text->ForegroundIndex)));
        oldMode = canvas->SetBkMode(OPAQUE);
        oldColor = canvas->SetBkColor(static_cast<TColor>(table->GetColor(text->BackgroundIndex)));
    }
    if (text->Text.Count() > 0)
        canvas->TextRect(Rect(text->GridLeft, text->GridTop, text->GridLeft + text->GridWidth,
                              text->GridTop + text->GridHeight),
                         text->GridLeft, text->GridTop, text->Text[0]);
    if (table) {
        canvas->SetBkColor(oldColor);
        canvas->SetBkMode(oldMode);
    }
}

void TGIFFrame::BitmapChanged(TObject*) {
    throw EInvalidGraphicOperation(Format("Cannot modify %s bitmap", "TGIFFrame"));
}
