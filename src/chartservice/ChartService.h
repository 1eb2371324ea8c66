#pragma once
// TChartService: answers one HTTP request head with a chart, as an origin server
// ("GET /t?s=IBM HTTP/1.0") and as a proxy ("GET http://host/t?s=IBM HTTP/1.0") alike.
// The three chart addresses: "/t?s=SYMBOL" (1 day), "/v?s=SYMBOL" (3 months) and
// "/c/0b/S/SYMBOL.gif" (1 year). Prices come from SYMBOL.csv in the data folder, or are
// made up when there is none and samples are allowed.

#include "chartservice/PriceTable.h"

#include <optional>
#include <string>
#include <string_view>

struct TChartReply {
    int Status = 200;
    std::string Reason = "OK";
    std::string ContentType = "image/gif";
    std::string Body;
};

struct TChartAddress {
    std::string Symbol;
    TChartPeriod Period = cpDay;
};

class TChartService {
public:
    static constexpr std::size_t MaxSymbolLength = 32;

    // An empty DataFolder means no price files: every chart is a sample (or 404).
    TChartService(std::string DataFolder, bool AllowSample);

    // The whole response (status line, header lines, body) to one request head: the
    // request line and the header lines. Never raises.
    std::string Respond(std::string_view Head) const;
    // The reply for the target of a GET (origin or absolute form).
    TChartReply Reply(std::string_view Target) const;
    // The chart for a symbol and period as GIF bytes; raises EPriceDataError when the
    // symbol's price file is unusable, and when there is none and samples are not allowed.
    std::string ChartGif(const TChartAddress& Address) const;
    // The symbol's price file inside the data folder, or empty when it has none.
    std::string PriceFile(const std::string& Symbol) const;

    const std::string& DataFolder() const { return FDataFolder; }
    bool AllowSample() const { return FAllowSample; }

private:
    std::string FDataFolder; // canonical, empty without one
    bool FAllowSample;
};

// A reply with a small HTML page saying Text.
TChartReply ErrorReply(int Status, const std::string& Reason, const std::string& Text);
// Status line, header lines and (unless HeadOnly) the body, as sent.
std::string FormatReply(const TChartReply& Reply, bool HeadOnly);
// Symbols are letters, digits and . ^ _ = - (index and class prefixes and suffixes).
bool IsSafeSymbol(std::string_view Symbol);
