#pragma once
// TChartPainter: draws a price chart (price line over volume bars, price axis, first and
// last date, the symbol and period as title) and hands it out as palette indexes.

#include "chartservice/GIFEncoder.h"
#include "chartservice/PriceTable.h"
#include "platform/gdi/Bitmap.h"

#include <cstdint>
#include <string>
#include <vector>

struct TChartCaption {
    std::string Symbol;
    std::string Period;  // what the bars cover, "1 day" ... "1 year"
    bool Sample = false; // made-up prices: the chart says so
};

class TChartPainter {
public:
    // The window's picture area, so the chart shows unstretched.
    static constexpr int DefaultWidth = 211;
    static constexpr int DefaultHeight = 117;

    // The colours of the chart, in palette order.
    enum TChartColor : std::uint8_t {
        ccBackground,
        ccText,
        ccAxis,
        ccGrid,
        ccPrice,
        ccVolume,
        ccSample,
        ccCount
    };
    static const std::vector<TRgb>& Palette();
    static TColor ColorOf(TChartColor Color);

    TChartPainter(int Width = DefaultWidth, int Height = DefaultHeight);

    // Draws the bars (in time order, at least one) and returns Width * Height palette
    // indexes, top row first.
    std::vector<std::uint8_t> Paint(const std::vector<TPriceBar>& Bars,
                                    const TChartCaption& Caption);
    int Width() const { return FWidth; }
    int Height() const { return FHeight; }

private:
    struct TScale {
        double Low = 0;
        double High = 1;
        double Step = 1;
        int Decimals = 0;
    };
    static TScale PriceScale(const std::vector<TPriceBar>& Bars);
    void DrawCaption(const TChartCaption& Caption);
    // The plot area left of the price labels; draws the labels and the grid.
    TRect DrawPriceAxis(const TScale& Scale);
    void DrawVolume(const std::vector<TPriceBar>& Bars, const TRect& Plot);
    void DrawPrices(const std::vector<TPriceBar>& Bars, const TScale& Scale, const TRect& Plot);
    void DrawTimeAxis(const std::vector<TPriceBar>& Bars, const TRect& Plot);
    void SetFont(TChartColor Color, bool Bold = false);
    std::vector<std::uint8_t> Indexes();

    int FWidth;
    int FHeight;
    TBitmap FBitmap;
    TCanvas* FCanvas = nullptr;
};
