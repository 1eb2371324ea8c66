#pragma once
// A thin settings-file object: it holds only the file name, and every operation goes
// straight to the private profile functions, with nothing cached.

#include <string>

class TIniFile {
public:
    explicit TIniFile(std::string fileName) : FFileName(std::move(fileName)) {}
    virtual ~TIniFile() = default;

    const std::string& FileName() const { return FFileName; }

    // At most kMaxValueLength characters; the default only when the file, the section
    // or the key is missing (a present empty value reads as empty).
    std::string ReadString(const std::string& section, const std::string& ident,
                           const std::string& defaultValue) const;
    // Raises EIniFileException "Unable to write to <file name>" when the file cannot
    // be written; the file is then left as it was.
    void WriteString(const std::string& section, const std::string& ident,
                     const std::string& value);
    // Decimal with optional sign, or "$"/"0x" and hexadecimal digits; anything that does
    // not convert completely gives the default.
    int ReadInteger(const std::string& section, const std::string& ident, int defaultValue) const;
    void WriteInteger(const std::string& section, const std::string& ident, int value);

    void DeleteKey(const std::string& section, const std::string& ident);
    void EraseSection(const std::string& section);

    static constexpr std::size_t kMaxValueLength = 1023;

private:
    [[noreturn]] void RaiseWriteError() const;

    std::string FFileName;
};

namespace vt {

// The integer conversion of ReadInteger: leading blanks skipped, then an optional sign
// and decimal digits or "$" and hexadecimal digits, nothing else; false otherwise.
bool ConvertProfileInteger(const std::string& text, int& value);

} // namespace vt
