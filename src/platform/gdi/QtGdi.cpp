#include "platform/gdi/QtGdi.h"

#include "platform/gdi/GdiInternal.h"

#include <QApplication>
#include <QFontMetrics>
#include <QList>
#include <QPainter>

#include <algorithm>
#include <cstring>

namespace vt {

void EnsureGuiApplication() {
    if (QCoreApplication::instance()) return;
    static int argc = 1;
    static char name[] = "vantrel";
    static char* argv[] = {name, nullptr};
    // Lives as long as the process: Qt's fonts and clipboard depend on it.
    static auto* application = new QApplication(argc, argv);
    (void)application;
}

QColor ToQColor(TColor color) {
    const auto rgb = static_cast<std::uint32_t>(ColorToRGB(color));
    return QColor(GetRValue(rgb), GetGValue(rgb), GetBValue(rgb));
}

QFont ToQFont(const TFont& font) {
    QFont result(QString::fromLatin1(font.Name().c_str()));
    // Crisp glyphs in the exact font colour, as palette and 1-bit bitmaps need.
    result.setStyleStrategy(QFont::NoAntialias);
    result.setBold(font.Style() & fsBold);
    result.setItalic(font.Style() & fsItalic);
    result.setUnderline(font.Style() & fsUnderline);
    result.setStrikeOut(font.Style() & fsStrikeOut);
    const int height = font.Height();
    if (height < 0) {
        result.setPixelSize(-height);
    } else if (height > 0) {
        // A positive height is the whole cell: scale the character height to fit it.
        result.setPixelSize(height);
        const int cell = QFontMetrics(result).height();
        if (cell > height) result.setPixelSize(std::max(1, height * height / cell));
    } else {
        result.setPixelSize(11);
    }
    return result;
}

QImage ImageView(const TBitmap& bitmap) {
    const std::uint8_t* bits = CanvasAccess::Bits(bitmap);
    if (!bits) return QImage();
    const int w = CanvasAccess::Width(bitmap), h = CanvasAccess::Height(bitmap);
    const int stride = CanvasAccess::Stride(bitmap);
    switch (bitmap.PixelFormat()) {
    case pf1bit: {
        QImage image(bits, w, h, stride, QImage::Format_Mono);
        image.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
        return image;
    }
    case pf8bit: {
        QImage image(bits, w, h, stride, QImage::Format_Indexed8);
        QList<QRgb> table(256);
        const auto& colors = CanvasAccess::IndexColors(bitmap);
        for (int i = 0; i < 256; ++i)
            table[i] = 0xFF000000 | colors[static_cast<std::size_t>(i)];
        image.setColorTable(table);
        return image;
    }
    case pf24bit:
        return QImage(bits, w, h, stride, QImage::Format_BGR888);
    case pf32bit:
    case pfDevice:
        break;
    }
    return QImage(bits, w, h, stride, QImage::Format_RGB32);
}

QImage ToQImage(const TBitmap& bitmap) {
    return ImageView(bitmap).convertToFormat(QImage::Format_RGB32);
}

void FromQImage(TBitmap& bitmap, const QImage& image) {
    const QImage source = image.convertToFormat(QImage::Format_RGB32);
    CanvasAccess::Reformat(bitmap, pfDevice, 0, 0);
    CanvasAccess::Reformat(bitmap, pfDevice, source.width(), source.height());
    std::uint8_t* bits = CanvasAccess::Bits(bitmap);
    const int stride = CanvasAccess::Stride(bitmap);
    for (int y = 0; y < source.height(); ++y) {
        auto* row =
            reinterpret_cast<std::uint32_t*>(bits + static_cast<std::ptrdiff_t>(y) * stride);
        const auto* from = reinterpret_cast<const QRgb*>(source.constScanLine(y));
        for (int x = 0; x < source.width(); ++x)
            row[x] = 0xFF000000 | from[x];
    }
}

PainterBinding::PainterBinding(TCanvas& canvas, QPainter& painter, const TRect& clip)
    : FCanvas(canvas) {
    CanvasAccess::BindPainter(canvas, &painter, clip);
}

PainterBinding::~PainterBinding() {
    CanvasAccess::BindPainter(FCanvas, nullptr, TRect{});
}

} // namespace vt
