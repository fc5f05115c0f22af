// Handing a web address to the user's browser.
#pragma once

#include <string_view>

namespace platform {

// True for a plain web address: "http://" or "https://" (letters in any case),
// at least one more byte, and no byte below 0x21, no 0x7F and no double quote.
bool isOpenableAddress(std::string_view address);

// Opens a GB18030 address in the default browser when isOpenableAddress holds;
// otherwise does nothing. Does not wait for the browser.
void openAddress(std::string_view address);

namespace detail {
// The backend's action, called only with addresses that passed the check.
void shellOpen(std::string_view checkedAddress);
}  // namespace detail

}  // namespace platform
