#include "chartservice/ChartPainter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

constexpr int FontHeight = 9; // pixels: small enough for the picture area
constexpr int CaptionHeight = 12;
constexpr int TimeAxisHeight = 11;
constexpr int Margin = 3;

std::string PriceText(double value, int decimals) {
    char text[32];
    std::snprintf(text, sizeof(text), "%.*f", decimals, value);
    return text;
}

} // namespace

const std::vector<TRgb>& TChartPainter::Palette() {
    static const std::vector<TRgb> palette = {
        {255, 255, 255}, // background
        {0, 0, 0},       // text
        {96, 96, 96},    // axes
        {220, 220, 220}, // grid
        {0, 64, 176},    // price line
        {176, 196, 228}, // volume bars
        {200, 0, 0},     // "sample data"
    };
    return palette;
}

TColor TChartPainter::ColorOf(TChartColor Color) {
    const TRgb c = Palette()[Color];
    return RGB(c.R, c.G, c.B);
}

TChartPainter::TChartPainter(int Width, int Height)
    : FWidth(std::max(Width, 1)), FHeight(std::max(Height, 1)) {
    FBitmap.SetPixelFormat(pf32bit);
    FBitmap.SetSize(FWidth, FHeight);
    FCanvas = FBitmap.Canvas();
}

std::vector<std::uint8_t> TChartPainter::Paint(const std::vector<TPriceBar>& Bars,
                                               const TChartCaption& Caption) {
    FCanvas->Brush()->SetColor(ColorOf(ccBackground));
    FCanvas->FillRect(Rect(0, 0, FWidth, FHeight));
    FCanvas->SetBkMode(TRANSPARENT);
    DrawCaption(Caption);
    if (!Bars.empty()) {
        const TScale scale = PriceScale(Bars);
        const TRect plot = DrawPriceAxis(scale);
        if (!plot.IsEmpty()) {
            DrawVolume(Bars, plot);
            DrawPrices(Bars, scale, plot);
            DrawTimeAxis(Bars, plot);
        }
    }
    return Indexes();
}

TChartPainter::TScale TChartPainter::PriceScale(const std::vector<TPriceBar>& Bars) {
    TScale scale;
    scale.Low = Bars.front().Low;
    scale.High = Bars.front().High;
    for (const TPriceBar& bar : Bars) {
        scale.Low = std::min(scale.Low, bar.Low);
        scale.High = std::max(scale.High, bar.High);
    }
    if (scale.High - scale.Low < 1e-6 * std::max(1.0, scale.High)) {
        // A flat series still gets a range to sit in the middle of.
        const double pad = std::max(0.01, scale.High * 0.01);
        scale.Low = std::max(0.0, scale.Low - pad);
        scale.High += pad;
    }
    const double raw = (scale.High - scale.Low) / 3;
    const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
    const double norm = raw / magnitude;
    scale.Step = (norm < 1.5 ? 1 : norm < 3 ? 2 : norm < 7 ? 5 : 10) * magnitude;
    scale.Decimals = std::clamp(static_cast<int>(-std::floor(std::log10(scale.Step))), 0, 4);
    return scale;
}

void TChartPainter::SetFont(TChartColor Color, bool Bold) {
    TFont* font = FCanvas->Font();
    font->SetName("DejaVu Sans");
    font->SetHeight(-FontHeight);
    font->SetStyle(Bold ? TFontStyles{fsBold} : TFontStyles{0});
    font->SetColor(ColorOf(Color));
}

void TChartPainter::DrawCaption(const TChartCaption& Caption) {
    int right = FWidth - Margin;
    if (Caption.Sample) {
        SetFont(ccSample);
        const std::string text = "sample data";
        right -= FCanvas->TextWidth(text);
        FCanvas->TextOut(right, 1, text);
        right -= 6;
    }
    SetFont(ccText, true);
    const TRect clip = Rect(Margin, 0, std::max(Margin, right), CaptionHeight);
    FCanvas->TextRect(clip, Margin, 1, Caption.Symbol);
    const int periodLeft = Margin + FCanvas->TextWidth(Caption.Symbol) + 6;
    SetFont(ccText);
    FCanvas->TextRect(Rect(std::min(periodLeft, clip.Right), 0, clip.Right, CaptionHeight),
                      periodLeft, 1, Caption.Period);
}

TRect TChartPainter::DrawPriceAxis(const TScale& Scale) {
    SetFont(ccText);
    const double first = std::ceil(Scale.Low / Scale.Step) * Scale.Step;
    int labelWidth = 0;
    for (double v = first; v <= Scale.High + Scale.Step * 1e-9; v += Scale.Step)
        labelWidth = std::max(labelWidth, FCanvas->TextWidth(PriceText(v, Scale.Decimals)));
    const TRect plot =
        Rect(Margin, CaptionHeight + 2, FWidth - Margin - labelWidth - 3, FHeight - TimeAxisHeight);
    if (plot.Width() < 2 || plot.Height() < 2) return TRect{};
    const double range = Scale.High - Scale.Low;
    for (double v = first; v <= Scale.High + Scale.Step * 1e-9; v += Scale.Step) {
        const int y = plot.Bottom - 1 -
                      static_cast<int>(std::lround((v - Scale.Low) / range * (plot.Height() - 1)));
        FCanvas->Pen()->SetColor(ColorOf(ccGrid));
        FCanvas->MoveTo(plot.Left, y);
        FCanvas->LineTo(plot.Right, y);
        const int textTop = std::clamp(y - FontHeight / 2 - 1, 0, FHeight - FontHeight - 2);
        FCanvas->TextOut(plot.Right + 3, textTop, PriceText(v, Scale.Decimals));
    }
    // Axes: left and bottom edge of the plot.
    FCanvas->Pen()->SetColor(ColorOf(ccAxis));
    FCanvas->MoveTo(plot.Left, plot.Top);
    FCanvas->LineTo(plot.Left, plot.Bottom - 1);
    FCanvas->LineTo(plot.Right, plot.Bottom - 1);
    return plot;
}

void TChartPainter::DrawVolume(const std::vector<TPriceBar>& Bars, const TRect& Plot) {
    double most = 0;
    for (const TPriceBar& bar : Bars)
        most = std::max(most, bar.Volume);
    if (most <= 0) return;
    const int height = Plot.Height() / 4; // the bottom quarter of the plot
    const int n = static_cast<int>(Bars.size());
    FCanvas->Brush()->SetColor(ColorOf(ccVolume));
    for (int i = 0; i < n; ++i) {
        const int left = Plot.Left + 1 + i * (Plot.Width() - 1) / n;
        const int right = std::max(left + 1, Plot.Left + 1 + (i + 1) * (Plot.Width() - 1) / n - 1);
        const int h = static_cast<int>(std::lround(Bars[i].Volume / most * height));
        FCanvas->FillRect(Rect(left, Plot.Bottom - 1 - h, right, Plot.Bottom - 1));
    }
}

void TChartPainter::DrawPrices(const std::vector<TPriceBar>& Bars, const TScale& Scale,
                               const TRect& Plot) {
    const int n = static_cast<int>(Bars.size());
    const double range = Scale.High - Scale.Low;
    auto point = [&](int i) {
        const int x = n == 1 ? Plot.Left + Plot.Width() / 2
                             : Plot.Left + 1 + i * (Plot.Width() - 2) / (n - 1);
        const int y = Plot.Bottom - 2 -
                      static_cast<int>(
                          std::lround((Bars[i].Close - Scale.Low) / range * (Plot.Height() - 3)));
        return Point(x, y);
    };
    FCanvas->Pen()->SetColor(ColorOf(ccPrice));
    FCanvas->Pen()->SetWidth(1);
    TPoint p = point(0);
    FCanvas->MoveTo(p.X, p.Y);
    for (int i = 1; i < n; ++i) {
        p = point(i);
        FCanvas->LineTo(p.X, p.Y);
    }
    // The end point of a line is left out; the last close gets its pixel (a single bar
    // shows as a short mark).
    FCanvas->LineTo(p.X + 1, p.Y);
}

void TChartPainter::DrawTimeAxis(const std::vector<TPriceBar>& Bars, const TRect& Plot) {
    const bool intraday =
        FormatPriceDate(Bars.front().Time) == FormatPriceDate(Bars.back().Time) && Bars.size() > 1;
    auto label = [&](const TPriceBar& bar) {
        return intraday ? FormatPriceClock(bar.Time) : FormatPriceDate(bar.Time);
    };
    SetFont(ccText);
    const int top = Plot.Bottom + 1;
    const std::string first = label(Bars.front());
    const std::string last = label(Bars.back());
    FCanvas->TextOut(Plot.Left, top, first);
    if (Bars.size() > 1) {
        const int lastLeft = std::max(Plot.Left + FCanvas->TextWidth(first) + 4,
                                      Plot.Right - FCanvas->TextWidth(last));
        FCanvas->TextOut(lastLeft, top, last);
    }
}

std::vector<std::uint8_t> TChartPainter::Indexes() {
    const std::vector<TRgb>& palette = Palette();
    std::vector<std::uint8_t> indexes(static_cast<std::size_t>(FWidth) * FHeight);
    std::uint8_t* out = indexes.data();
    for (int y = 0; y < FHeight; ++y) {
        const auto* row = static_cast<const std::uint8_t*>(FBitmap.ScanLine(y));
        for (int x = 0; x < FWidth; ++x, row += 4) {
            // Stored as blue, green, red; drawing uses palette colours only, so the
            // nearest entry is the exact one (text is drawn without smoothing).
            int best = 0;
            int bestDistance = 1 << 30;
            for (int i = 0; i < static_cast<int>(palette.size()); ++i) {
                const int dr = row[2] - palette[i].R, dg = row[1] - palette[i].G,
                          db = row[0] - palette[i].B;
                const int distance = dr * dr + dg * dg + db * db;
                if (distance < bestDistance) {
                    best = i;
                    bestDistance = distance;
                    if (distance == 0) break;
                }
            }
            *out++ = static_cast<std::uint8_t>(best);
        }
    }
    return indexes;
}
