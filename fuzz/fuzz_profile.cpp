// libFuzzer target: the settings file reader and writer on any file content. A write
// reads back, a removal or an erased section is gone, and every other key reads as it
// did before; a refused write leaves the file byte for byte.
//
// Input: an operation byte, three length bytes (section, key, value), those three
// fields, then the file content.

#include "FuzzSupport.h"
#include "platform/profile/Profile.h"

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

const std::string& FilePath() {
    static const std::string path = [] {
        char dir[] = "/tmp/vt-fuzz-profile-XXXXXX";
        FUZZ_CHECK(mkdtemp(dir) != nullptr);
        return std::string(dir) + "/settings.ini";
    }();
    return path;
}

void WriteAll(const std::string& text) {
    std::ofstream(FilePath(), std::ios::binary | std::ios::trunc) << text;
}

std::string ReadAll() {
    std::ifstream in(FilePath(), std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// The NUL-separated names a listing call returns.
std::vector<std::string> List(const char* section) {
    std::vector<char> buf(1 << 20);
    const DWORD n = GetPrivateProfileString(section, nullptr, "", buf.data(),
                                            static_cast<DWORD>(buf.size()), FilePath().c_str());
    std::vector<std::string> names;
    for (DWORD i = 0; i < n;) {
        std::string name(buf.data() + i);
        i += static_cast<DWORD>(name.size()) + 1;
        names.push_back(std::move(name));
    }
    return names;
}

using TValues = std::map<std::pair<std::string, std::string>, std::optional<std::string>>;

TValues AllValues() {
    TValues values;
    for (const auto& section : List(nullptr))
        for (const auto& key : List(section.c_str()))
            values[{section, key}] = vt::ReadProfileValue(FilePath(), section, key);
    return values;
}

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string_view Trimmed(std::string_view s) {
    const auto first = s.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

bool Same(std::string_view a, std::string_view b) {
    return Lower(Trimmed(a)) == Lower(Trimmed(b));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
    if (Size < 4) return 0;
    const char* p = reinterpret_cast<const char*>(Data);
    const int op = Data[0] % 3;
    std::size_t pos = 4;
    auto field = [&](std::size_t len) {
        len = std::min(len, Size - pos);
        std::string f(p + pos, len);
        pos += len;
        return f;
    };
    const std::string section = field(Data[1] % 32);
    const std::string key = field(Data[2] % 32);
    const std::string value = field(Data[3]);
    const std::string content(p + pos, Size - pos);
    WriteAll(content);

    const TValues before = AllValues();
    bool ok = false;
    if (op == 0)
        ok = vt::WriteProfileValue(FilePath(), section, key, value);
    else if (op == 1)
        ok = vt::WriteProfileValue(FilePath(), section, key, std::nullopt);
    else
        ok = vt::EraseProfileSection(FilePath(), section);
    if (!ok) {
        FUZZ_CHECK(ReadAll() == content); // a refused change leaves the file alone
        return 0;
    }
    if (op == 0) FUZZ_CHECK(vt::ReadProfileValue(FilePath(), section, key) == value);
    for (const auto& [name, was] : before) {
        const bool touched = Same(name.first, section) && (op == 2 || Same(name.second, key));
        const auto now = vt::ReadProfileValue(FilePath(), name.first, name.second);
        if (op == 2 && touched)
            FUZZ_CHECK(!now.has_value());
        else if (!touched)
            FUZZ_CHECK(now == was);
    }
    return 0;
}
