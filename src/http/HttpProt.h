#pragma once
// Text helpers of the HTTP client: taking a URL apart, searching from the end, the
// date of an If-Modified-Since line, Basic credentials and document name extensions.
// All strings are 8-bit byte strings; positions count from 1.

#include <string>
#include <string_view>

// Date serial: whole days since 30 December 1899, the fraction is the time of day.
using TDateTime = double;

// Splits URL into its six parts; a part the URL lacks comes back empty.
void SplitURL(std::string_view URL, std::string& Proto, std::string& User, std::string& Pass,
              std::string& Host, std::string& Port, std::string& Path);

// Count > 0: position of the Count-th (possibly overlapping) occurrence from the start,
// or a value past the end of S when there are fewer. Count < 0: position of the
// |Count|-th occurrence from the end, 0 when there are fewer. Count 0: 0.
int NthPos(std::string_view Substr, std::string_view S, int Count);

// "Sun, 06 Dec 2026 23:35:23": the value as it is, no time-zone conversion.
std::string FormatRfc1123Date(TDateTime D);

// Base64 (RFC 2045 alphabet) of the bytes of S, padded with "=", no line breaks.
std::string EncodeBase64(std::string_view S);

// Replaces the text after the last "." of FileName by NewExt, or appends "." NewExt.
void SetExtension(std::string& FileName, std::string_view NewExt);
