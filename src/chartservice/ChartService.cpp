#include "chartservice/ChartService.h"

#include "chartservice/ChartAddress.h"
#include "chartservice/ChartPainter.h"

#include <cctype>
#include <filesystem>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string HtmlEscaped(const std::string& text) {
    std::string result;
    for (const char c : text) {
        switch (c) {
        case '<':
            result += "&lt;";
            break;
        case '>':
            result += "&gt;";
            break;
        case '&':
            result += "&amp;";
            break;
        case '"':
            result += "&quot;";
            break;
        default:
            result += c;
        }
    }
    return result;
}

// "GET /t?s=IBM HTTP/1.0": method, target and version separated by single spaces.
bool SplitRequestLine(std::string_view line, std::string_view& method, std::string_view& target,
                      std::string_view& version) {
    const std::size_t first = line.find(' ');
    const std::size_t second = first == std::string_view::npos ? first : line.find(' ', first + 1);
    if (second == std::string_view::npos || line.find(' ', second + 1) != std::string_view::npos)
        return false;
    method = line.substr(0, first);
    target = line.substr(first + 1, second - first - 1);
    version = line.substr(second + 1);
    for (const char c : line)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
    return !method.empty() && !target.empty() && version.size() == 8 &&
           version.starts_with("HTTP/") && std::isdigit(static_cast<unsigned char>(version[5])) &&
           version[6] == '.' && std::isdigit(static_cast<unsigned char>(version[7]));
}

} // namespace

bool IsSafeSymbol(std::string_view symbol) {
    if (symbol.empty() || symbol.size() > TChartService::MaxSymbolLength) return false;
    for (const char c : symbol)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '^' && c != '_' &&
            c != '=' && c != '-')
            return false;
    // No name of a folder entry such as "." or "..".
    return symbol.find_first_not_of('.') != std::string_view::npos;
}

TChartReply ErrorReply(int status, const std::string& reason, const std::string& text) {
    TChartReply reply;
    reply.Status = status;
    reply.Reason = reason;
    reply.ContentType = "text/html";
    const std::string title = std::to_string(status) + " " + reason;
    reply.Body = "<html><head><title>" + title + "</title></head><body><h1>" + title + "</h1><p>" +
                 HtmlEscaped(text) + "</p></body></html>\n";
    return reply;
}

std::string FormatReply(const TChartReply& reply, bool headOnly) {
    std::string text = "HTTP/1.0 " + std::to_string(reply.Status) + " " + reply.Reason +
                       "\r\nServer: brenvik-chartservice\r\nContent-Type: " + reply.ContentType +
                       "\r\nContent-Length: " + std::to_string(reply.Body.size()) +
                       "\r\nConnection: close\r\n\r\n";
    if (!headOnly) text += reply.Body;
    return text;
}

TChartService::TChartService(std::string dataFolder, bool allowSample) : FAllowSample(allowSample) {
    std::error_code error;
    if (!dataFolder.empty()) FDataFolder = fs::weakly_canonical(dataFolder, error).string();
    if (error) FDataFolder = dataFolder;
}

std::string TChartService::PriceFile(const std::string& symbol) const {
    if (FDataFolder.empty() || !IsSafeSymbol(symbol)) return {};
    std::vector<std::string> names = {symbol};
    // Index symbols carry "^" on the short charts and "_" on the year chart.
    if (symbol[0] == '^' || symbol[0] == '_')
        names.push_back((symbol[0] == '^' ? "_" : "^") + symbol.substr(1));
    // Files are usually named in capitals whatever the case typed ("vtrx" finds VTRX.csv).
    for (std::size_t i = 0, n = names.size(); i < n; ++i) {
        std::string upper = names[i];
        for (char& c : upper)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (upper != names[i]) names.push_back(upper);
    }
    for (const std::string& name : names) {
        const fs::path file = fs::path(FDataFolder) / (name + ".csv");
        std::error_code error;
        const fs::path real = fs::canonical(file, error);
        if (error || !fs::is_regular_file(real, error)) continue;
        // A link may point anywhere: only files that really lie in the folder are read.
        const std::string inside = real.parent_path().string();
        if (inside == FDataFolder) return real.string();
    }
    return {};
}

std::string TChartService::ChartGif(const TChartAddress& address) const {
    const std::string file = PriceFile(address.Symbol);
    if (file.empty() && !FAllowSample) throw EPriceDataError("No prices for this symbol");
    const TPriceTable table = file.empty() ? TPriceTable::Sample(address.Symbol, address.Period)
                                           : TPriceTable::FromFile(file);
    TChartCaption caption;
    caption.Symbol = address.Symbol;
    caption.Sample = file.empty();
    const std::vector<TPriceBar> bars = table.Window(address.Period, caption.Period);
    TChartPainter painter;
    const std::vector<std::uint8_t> pixels = painter.Paint(bars, caption);
    return TGIFEncoder::Encode(painter.Width(), painter.Height(), TChartPainter::Palette(), pixels);
}

TChartReply TChartService::Reply(std::string_view target) const {
    const TTarget parsed = ParseChartTarget(target);
    switch (parsed.Kind) {
    case tkBadRequest:
        return ErrorReply(400, "Bad Request", "The address names no chart symbol.");
    case tkNotFound:
        return ErrorReply(404, "Not Found", "No chart at this address.");
    case tkChart:
        break;
    }
    try {
        TChartReply reply;
        reply.Body = ChartGif(parsed.Address);
        return reply;
    } catch (const EPriceDataError& error) {
        return ErrorReply(404, "Not Found", parsed.Address.Symbol + ": " + error.Message() + ".");
    }
}

std::string TChartService::Respond(std::string_view head) const {
    const std::size_t end = head.find('\n');
    std::string_view line = head.substr(0, end);
    if (line.ends_with('\r')) line.remove_suffix(1);
    std::string_view method, target, version;
    if (!SplitRequestLine(line, method, target, version))
        return FormatReply(ErrorReply(400, "Bad Request", "The request line is malformed."), false);
    if (method != "GET" && method != "HEAD")
        return FormatReply(
            ErrorReply(501, "Not Implemented", "Only GET and HEAD requests are served."), false);
    try {
        return FormatReply(Reply(target), method == "HEAD");
    } catch (const std::exception& error) {
        return FormatReply(ErrorReply(500, "Internal Server Error", error.what()),
                           method == "HEAD");
    }
}
