// Handing a web address to the user's browser.
#pragma once

#include <cstddef>
#include <string_view>

namespace platform {

// Windows takes no web address of INTERNET_MAX_URL_LENGTH (2083) UTF-16 units
// or more; the shell copies the address into fixed buffers on its way to the
// browser. The same limit holds on every system, so both refuse the same.
inline constexpr std::size_t MAX_ADDRESS_UNITS = 2082;

// Why the address check refuses an address.
enum class AddressProblem {
    None,                // openable
    NotWebScheme,        // does not begin with "http://" or "https://" (letters in any case)
    NothingAfterScheme,  // the scheme is all there is
    Space,               // a byte 0x20
    ControlByte,         // a byte below 0x20, or 0x7F
    DoubleQuote,         // a byte 0x22
    TooLong,             // more than MAX_ADDRESS_UNITS UTF-16 units
};

struct AddressCheck {
    AddressProblem problem = AddressProblem::None;
    std::size_t offset = 0;  // byte offset of the first offending byte (TooLong: of the first unit over the limit)
};

// The address rule: "http://" or "https://" (letters in any case), at least
// one more byte, no byte below 0x21, no 0x7F, no double quote, and at most
// MAX_ADDRESS_UNITS UTF-16 units. Reports the first problem found.
AddressCheck checkAddress(std::string_view address);

// True when checkAddress finds no problem.
bool isOpenableAddress(std::string_view address);

// Opens a GB18030 address in the default browser when isOpenableAddress holds;
// otherwise does nothing. Does not wait for the browser.
void openAddress(std::string_view address);

namespace detail {
// The backend's action, called only with addresses that passed the check.
void shellOpen(std::string_view checkedAddress);
}  // namespace detail

}  // namespace platform
