#include "platform/gdi/Graphic.h"

#include "platform/runtime/Exceptions.h"
#include "platform/runtime/Streams.h"
#include "platform/runtime/SysUtils.h"

#include <cstdlib>
#include <cxxabi.h>
#include <memory>
#include <typeinfo>
#include <vector>

namespace vt {
std::string ClassNameOf(const std::type_info& type) {
    int status = 0;
    std::unique_ptr<char, decltype(&std::free)> name(
        abi::__cxa_demangle(type.name(), nullptr, nullptr, &status), &std::free);
    std::string result = status == 0 && name ? name.get() : type.name();
    const auto colon = result.rfind("::");
    return colon == std::string::npos ? result : result.substr(colon + 2);
}

namespace {
std::vector<char> SavedBytes(TGraphic& graphic) {
    TMemoryStream stream;
    graphic.SaveToStream(&stream);
    const auto* data = static_cast<const char*>(stream.Memory());
    return data ? std::vector<char>(data, data + stream.Size()) : std::vector<char>{};
}
} // namespace
} // namespace vt

std::string TGraphic::ClassName() const {
    return vt::ClassNameOf(typeid(*this));
}

void TGraphic::Assign(TGraphic* source) {
    if (source) {
        source->AssignTo(this);
        return;
    }
    throw EConvertError(Format("Cannot assign a nil to a %s", ClassName().c_str()));
}

void TGraphic::AssignTo(TGraphic* dest) {
    throw EConvertError(
        Format("Cannot assign a %s to a %s", ClassName().c_str(), dest->ClassName().c_str()));
}

bool TGraphic::Equals(TGraphic* graphic) {
    if (!graphic) return false;
    if (graphic == this) return true;
    if (typeid(*graphic) != typeid(*this)) return false;
    if (Empty() || graphic->Empty()) return Empty() == graphic->Empty();
    return vt::SavedBytes(*this) == vt::SavedBytes(*graphic);
}

void TGraphic::SetPalette(HPALETTE) {}

void TGraphic::SetTransparent(bool value) {
    if (value == FTransparent) return;
    FTransparent = value;
    Changed();
}

void TGraphic::SetModified(bool value) {
    if (value)
        Changed();
    else
        FModified = false;
}

void TGraphic::Changed() {
    FModified = true;
    if (OnChange) OnChange(this);
}

void TGraphic::LoadFromFile(const std::string& fileName) {
    TFileStream stream(fileName, fmOpenRead | fmShareDenyWrite);
    LoadFromStream(&stream);
}

void TGraphic::SaveToFile(const std::string& fileName) {
    TFileStream stream(fileName, fmCreate);
    SaveToStream(&stream);
}

void TGraphic::LoadFromClipboardFormat(WORD, THandle, HPALETTE) {
    throw EInvalidGraphic("Unsupported clipboard format");
}

void TGraphic::SaveToClipboardFormat(WORD&, THandle&, HPALETTE&) {
    throw EInvalidGraphic("Unsupported clipboard format");
}

void TGraphic::ReadData(TStream* stream) {
    LoadFromStream(stream);
}

void TGraphic::WriteData(TStream* stream) {
    SaveToStream(stream);
}
