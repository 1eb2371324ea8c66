#pragma once
// TPicture: a container for one graphic of any registered kind, and the registry of
// picture file formats that picks the graphic class by file extension.

#include "platform/gdi/Graphic.h"
#include "platform/runtime/Classes.h"

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <typeindex>

class TBitmap;

// A graphic class as the registry knows it: its identity and how to make one.
struct TGraphicClass {
    std::type_index Type;
    std::function<std::unique_ptr<TGraphic>()> Create;

    template <class T> static TGraphicClass Of() {
        return TGraphicClass{std::type_index(typeid(T)), [] { return std::make_unique<T>(); }};
    }
};

class TPicture : public TObject {
public:
    TPicture();
    ~TPicture() override;
    TPicture(const TPicture&) = delete;
    TPicture& operator=(const TPicture&) = delete;

    // The graphic held, or null. The picture owns it.
    TGraphic* Graphic() const { return FGraphic.get(); }
    // Replaces the graphic (null empties the picture) and raises OnChange.
    void SetGraphic(std::unique_ptr<TGraphic> graphic);
    // The graphic as a bitmap; a picture that holds something else gets an empty bitmap
    // in its place.
    TBitmap* Bitmap();
    // Copies another picture's graphic (by the graphic's own Assign); null empties.
    void Assign(TPicture* source);

    int Width() const;
    int Height() const;

    // Picks the graphic class by the file's extension (case-blind) and has a new
    // instance read the file. An unknown extension raises EInvalidGraphic "Unknown
    // picture file extension (.<ext>)"; a failing read leaves the picture as it was.
    void LoadFromFile(const std::string& fileName);
    void SaveToFile(const std::string& fileName);

    // Raised whenever the graphic is replaced or changes.
    TNotifyEvent OnChange;

    // The registry. Extensions are given without the dot, stored in lower case, and
    // looked up from the latest registration back to the earliest. "bmp" (TBitmap,
    // "Bitmaps") is registered from the start.
    static void RegisterFileFormat(std::string_view extension, std::string_view description,
                                   const TGraphicClass& graphicClass);
    template <class T>
    static void RegisterFileFormat(std::string_view extension, std::string_view description) {
        RegisterFileFormat(extension, description, TGraphicClass::Of<T>());
    }
    // Removes every registration of the class.
    static void UnregisterGraphicClass(std::type_index graphicClass);
    template <class T> static void UnregisterGraphicClass() {
        UnregisterGraphicClass(std::type_index(typeid(T)));
    }
    // The class registered for an extension (case-blind, with or without the dot), or
    // null (valid until the next registration); and that registration's description
    // ("" when none).
    static const TGraphicClass* FileFormatFor(std::string_view extension);
    static std::string FileFormatDescription(std::string_view extension);

private:
    void Changed(TObject* sender);
    void Hook();

    std::unique_ptr<TGraphic> FGraphic;
};
