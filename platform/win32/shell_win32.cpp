#include <windows.h>
#include <shellapi.h>
#include <wininet.h>

#include "platform/shell.h"
#include "platform/win32/wide.h"

namespace platform::detail {

void shellOpen(std::string_view checkedAddress) {
    const std::wstring address = win32::widen(checkedAddress);
    // The shared check keeps the length under INTERNET_MAX_URL_LENGTH (given a
    // 1 MiB address, Wine's shell32 overruns its stack and the updater ends).
    static_assert(MAX_ADDRESS_UNITS < INTERNET_MAX_URL_LENGTH);
    if (address.empty()) return;  // not valid GB18030: there is nothing sound to open
    // Called from a click on the interface thread, so the active window is the
    // updater's: the shell's own messages, if any, stay in front of it.
    ShellExecuteW(GetActiveWindow(), L"open", address.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

}  // namespace platform::detail
