// Fuzzes the address check in front of the shell action (platform/shell.cpp):
// nothing that passes may begin with anything but "http://" or "https://"
// (letters in any case), hold a byte the rule forbids or run over the length
// limit, and the check must agree with a plain reference of the address rule.
// The problem that checkAddress reports must agree with isOpenableAddress and
// point at a byte that shows it; the reference's length, where iconv takes the
// address, is the one UTF-16 gives. openAddress is run too, with the backend
// action replaced by a recorder.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/encoding.h"
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

// UTF-16 units of a GB18030 text: four-byte characters (a lead byte from 0x81,
// a digit second) from lead byte 0x90 on are beyond the BMP. A stray 0x80,
// which leads nothing, counts like the start of a two-byte character.
std::size_t utf16Units(std::string_view text) {
    std::size_t units = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        const auto b = static_cast<unsigned char>(text[i]);
        if (b < 0x80) {
            units += 1;
            i += 1;
        } else if (b >= 0x81 && i + 1 < text.size() && text[i + 1] >= '0' && text[i + 1] <= '9') {
            units += b >= 0x90 ? 2 : 1;
            i += 4;
        } else {
            // FE51 FE52 FE53 FE6C FE76 FE91: CJK characters beyond the BMP.
            const auto trail = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
            const bool beyond = b == 0xFE && (trail == 0x51 || trail == 0x52 || trail == 0x53 || trail == 0x6C ||
                                              trail == 0x76 || trail == 0x91);
            units += beyond ? 2 : 1;
            i += 2;
        }
    }
    return units;
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
    return utf16Units(address) <= platform::MAX_ADDRESS_UNITS;
}

}  // namespace

// The backend's action, recorded instead of spawning a browser.
void platform::detail::shellOpen(std::string_view checkedAddress) { opened = std::string(checkedAddress); }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view address(reinterpret_cast<const char*>(data), size);
    const bool passes = platform::isOpenableAddress(address);
    FUZZ_CHECK(passes == referenceOpenable(address));

    const platform::AddressCheck check = platform::checkAddress(address);
    FUZZ_CHECK((check.problem == platform::AddressProblem::None) == passes);
    FUZZ_CHECK(check.offset <= address.size());
    switch (check.problem) {
        case platform::AddressProblem::Space: FUZZ_CHECK(address[check.offset] == ' '); break;
        case platform::AddressProblem::DoubleQuote: FUZZ_CHECK(address[check.offset] == '"'); break;
        case platform::AddressProblem::ControlByte:
            FUZZ_CHECK(forbidden(address[check.offset]) && address[check.offset] != ' ' &&
                       address[check.offset] != '"');
            break;
        case platform::AddressProblem::TooLong:
            // The units before the offset fit; the one that starts there does not.
            FUZZ_CHECK(utf16Units(address.substr(0, check.offset)) <= platform::MAX_ADDRESS_UNITS);
            FUZZ_CHECK(utf16Units(address) > platform::MAX_ADDRESS_UNITS);
            break;
        default: break;
    }
    if (check.problem == platform::AddressProblem::Space || check.problem == platform::AddressProblem::DoubleQuote ||
        check.problem == platform::AddressProblem::ControlByte) {
        for (std::size_t i = 0; i < check.offset; ++i) FUZZ_CHECK(!forbidden(address[i]));  // the first one
    }

    // Where iconv takes the address, the reference counts what Windows gets.
    const platform::Conversion utf16 = platform::convertEncoding(address, "GB18030", "UTF-16LE");
    if (utf16.ok) FUZZ_CHECK(utf16.bytes.size() / 2 == utf16Units(address));
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
