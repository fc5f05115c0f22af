// Opening an address on a Linux desktop: xdg-open, which hands it to the
// user's default browser.
#include <glib.h>

#include <string>

#include "platform/encoding.h"
#include "platform/shell.h"

namespace platform::detail {

void shellOpen(std::string_view checkedAddress) {
    const std::string address = gb18030ToUtf8(checkedAddress);
    if (address.empty()) return;  // not valid GB18030: there is nothing sound to open
    std::string program = "xdg-open";
    char* argv[] = {program.data(), const_cast<char*>(address.c_str()), nullptr};
    // No shell, so the address stays one argument. Without
    // G_SPAWN_DO_NOT_REAP_CHILD GLib forks twice and reaps the intermediate
    // child at once: the browser launcher is not waited for and leaves no zombie.
    g_spawn_async(nullptr, argv, nullptr, G_SPAWN_SEARCH_PATH, nullptr, nullptr, nullptr, nullptr);
}

}  // namespace platform::detail
