#include "platform/profile/Profile.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_set>
#include <utility>

namespace vt {
namespace {

constexpr std::string_view kBlanks = " \t";

std::string_view Trim(std::string_view s) {
    const auto first = s.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) return {};
    return s.substr(first, s.find_last_not_of(kBlanks) - first + 1);
}

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return LowerAscii(x) == LowerAscii(y);
           });
}

std::string LowerCopy(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(), LowerAscii);
    return out;
}

// ---- Parsing: one line at a time, straight over the file's bytes --------------------

enum class LineKind { Other, Section, Entry };

struct ProfileLine {
    std::size_t Begin = 0; // first byte of the line
    std::size_t End = 0;   // end of its text, before CR LF
    std::size_t Next = 0;  // first byte of the following line
    LineKind Kind = LineKind::Other;
    std::string_view Name;      // section name or key, blanks removed
    std::size_t ValueStart = 0; // entries: first value byte, after '=' and blanks
    std::string_view Value;     // entries: value text, blanks removed, quotes kept
};

void Classify(std::string_view content, ProfileLine& line) {
    line.Kind = LineKind::Other;
    const std::string_view raw = content.substr(line.Begin, line.End - line.Begin);
    const auto lead = raw.find_first_not_of(kBlanks);
    if (lead == std::string_view::npos) return;
    const std::string_view text = raw.substr(lead);
    if (text.front() == '[') {
        const std::string_view inner = text.substr(1);
        line.Kind = LineKind::Section;
        line.Name = Trim(inner.substr(0, inner.find(']')));
        return;
    }
    if (text.front() == ';' || text.front() == '#') return;
    const auto eq = text.find('=');
    if (eq == std::string_view::npos) return;
    line.Kind = LineKind::Entry;
    line.Name = Trim(text.substr(0, eq));
    const std::string_view after = text.substr(eq + 1);
    const auto valueLead = std::min(after.find_first_not_of(kBlanks), after.size());
    line.ValueStart = line.Begin + lead + eq + 1 + valueLead;
    line.Value = Trim(after);
}

// Reads the line starting at `pos`; false at the end of the content.
bool NextLine(std::string_view content, std::size_t pos, ProfileLine& line) {
    if (pos >= content.size()) return false;
    const auto lf = content.find('\n', pos);
    line.Begin = pos;
    line.End = lf == std::string_view::npos ? content.size() : lf;
    line.Next = lf == std::string_view::npos ? content.size() : lf + 1;
    if (line.End > pos && content[line.End - 1] == '\r') --line.End;
    Classify(content, line);
    return true;
}

// Visits every line in file order until the visitor returns false.
void ForEachLine(std::string_view content, const std::function<bool(const ProfileLine&)>& visit) {
    ProfileLine line;
    for (std::size_t pos = 0; NextLine(content, pos, line); pos = line.Next) {
        if (!visit(line)) return;
    }
}

// Values with outer blanks, or already in quotes, are stored in quotes so that they
// read back unchanged; reading removes one pair of enclosing quotes.
bool IsQuoted(std::string_view v) {
    return v.size() >= 2 && v.front() == '"' && v.back() == '"';
}

std::string_view DecodeValue(std::string_view stored) {
    return IsQuoted(stored) ? stored.substr(1, stored.size() - 2) : stored;
}

std::string EncodeValue(std::string_view value) {
    const bool outerBlank =
        !value.empty() && (kBlanks.find(value.front()) != std::string_view::npos ||
                           kBlanks.find(value.back()) != std::string_view::npos);
    if (outerBlank || IsQuoted(value)) return '"' + std::string(value) + '"';
    return std::string(value);
}

std::string_view DetectLineBreak(std::string_view content) {
    const auto lf = content.find('\n');
    return (lf != std::string_view::npos && lf > 0 && content[lf - 1] == '\r') ? "\r\n" : "\n";
}

std::optional<std::string_view> FindValue(std::string_view content, std::string_view section,
                                          std::string_view key) {
    std::optional<std::string_view> found;
    bool inSection = false;
    ForEachLine(content, [&](const ProfileLine& line) {
        if (line.Kind == LineKind::Section) {
            inSection = EqualsNoCase(line.Name, section);
        } else if (line.Kind == LineKind::Entry && inSection && EqualsNoCase(line.Name, key)) {
            found = DecodeValue(line.Value);
            return false;
        }
        return true;
    });
    return found;
}

// ---- Editing: every change splices the file's bytes, so other lines stay as they were

// Ends `out` with a line break when its last line has none. A bare CR there already
// began one: only the LF is added, so the line keeps its value and nothing is glued on.
void EndLastLine(std::string& out, std::string_view lineBreak) {
    if (out.empty() || out.back() == '\n') return;
    out.append(out.back() == '\r' ? "\n" : lineBreak);
}

std::optional<std::string> SetValue(std::string_view content, std::string_view section,
                                    std::string_view key, std::string_view value) {
    const std::string_view lineBreak = DetectLineBreak(content);
    std::optional<ProfileLine> found;
    bool inSection = false, inFirstSection = false, sectionSeen = false, lastLineBlank = true;
    std::size_t insertAt = 0;
    bool insertNeedsBreak = false;
    ForEachLine(content, [&](const ProfileLine& line) {
        lastLineBlank = Trim(content.substr(line.Begin, line.End - line.Begin)).empty();
        if (line.Kind == LineKind::Section) {
            inSection = EqualsNoCase(line.Name, section);
            inFirstSection = inSection && !sectionSeen;
            sectionSeen = sectionSeen || inSection;
            if (!inFirstSection) return true;
        } else if (line.Kind == LineKind::Entry && inSection) {
            if (EqualsNoCase(line.Name, key)) {
                found = line;
                return false;
            }
            if (!inFirstSection) return true;
        } else {
            return true;
        }
        // New keys go after the last entry of the first section with that name.
        insertAt = line.Next;
        insertNeedsBreak = content[line.Next - 1] != '\n';
        return true;
    });

    std::string out;
    const std::string encoded = EncodeValue(value);
    if (found) {
        out.reserve(content.size() + encoded.size());
        out.append(content.substr(0, found->ValueStart));
        out.append(encoded);
        out.append(content.substr(found->End));
    } else if (sectionSeen) {
        out.append(content.substr(0, insertAt));
        if (insertNeedsBreak) EndLastLine(out, lineBreak);
        out.append(Trim(key)).append("=").append(encoded).append(lineBreak);
        out.append(content.substr(insertAt));
    } else {
        out.append(content);
        EndLastLine(out, lineBreak);
        if (!lastLineBlank) out.append(lineBreak);
        out.append("[").append(Trim(section)).append("]").append(lineBreak);
        out.append(Trim(key)).append("=").append(encoded).append(lineBreak);
    }
    return out;
}

std::optional<std::string> DeleteKey(std::string_view content, std::string_view section,
                                     std::string_view key) {
    std::optional<ProfileLine> found;
    bool inSection = false;
    ForEachLine(content, [&](const ProfileLine& line) {
        if (line.Kind == LineKind::Section) {
            inSection = EqualsNoCase(line.Name, section);
        } else if (line.Kind == LineKind::Entry && inSection && EqualsNoCase(line.Name, key)) {
            found = line;
            return false;
        }
        return true;
    });
    if (!found) return std::nullopt;
    std::string out(content.substr(0, found->Begin));
    out.append(content.substr(found->Next));
    return out;
}

std::optional<std::string> DeleteSection(std::string_view content, std::string_view section) {
    std::string out;
    bool skipping = false, changed = false;
    ForEachLine(content, [&](const ProfileLine& line) {
        if (line.Kind == LineKind::Section) skipping = EqualsNoCase(line.Name, section);
        if (skipping) {
            changed = true;
        } else {
            out.append(content.substr(line.Begin, line.Next - line.Begin));
        }
        return true;
    });
    if (!changed) return std::nullopt;
    return out;
}

// ---- Files ---------------------------------------------------------------------------

bool HasDirectory(std::string_view fileName) {
    return fileName.find('/') != std::string_view::npos;
}

std::string HomeDirectory() {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) return pw->pw_dir;
    return ".";
}

std::string ConfigDirectory() {
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && xdg[0] == '/') return xdg;
    return HomeDirectory() + "/.config";
}

bool MakeDirectories(const std::string& dir) {
    for (std::size_t pos = 1; pos <= dir.size(); ++pos) {
        if (pos < dir.size() && dir[pos] != '/') continue;
        const std::string part = dir.substr(0, pos);
        if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    struct stat st {};
    if (stat(dir.c_str(), &st) != 0) return false;
    if (!S_ISDIR(st.st_mode)) {
        errno = ENOTDIR;
        return false;
    }
    return true;
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : FFd(fd) {}
    ~FileDescriptor() {
        if (FFd >= 0) ::close(FFd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int Get() const { return FFd; }
    int Release() { return std::exchange(FFd, -1); }

private:
    int FFd;
};

enum class LoadResult { Loaded, Missing, Failed };

struct LoadedFile {
    std::string Content;
    bool Exists = false;
    mode_t Mode = 0;
};

// Reads a regular file (never waits on a pipe or device). `whole` refuses files over
// the size cap instead of reading their beginning.
LoadResult LoadFile(const std::string& path, bool whole, LoadedFile& file) {
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (fd.Get() < 0) return errno == ENOENT ? LoadResult::Missing : LoadResult::Failed;
    struct stat st {};
    if (fstat(fd.Get(), &st) != 0) return LoadResult::Failed;
    if (!S_ISREG(st.st_mode)) {
        errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        return LoadResult::Failed;
    }
    if (whole && static_cast<std::size_t>(st.st_size) > kMaxProfileFileSize) {
        errno = EFBIG;
        return LoadResult::Failed;
    }
    file.Exists = true;
    file.Mode = st.st_mode & 07777;
    file.Content.resize(std::min<std::size_t>(st.st_size, kMaxProfileFileSize));
    std::size_t have = 0;
    for (;;) {
        if (have == file.Content.size()) {
            if (have >= kMaxProfileFileSize) break;
            // The file grew since fstat: keep reading, within the cap.
            file.Content.resize(std::min(have + 4096, kMaxProfileFileSize));
        }
        const ssize_t n = ::read(fd.Get(), file.Content.data() + have, file.Content.size() - have);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return LoadResult::Failed;
        if (n == 0) break;
        have += static_cast<std::size_t>(n);
    }
    if (whole && have >= kMaxProfileFileSize) {
        errno = EFBIG;
        return LoadResult::Failed;
    }
    file.Content.resize(have);
    return LoadResult::Loaded;
}

bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// Writes a temporary file beside the target and renames it over the target, so
// readers see either the old or the new file, never a part of one.
bool ReplaceFile(const std::string& target, std::string_view content, const LoadedFile& old) {
    const auto slash = target.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : target.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    std::string temp = dir + (dir.back() == '/' ? "" : "/") + "." + base + ".XXXXXX";
    FileDescriptor fd(mkostemp(temp.data(), O_CLOEXEC));
    if (fd.Get() < 0) return false;
    const bool ok = (!old.Exists || fchmod(fd.Get(), old.Mode) == 0) &&
                    WriteAll(fd.Get(), content) && fsync(fd.Get()) == 0 &&
                    ::close(fd.Release()) == 0 && std::rename(temp.c_str(), target.c_str()) == 0;
    if (!ok) {
        const int error = errno;
        ::unlink(temp.c_str());
        errno = error;
    }
    return ok;
}

// A settings file reached through a symbolic link is replaced where it really lives.
std::string ResolveTarget(const std::string& path) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) ? std::string(resolved) : path;
}

bool ValidName(std::string_view name, std::string_view forbidden) {
    return name.find_first_of(forbidden) == std::string_view::npos;
}

using Edit = std::function<std::optional<std::string>(std::string_view)>;

// Loads the file, applies the edit and replaces the file when the edit changed it.
bool EditProfile(std::string_view fileName, const Edit& edit) {
    if (fileName.empty()) {
        errno = ENOENT;
        return false;
    }
    const std::string path = ProfilePath(fileName);
    if (!HasDirectory(fileName) && !MakeDirectories(path.substr(0, path.rfind('/')))) return false;
    const std::string target = ResolveTarget(path);
    LoadedFile file;
    if (LoadFile(target, true, file) == LoadResult::Failed) return false;
    const std::optional<std::string> edited = edit(file.Content);
    return !edited || ReplaceFile(target, *edited, file);
}

std::optional<std::string> LoadForReading(std::string_view fileName) {
    if (fileName.empty()) return std::nullopt;
    LoadedFile file;
    if (LoadFile(ProfilePath(fileName), false, file) != LoadResult::Loaded) return std::nullopt;
    return std::move(file.Content);
}

// Names each followed by a NUL, for the listing forms of GetPrivateProfileString.
std::string ListNames(std::string_view content, std::optional<std::string_view> section) {
    std::string list;
    std::unordered_set<std::string> seen;
    bool inSection = false;
    ForEachLine(content, [&](const ProfileLine& line) {
        if (line.Kind == LineKind::Section)
            inSection = section && EqualsNoCase(line.Name, *section);
        const bool wanted =
            section ? (inSection && line.Kind == LineKind::Entry) : line.Kind == LineKind::Section;
        if (wanted && seen.insert(LowerCopy(line.Name)).second) {
            list.append(line.Name).push_back('\0');
        }
        return true;
    });
    return list;
}

DWORD CopyText(std::string_view text, char* buffer, DWORD size) {
    if (!buffer || size == 0) return 0;
    const std::size_t n = std::min<std::size_t>(text.size(), size - 1);
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
    return static_cast<DWORD>(n);
}

// A list ends with a second NUL; when it does not fit, it is cut and still ends so.
DWORD CopyList(std::string_view list, char* buffer, DWORD size) {
    if (!buffer || size == 0) return 0;
    if (size == 1) {
        buffer[0] = '\0';
        return 0;
    }
    if (list.size() + 1 <= size) {
        std::memcpy(buffer, list.data(), list.size());
        buffer[list.size()] = '\0';
        if (list.empty()) buffer[1] = '\0';
        return static_cast<DWORD>(list.size());
    }
    std::memcpy(buffer, list.data(), size - 2);
    buffer[size - 2] = '\0';
    buffer[size - 1] = '\0';
    return size - 2;
}

} // namespace

std::string ProfilePath(std::string_view fileName) {
    if (HasDirectory(fileName)) return std::string(fileName);
    return ConfigDirectory() + "/" + std::string(fileName);
}

std::optional<std::string> ReadProfileValue(std::string_view fileName, std::string_view section,
                                            std::string_view key) {
    const std::optional<std::string> content = LoadForReading(fileName);
    if (!content) return std::nullopt;
    const auto value = FindValue(*content, Trim(section), Trim(key));
    if (!value) return std::nullopt;
    return std::string(*value);
}

bool WriteProfileValue(std::string_view fileName, std::string_view section, std::string_view key,
                       std::optional<std::string_view> value) {
    // Anything that would break the line structure is refused rather than written.
    using namespace std::string_view_literals;
    const std::string_view trimmedKey = Trim(key);
    if (!ValidName(section, "\r\n\0]"sv) || !ValidName(key, "\r\n\0="sv) ||
        (!trimmedKey.empty() &&
         std::string_view("[;#").find(trimmedKey.front()) != std::string_view::npos) ||
        (value && !ValidName(*value, "\r\n\0"sv))) {
        errno = EINVAL;
        return false;
    }
    return EditProfile(fileName, [&](std::string_view content) {
        return value ? SetValue(content, Trim(section), trimmedKey, *value)
                     : DeleteKey(content, Trim(section), trimmedKey);
    });
}

bool EraseProfileSection(std::string_view fileName, std::string_view section) {
    return EditProfile(
        fileName, [&](std::string_view content) { return DeleteSection(content, Trim(section)); });
}

} // namespace vt

DWORD GetPrivateProfileString(const char* section, const char* key, const char* defaultValue,
                              char* buffer, DWORD size, const char* fileName) {
    const std::string_view name = fileName ? fileName : "";
    if (!section || !key) {
        const std::optional<std::string> content = vt::LoadForReading(name);
        const std::string list =
            content
                ? vt::ListNames(*content, section ? std::optional(vt::Trim(section)) : std::nullopt)
                : "";
        return vt::CopyList(list, buffer, size);
    }
    const std::optional<std::string> value = vt::ReadProfileValue(name, section, key);
    return vt::CopyText(value ? std::string_view(*value) : (defaultValue ? defaultValue : ""),
                        buffer, size);
}

BOOL WritePrivateProfileString(const char* section, const char* key, const char* value,
                               const char* fileName) {
    const std::string_view name = fileName ? fileName : "";
    if (!section) {
        errno = EINVAL;
        return 0;
    }
    if (!key) return vt::EraseProfileSection(name, section) ? 1 : 0;
    return vt::WriteProfileValue(name, section, key,
                                 value ? std::optional<std::string_view>(value) : std::nullopt)
               ? 1
               : 0;
}
