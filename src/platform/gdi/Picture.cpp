#include "platform/gdi/Picture.h"

#include "platform/gdi/Bitmap.h"
#include "platform/runtime/Exceptions.h"
#include "platform/runtime/SysUtils.h"

#include <vector>

namespace vt {
namespace {

struct FileFormat {
    std::string Extension; // lower case, without the dot
    std::string Description;
    TGraphicClass GraphicClass;
};

// Registrations in order; lookups go from the back (latest first).
std::vector<FileFormat>& FileFormats() {
    static std::vector<FileFormat> formats{
        {"bmp", "Bitmaps", TGraphicClass::Of<TBitmap>()},
    };
    return formats;
}

std::string Normalised(std::string_view extension) {
    if (!extension.empty() && extension.front() == '.') extension.remove_prefix(1);
    return LowerCase(extension);
}

const FileFormat* Find(std::string_view extension) {
    const std::string wanted = Normalised(extension);
    const auto& formats = FileFormats();
    for (auto it = formats.rbegin(); it != formats.rend(); ++it)
        if (it->Extension == wanted) return &*it;
    return nullptr;
}

} // namespace
} // namespace vt

void TPicture::RegisterFileFormat(std::string_view extension, std::string_view description,
                                  const TGraphicClass& graphicClass) {
    vt::FileFormats().push_back(
        {vt::Normalised(extension), std::string(description), graphicClass});
}

void TPicture::UnregisterGraphicClass(std::type_index graphicClass) {
    std::erase_if(vt::FileFormats(), [&](const vt::FileFormat& format) {
        return format.GraphicClass.Type == graphicClass;
    });
}

const TGraphicClass* TPicture::FileFormatFor(std::string_view extension) {
    const vt::FileFormat* format = vt::Find(extension);
    return format ? &format->GraphicClass : nullptr;
}

std::string TPicture::FileFormatDescription(std::string_view extension) {
    const vt::FileFormat* format = vt::Find(extension);
    return format ? format->Description : std::string();
}

TPicture::TPicture() = default;

TPicture::~TPicture() = default;

void TPicture::Changed(TObject*) {
    if (OnChange) OnChange(this);
}

void TPicture::Hook() {
    if (FGraphic) FGraphic->OnChange = [this](TObject* sender) { Changed(sender); };
}

void TPicture::SetGraphic(std::unique_ptr<TGraphic> graphic) {
    FGraphic = std::move(graphic);
    Hook();
    Changed(this);
}

TBitmap* TPicture::Bitmap() {
    if (auto* bitmap = dynamic_cast<TBitmap*>(FGraphic.get())) return bitmap;
    SetGraphic(std::make_unique<TBitmap>());
    return static_cast<TBitmap*>(FGraphic.get());
}

void TPicture::Assign(TPicture* source) {
    if (source == this) return;
    if (!source || !source->FGraphic) {
        SetGraphic(nullptr);
        return;
    }
    const TGraphicClass* graphicClass = nullptr;
    const TGraphic& sourceGraphic = *source->FGraphic;
    const std::type_info& sourceType = typeid(sourceGraphic);
    for (const auto& format : vt::FileFormats())
        if (format.GraphicClass.Type == sourceType) graphicClass = &format.GraphicClass;
    if (!graphicClass)
        throw EConvertError(
            Format("Cannot assign a %s to a TPicture", source->FGraphic->ClassName().c_str()));
    std::unique_ptr<TGraphic> copy = graphicClass->Create();
    copy->Assign(source->FGraphic.get());
    SetGraphic(std::move(copy));
}

int TPicture::Width() const {
    return FGraphic ? FGraphic->Width() : 0;
}

int TPicture::Height() const {
    return FGraphic ? FGraphic->Height() : 0;
}

void TPicture::LoadFromFile(const std::string& fileName) {
    std::string extension = ExtractFileExt(fileName);
    if (!extension.empty()) extension.erase(0, 1);
    const TGraphicClass* found = FileFormatFor(extension);
    if (!found)
        throw EInvalidGraphic(Format("Unknown picture file extension (.%s)", extension.c_str()));
    const TGraphicClass graphicClass = *found;
    // Read into a new graphic first, so a failing read leaves the picture as it was.
    std::unique_ptr<TGraphic> graphic = graphicClass.Create();
    graphic->LoadFromFile(fileName);
    SetGraphic(std::move(graphic));
}

void TPicture::SaveToFile(const std::string& fileName) {
    if (FGraphic) FGraphic->SaveToFile(fileName);
}
