// Fuzzes the address check in front of the shell action (platform/shell.cpp):
// nothing that passes may begin with anything but "http://" or "https://"
// (letters in any case) or hold a byte the rule forbids, and the check must
// agree with a plain reference of the address rule. openAddress is
// run too, with the backend action replaced by a recorder.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/shell.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

std::optional<std::string> opened;

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool startsWithFolded(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (lower(text[i]) != prefix[i]) return false;
    return true;
}

bool forbidden(char c) {
    const auto b = static_cast<unsigned char>(c);
    return b < 0x21 || b == 0x7F || b == '"';
}

bool referenceOpenable(std::string_view address) {
    std::size_t schemeLength = 0;
    if (startsWithFolded(address, "http://"))
        schemeLength = 7;
    else if (startsWithFolded(address, "https://"))
        schemeLength = 8;
    else
        return false;
    if (address.size() == schemeLength) return false;
    for (char c : address)
        if (forbidden(c)) return false;
    return true;
}

}  // namespace

// The backend's action, recorded instead of spawning a browser.
void platform::detail::shellOpen(std::string_view checkedAddress) { opened = std::string(checkedAddress); }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view address(reinterpret_cast<const char*>(data), size);
    const bool passes = platform::isOpenableAddress(address);
    FUZZ_CHECK(passes == referenceOpenable(address));
    if (passes) {
        const bool http = startsWithFolded(address, "http://") && address.size() > 7;
        const bool https = startsWithFolded(address, "https://") && address.size() > 8;
        FUZZ_CHECK(http || https);
        for (char c : address) FUZZ_CHECK(!forbidden(c));
    }
    opened.reset();
    platform::openAddress(address);
    FUZZ_CHECK(opened.has_value() == passes);
    if (opened) FUZZ_CHECK(*opened == address);
    return 0;
}
