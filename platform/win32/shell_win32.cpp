#include <windows.h>
#include <shellapi.h>

#include "platform/shell.h"
#include "platform/win32/wide.h"

namespace platform::detail {

void shellOpen(std::string_view checkedAddress) {
    const std::wstring address = win32::widen(checkedAddress);
    if (address.empty()) return;
    // Called from a click on the interface thread, so the active window is the
    // updater's: the shell's own messages, if any, stay in front of it.
    ShellExecuteW(GetActiveWindow(), L"open", address.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

}  // namespace platform::detail
