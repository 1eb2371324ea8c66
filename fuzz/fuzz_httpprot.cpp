// libFuzzer target: the text helpers that take outside input apart. The address
// splitter's parts come from the address itself, NthPos agrees with a plain search,
// Base64 decodes back, a date of any value formats within its fields, and the socket
// layer's address and port readers never read past their text or wrap.

#include "FuzzSupport.h"
#include "http/HttpProt.h"
#include "net/WSocketResolve.h"
#include "platform/runtime/Exceptions.h"

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

bool Within(std::string_view whole, const std::string& part) {
    return part.empty() || whole.find(part) != std::string_view::npos;
}

// Count-th occurrence the slow way (1-based; 0 or past the end when missing).
int PlainNthPos(std::string_view sub, std::string_view s, int count) {
    if (count == 0 || sub.empty()) return count > 0 ? static_cast<int>(s.size()) + count : 0;
    std::vector<int> at;
    for (size_t i = 0; i + sub.size() <= s.size(); ++i)
        if (s.substr(i, sub.size()) == sub) at.push_back(static_cast<int>(i) + 1);
    if (count > 0)
        return count <= static_cast<int>(at.size())
                   ? at[count - 1]
                   : static_cast<int>(s.size()) + count - static_cast<int>(at.size());
    // From the end, each occurrence counted once: no overlap with the one after it.
    std::vector<int> back;
    size_t before = s.size();
    for (int i = static_cast<int>(at.size()) - 1; i >= 0; --i)
        if (static_cast<size_t>(at[i] - 1) + sub.size() <= before + sub.size() - 1 &&
            static_cast<size_t>(at[i] - 1) < before) {
            back.push_back(at[i]);
            before = static_cast<size_t>(at[i] - 1);
        }
    return -count <= static_cast<int>(back.size()) ? back[-count - 1] : 0;
}

std::string DecodeBase64(const std::string& text) {
    static const std::string alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    unsigned bits = 0;
    int count = 0;
    for (char c : text) {
        if (c == '=') break;
        const size_t v = alphabet.find(c);
        FUZZ_CHECK(v != std::string::npos);
        bits = (bits << 6) | static_cast<unsigned>(v);
        count += 6;
        if (count >= 8) {
            count -= 8;
            out += static_cast<char>((bits >> count) & 0xFF);
        }
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
    const std::string_view input(reinterpret_cast<const char*>(Data), Size);

    std::string proto, user, pass, host, port, path;
    SplitURL(input, proto, user, pass, host, port, path);
    for (const std::string* part : {&user, &pass, &host, &port, &path})
        FUZZ_CHECK(Within(input, *part));
    FUZZ_CHECK(proto.empty() || proto == "http" || proto == "mailto" || Within(input, proto));

    if (Size >= 2) {
        const size_t subLen = Data[0] % 4;
        const std::string_view sub = input.substr(1, std::min(subLen, Size - 1));
        const std::string_view s = input.substr(1 + sub.size());
        for (int count : {-3, -2, -1, 0, 1, 2, 3})
            FUZZ_CHECK(NthPos(sub, s, count) == PlainNthPos(sub, s, count));
        FUZZ_CHECK(NthPos(sub, s, INT_MAX) >= static_cast<int>(s.size()) || !sub.empty());
        NthPos(sub, s, INT_MIN);
    }

    const std::string encoded = EncodeBase64(input);
    FUZZ_CHECK(encoded.size() == (Size + 2) / 3 * 4);
    FUZZ_CHECK(DecodeBase64(encoded) == input);

    if (Size >= 8) {
        double d;
        std::memcpy(&d, Data, sizeof d);
        const std::string date = FormatRfc1123Date(d);
        FUZZ_CHECK(date.size() == 25); // "Mon, 01 Jan 1900 00:00:00"
    }

    std::string name(input.substr(0, std::min<size_t>(Size, 64)));
    SetExtension(name, "htm");
    FUZZ_CHECK(name.size() >= 4 && name.compare(name.size() - 4, 4, ".htm") == 0);

    const std::string text(input);
    IsDottedAddress(text);
    ParseDecimal(text);
    if (!text.empty() && text[0] >= '0' && text[0] <= '9') {
        try {
            const int port = WSocketResolvePort(text, "tcp");
            FUZZ_CHECK(port >= 0 && port <= 65535);
        } catch (const Exception&) {
        }
    }
    return 0;
}
