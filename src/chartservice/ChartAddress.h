#pragma once
// Reading a chart address from a request target.

#include "chartservice/ChartService.h"

#include <string_view>

enum TTargetKind {
    tkChart,      // one of the three chart addresses with a usable symbol
    tkNotFound,   // another path, or a chart address without a symbol
    tkBadRequest, // a target that is no HTTP address, or a symbol that is no symbol
};

struct TTarget {
    TTargetKind Kind = tkNotFound;
    TChartAddress Address;
};

// Reads an origin-form target ("/t?s=IBM") or an absolute one ("http://host:80/t?s=IBM");
// %XX escapes in the symbol are decoded.
TTarget ParseChartTarget(std::string_view Target);
