#include "platform/shell/Shell.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <strings.h>
#include <thread>

extern char** environ;

namespace vt {

namespace {

TShellOpener& CurrentOpener() {
    static TShellOpener opener = DesktopOpen;
    return opener;
}

bool HasScheme(const std::string& Address) {
    // scheme ":" with a scheme of a letter followed by letters, digits, "+", "-", "."
    const auto colon = Address.find(':');
    if (colon == std::string::npos || colon == 0) return false;
    for (std::size_t i = 0; i < colon; ++i) {
        const unsigned char c = static_cast<unsigned char>(Address[i]);
        const bool letter = (c | 0x20) >= 'a' && (c | 0x20) <= 'z';
        if (!letter && (i == 0 || !(std::isdigit(c) || c == '+' || c == '-' || c == '.')))
            return false;
    }
    return true;
}

} // namespace

std::string NormalizeShellAddress(const std::string& Address) {
    if (Address.size() > 4 && strncasecmp(Address.c_str(), "www.", 4) == 0 && !HasScheme(Address))
        return "http://" + Address;
    return Address;
}

bool ShellOpen(const std::string& Address) {
    if (Address.empty()) return false;
    const TShellOpener& opener = CurrentOpener();
    return opener && opener(NormalizeShellAddress(Address));
}

TShellOpener SetShellOpener(TShellOpener Opener) {
    TShellOpener previous = std::move(CurrentOpener());
    CurrentOpener() = Opener ? std::move(Opener) : TShellOpener(DesktopOpen);
    return previous;
}

bool DesktopOpen(const std::string& Address) {
    return LaunchDetached("xdg-open", Address);
}

bool LaunchDetached(const std::string& Program, const std::string& Argument) {
    std::string argument = Argument;
    if (!argument.empty() && argument[0] == '-') {
        // Never let it pass for an option of the opener.
        struct stat info {};
        if (stat(argument.c_str(), &info) != 0) return false;
        argument = "./" + argument;
    }
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawnattr_init(&attributes);
    // Its own session: a terminal's signals to us do not reach the browser.
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    std::string program = Program;
    char* argv[] = {program.data(), argument.data(), nullptr};
    pid_t pid = 0;
    const int error = posix_spawnp(&pid, program.c_str(), &actions, &attributes, argv, environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) return false;
    // Reaped in the background, so the caller never waits and no zombie stays.
    std::thread([pid] {
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
    return true;
}

} // namespace vt

std::intptr_t ShellExecute(HWND, const char*, const char* File, const char*, const char*, int) {
    constexpr std::intptr_t kStarted = 33; // above 32: success
    constexpr std::intptr_t kFileNotFound = 2;
    if (!File || !*File) return kFileNotFound;
    return vt::ShellOpen(File) ? kStarted : kFileNotFound;
}
