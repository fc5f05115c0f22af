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

}  // namespace

bool isOpenableAddress(std::string_view address) {
    std::string_view rest;
    if (startsWithIgnoringCase(address, "http://"))
        rest = address.substr(7);
    else if (startsWithIgnoringCase(address, "https://"))
        rest = address.substr(8);
    else
        return false;
    // No spaces, control bytes or quotes: the address must stay one argument
    // whatever the shell or browser launcher does with it.
    return !rest.empty() && std::none_of(address.begin(), address.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x21 || byte == 0x7F || byte == '"';
    });
}

void openAddress(std::string_view address) {
    if (isOpenableAddress(address)) detail::shellOpen(address);
}

}  // namespace platform
