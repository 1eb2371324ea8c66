#pragma once
// Opening a document or an address in the desktop's default program (the browser for
// web addresses), as the Windows shell's open operation does. No Qt here.

#include "platform/runtime/WinTypes.h"

#include <functional>
#include <string>

// The Windows shell call the chart window makes. Operation, Parameters, Directory and
// ShowCmd are accepted and ignored (only the plain open exists here). Hands File to the
// opener (vt::ShellOpen) and returns at once; the result is 33 when the opener was
// started, 2 when File is empty or the opener could not be started.
constexpr int SW_SHOWNORMAL = 1;
std::intptr_t ShellExecute(HWND Wnd, const char* Operation, const char* File,
                           const char* Parameters, const char* Directory, int ShowCmd);

namespace vt {

// Receives the address to open, already normalised (see ShellOpen); true when started.
using TShellOpener = std::function<bool(const std::string& Address)>;

// Opens Address without blocking: an address without a scheme that starts with "www."
// (any letter case) gets "http://" in front; anything else is passed on unchanged. An
// empty address opens nothing (false). The opener's result is returned.
bool ShellOpen(const std::string& Address);
// The address ShellOpen hands to the opener.
std::string NormalizeShellAddress(const std::string& Address);

// Replaces the opener (tests capture what it was given); an empty one restores the
// default. Returns the previous opener.
TShellOpener SetShellOpener(TShellOpener Opener);
// The default opener: runs "xdg-open" with the address as its one argument.
bool DesktopOpen(const std::string& Address);

// Starts Program (looked up in PATH) with the one argument, detached: no shell, stdin
// from /dev/null, its own session; a helper thread reaps it, so no zombie stays and the
// caller never waits for it. An argument starting with "-" is passed as "./-..." only
// when it names an existing file; otherwise it is refused (false), so it can never
// be read as an option. False when the program could not be started.
bool LaunchDetached(const std::string& Program, const std::string& Argument);

} // namespace vt
