#pragma once
// TGraphic: the abstract picture that the picture container holds and that canvases
// draw. Descendants implement the protected virtual operations.

#include "platform/gdi/GdiTypes.h"
#include "platform/runtime/Classes.h"

#include <string>

class TCanvas;
class TStream;

class TGraphic : public TObject {
public:
    TGraphic() = default;
    ~TGraphic() override = default;
    TGraphic(const TGraphic&) = delete;
    TGraphic& operator=(const TGraphic&) = delete;

    // Copies source into this graphic. The base version lets source->AssignTo do it
    // and otherwise raises EConvertError "Cannot assign a <source> to a <this>".
    virtual void Assign(TGraphic* source);
    // Same class and same stored bytes.
    virtual bool Equals(TGraphic* graphic);

    // Draws the picture stretched into rect.
    virtual void Draw(TCanvas* canvas, const TRect& rect) = 0;

    bool Empty() { return GetEmpty(); }
    int Width() { return GetWidth(); }
    int Height() { return GetHeight(); }
    virtual void SetWidth(int value) = 0;
    virtual void SetHeight(int value) = 0;
    HPALETTE Palette() { return GetPalette(); }
    virtual void SetPalette(HPALETTE value);
    bool Transparent() { return GetTransparent(); }
    virtual void SetTransparent(bool value);
    bool Modified() const { return FModified; }
    // Setting it raises OnChange.
    void SetModified(bool value);

    // Opens the file and reads it with LoadFromStream / writes it with SaveToStream.
    virtual void LoadFromFile(const std::string& fileName);
    virtual void SaveToFile(const std::string& fileName);
    // Reads from the stream's position on; the stream stays the caller's.
    virtual void LoadFromStream(TStream* stream) = 0;
    virtual void SaveToStream(TStream* stream) = 0;
    // No system clipboard formats are known to the base class; both raise
    // EInvalidGraphic.
    virtual void LoadFromClipboardFormat(WORD format, THandle data, HPALETTE palette);
    virtual void SaveToClipboardFormat(WORD& format, THandle& data, HPALETTE& palette);
    // The picture as stored with a form: the base versions are LoadFromStream and
    // SaveToStream.
    virtual void ReadData(TStream* stream);
    virtual void WriteData(TStream* stream);

    // The class name without namespace, e.g. "TBitmap".
    std::string ClassName() const;

    TNotifyEvent OnChange;

protected:
    // Copies this graphic into dest when it knows how; the base raises EConvertError.
    virtual void AssignTo(TGraphic* dest);
    // Marks the graphic modified and raises OnChange.
    virtual void Changed();
    virtual bool GetEmpty() = 0;
    virtual int GetWidth() = 0;
    virtual int GetHeight() = 0;
    virtual HPALETTE GetPalette() { return nullptr; }
    virtual bool GetTransparent() { return FTransparent; }

private:
    bool FModified = false;
    bool FTransparent = false;
};
