#include "app/WindowIcon.h"

#include "platform/gdi/Bitmap.h"
#include "platform/gdi/Canvas.h"
#include "platform/gdi/Picture.h"

#include <memory>

namespace {

constexpr int kSize = 32;

// A rising price line over a grid, framed in navy, with a red and a yellow bar.
void Paint(TCanvas& canvas) {
    canvas.Brush()->SetColor(clNavy);
    canvas.FillRect(Rect(0, 0, kSize, kSize));
    canvas.Brush()->SetColor(clWhite);
    canvas.FillRect(Rect(3, 3, kSize - 3, kSize - 3));
    canvas.Pen()->SetColor(clSilver);
    for (int x = 9; x < kSize - 3; x += 6) {
        canvas.MoveTo(x, 3);
        canvas.LineTo(x, kSize - 3);
    }
    for (int y = 9; y < kSize - 3; y += 6) {
        canvas.MoveTo(3, y);
        canvas.LineTo(kSize - 3, y);
    }
    canvas.Brush()->SetColor(clRed);
    canvas.FillRect(Rect(6, 21, 10, kSize - 4));
    canvas.Brush()->SetColor(clYellow);
    canvas.FillRect(Rect(12, 17, 16, kSize - 4));
    canvas.Pen()->SetColor(clGreen);
    canvas.Pen()->SetWidth(2);
    const int line[][2] = {{4, 24}, {10, 18}, {15, 20}, {21, 11}, {25, 13}, {28, 5}};
    canvas.MoveTo(line[0][0], line[0][1]);
    for (const auto& point : line)
        canvas.LineTo(point[0], point[1]);
}

} // namespace

void DrawWindowIcon(TPicture& icon) {
    auto bitmap = std::make_unique<TBitmap>();
    bitmap->SetSize(kSize, kSize);
    Paint(*bitmap->Canvas());
    icon.SetGraphic(std::move(bitmap));
}
