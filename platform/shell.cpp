#include "platform/shell.h"

#include <algorithm>
#include <cctype>

namespace platform {
namespace {

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
           });
}

AddressProblem byteProblem(unsigned char byte) {
    if (byte == ' ') return AddressProblem::Space;
    if (byte < 0x20 || byte == 0x7F) return AddressProblem::ControlByte;
    if (byte == '"') return AddressProblem::DoubleQuote;
    return AddressProblem::None;
}

// Six two-byte codes, FE51 FE52 FE53 FE6C FE76 FE91, stand for CJK characters
// beyond the BMP in the converters we use (glibc, GNU libiconv): two UTF-16 units.
bool twoByteBeyondBmp(unsigned char lead, unsigned char trail) {
    return lead == 0xFE && (trail == 0x51 || trail == 0x52 || trail == 0x53 || trail == 0x6C || trail == 0x76 ||
                            trail == 0x91);
}

// The byte offset where the UTF-16 unit after the first `limit` ones begins,
// or npos when the GB18030 text has no more units than that. GB18030 has
// one-, two- and four-byte characters (the second byte of a four-byte one is
// a digit); four-byte ones from lead byte 0x90 on lie beyond the BMP and take
// two UTF-16 units, as do the six two-byte codes above. Checked after the byte
// rules, so only the length is counted here.
std::size_t offsetPastUnits(std::string_view text, std::size_t limit) {
    std::size_t units = 0;
    for (std::size_t at = 0; at < text.size();) {
        const auto lead = static_cast<unsigned char>(text[at]);
        const auto next = at + 1 < text.size() ? static_cast<unsigned char>(text[at + 1]) : 0;
        const bool fourBytes = lead >= 0x81 && next >= '0' && next <= '9';
        const std::size_t width = lead < 0x80 ? 1 : fourBytes ? 4 : 2;
        units += (fourBytes && lead >= 0x90) || (width == 2 && twoByteBeyondBmp(lead, next)) ? 2 : 1;
        if (units > limit) return at;
        at += width;
    }
    return std::string_view::npos;
}

}  // namespace

AddressCheck checkAddress(std::string_view address) {
    std::size_t schemeLength = 0;
    if (startsWithIgnoringCase(address, "http://"))
        schemeLength = 7;
    else if (startsWithIgnoringCase(address, "https://"))
        schemeLength = 8;
    else
        return {AddressProblem::NotWebScheme, 0};
    if (address.size() == schemeLength) return {AddressProblem::NothingAfterScheme, schemeLength};
    // No spaces, control bytes or quotes: the address must stay one argument
    // whatever the shell or browser launcher does with it.
    for (std::size_t i = 0; i < address.size(); ++i) {
        const AddressProblem problem = byteProblem(static_cast<unsigned char>(address[i]));
        if (problem != AddressProblem::None) return {problem, i};
    }
    const std::size_t over = offsetPastUnits(address, MAX_ADDRESS_UNITS);
    if (over != std::string_view::npos) return {AddressProblem::TooLong, over};
    return {};
}

bool isOpenableAddress(std::string_view address) { return checkAddress(address).problem == AddressProblem::None; }

void openAddress(std::string_view address) {
    if (isOpenableAddress(address)) detail::shellOpen(address);
}

}  // namespace platform
