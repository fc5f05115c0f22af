#include <windows.h>
#include <shellapi.h>
#include <wininet.h>

#include "platform/shell.h"
#include "platform/win32/wide.h"

namespace platform::detail {

void shellOpen(std::string_view checkedAddress) {
    const std::wstring address = win32::widen(checkedAddress);
    // Windows takes no web address of INTERNET_MAX_URL_LENGTH characters or
    // more, and the shell copies the address into buffers of its own on its
    // way to the browser: given a 1 MiB one, Wine's shell32 overruns its stack
    // and the updater ends. Such an address is not opened.
    if (address.empty() || address.size() >= INTERNET_MAX_URL_LENGTH) return;
    // Called from a click on the interface thread, so the active window is the
    // updater's: the shell's own messages, if any, stay in front of it.
    ShellExecuteW(GetActiveWindow(), L"open", address.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

}  // namespace platform::detail
