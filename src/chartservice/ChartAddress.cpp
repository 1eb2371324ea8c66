#include "chartservice/ChartAddress.h"

#include "platform/runtime/SysUtils.h"

#include <optional>

namespace {

// %XX decoded; nullopt for a broken escape.
std::optional<std::string> PercentDecode(std::string_view text) {
    std::string result;
    result.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            result += text[i];
            continue;
        }
        if (i + 2 >= text.size()) return std::nullopt;
        const int high = vt::HexValue(text[i + 1]), low = vt::HexValue(text[i + 2]);
        if (high < 0 || low < 0) return std::nullopt;
        result += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return result;
}

// The value of the query key "s", or nullopt when the query has none.
std::optional<std::string_view> SymbolParameter(std::string_view query) {
    while (!query.empty()) {
        const std::size_t amp = query.find('&');
        const std::string_view pair = query.substr(0, amp);
        if (pair.starts_with("s=")) return pair.substr(2);
        if (amp == std::string_view::npos) break;
        query.remove_prefix(amp + 1);
    }
    return std::nullopt;
}

TTarget Chart(std::string_view rawSymbol, TChartPeriod period) {
    TTarget target;
    const auto symbol = PercentDecode(rawSymbol);
    if (!symbol) {
        target.Kind = tkBadRequest;
    } else if (symbol->empty()) {
        target.Kind = tkNotFound;
    } else if (!IsSafeSymbol(*symbol)) {
        target.Kind = tkBadRequest;
    } else {
        target.Kind = tkChart;
        target.Address = {*symbol, period};
    }
    return target;
}

} // namespace

TTarget ParseChartTarget(std::string_view target) {
    if (SameText(target.substr(0, 7), "http://")) {
        // A proxy request: the host is whatever chart host the client was set up with.
        target.remove_prefix(7);
        const std::size_t slash = target.find_first_of("/?");
        target = slash == std::string_view::npos ? std::string_view("/") : target.substr(slash);
        if (target.front() == '?') return {tkNotFound, {}};
    }
    if (target.empty() || target.front() != '/') return {tkBadRequest, {}};
    const std::size_t mark = target.find('?');
    const std::string_view path = target.substr(0, mark);
    const std::string_view query =
        mark == std::string_view::npos ? std::string_view() : target.substr(mark + 1);

    if (path == "/t" || path == "/v") {
        const auto symbol = SymbolParameter(query);
        if (!symbol) return {tkNotFound, {}};
        return Chart(*symbol, path == "/t" ? cpDay : cpQuarter);
    }
    // "/c/0b/" first character "/" symbol ".gif"
    constexpr std::string_view yearPrefix = "/c/0b/";
    if (!path.starts_with(yearPrefix) || !path.ends_with(".gif")) return {tkNotFound, {}};
    const std::string_view rest =
        path.substr(yearPrefix.size(), path.size() - yearPrefix.size() - 4);
    const std::size_t slash = rest.find('/');
    if (slash == std::string_view::npos) return {tkNotFound, {}};
    const auto first = PercentDecode(rest.substr(0, slash));
    TTarget chart = Chart(rest.substr(slash + 1), cpYear);
    if (chart.Kind != tkChart) return chart;
    if (!first || *first != chart.Address.Symbol.substr(0, 1)) return {tkNotFound, {}};
    return chart;
}
