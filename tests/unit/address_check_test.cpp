// The address check in front of the shell action: the problem it reports, and
// that isOpenableAddress and openAddress follow it.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/encoding.h"
#include "platform/shell.h"

// The backend's action, recorded instead of starting a browser.
namespace {
std::optional<std::string> opened;
}
void platform::detail::shellOpen(std::string_view checkedAddress) { opened = std::string(checkedAddress); }

namespace {

using platform::AddressProblem;

const std::string HOST = "http://a.example/";  // 17 bytes

// An address of exactly `units` UTF-16 units: HOST, then `fill` repeated, then ASCII up to the count.
std::string addressOf(std::size_t units, const std::string& fill = "", std::size_t fillUnits = 1,
                      std::size_t times = 0) {
    std::string address = HOST;
    for (std::size_t i = 0; i < times; ++i) address += fill;
    return address + std::string(units - HOST.size() - times * fillUnits, 'x');
}

struct AddressCase {
    const char* name;
    std::string address;
    AddressProblem problem;
    std::size_t offset;
};

// GB18030: "中" is D6 D0 (one UTF-16 unit); U+20000 is 95 32 82 36 (two units,
// a surrogate pair); U+00E9 is 81 30 88 30 (four bytes, one unit).
const std::string ZHONG = "\xD6\xD0";
const std::string BEYOND_BMP = "\x95\x32\x82\x36";
const std::string FOUR_BYTE_BMP = "\x81\x30\x88\x30";
// FE51 is one of six two-byte codes for a character beyond the BMP (U+20087): two units.
const std::string TWO_BYTE_BEYOND_BMP = "\xFE\x51";

const AddressCase CASES[] = {
    {"Http", "http://a.example/x", AddressProblem::None, 0},
    {"HttpsInCapitals", "HTTPS://a.example/x", AddressProblem::None, 0},
    {"Chinese", HOST + ZHONG, AddressProblem::None, 0},
    {"Empty", "", AddressProblem::NotWebScheme, 0},
    {"File", "file:///etc/passwd", AddressProblem::NotWebScheme, 0},
    {"SchemeOnly", "https://", AddressProblem::NothingAfterScheme, 8},
    {"Space", "http://a.example/a b", AddressProblem::Space, 18},
    {"Tab", "http://a.example/\t", AddressProblem::ControlByte, 17},
    {"Delete", "http://a\x7F", AddressProblem::ControlByte, 8},
    {"DoubleQuote", "http://a\"", AddressProblem::DoubleQuote, 8},
    {"FirstForbiddenByteCounts", "http://a\" b", AddressProblem::DoubleQuote, 8},
    {"AtTheLimit", addressOf(2082), AddressProblem::None, 0},
    {"OneOver", addressOf(2083), AddressProblem::TooLong, 2082},
    {"TwoByteUnitsAtTheLimit", addressOf(2082, ZHONG, 1, 2000), AddressProblem::None, 0},
    {"TwoByteUnitsOneOver", addressOf(2083, ZHONG, 1, 2000), AddressProblem::TooLong, 17 + 4000 + 65},
    {"FourByteBmpUnitsAtTheLimit", addressOf(2082, FOUR_BYTE_BMP, 1, 1000), AddressProblem::None, 0},
    {"SurrogatePairsAtTheLimit", addressOf(2082, BEYOND_BMP, 2, 1000), AddressProblem::None, 0},
    {"TwoBytePairsAtTheLimit", addressOf(2082, TWO_BYTE_BEYOND_BMP, 2, 1000), AddressProblem::None, 0},
    {"TwoBytePairAcrossTheLimit", HOST + std::string(2064, 'x') + TWO_BYTE_BEYOND_BMP, AddressProblem::TooLong,
     17 + 2064},
    // The pair that would be units 2082 and 2083 is one unit too many.
    {"SurrogatePairAcrossTheLimit", HOST + std::string(2064, 'x') + BEYOND_BMP, AddressProblem::TooLong, 17 + 2064},
    {"ForbiddenByteReportedBeforeLength", addressOf(3000) + " ", AddressProblem::Space, 3000},
};

class AddressCheckTest : public testing::TestWithParam<AddressCase> {};

TEST_P(AddressCheckTest, ReportsTheFirstProblemAndOpensOnlyWithoutOne) {
    const AddressCase& c = GetParam();
    const platform::AddressCheck check = platform::checkAddress(c.address);
    EXPECT_EQ(check.problem, c.problem);
    EXPECT_EQ(check.offset, c.offset);
    const bool openable = c.problem == AddressProblem::None;
    EXPECT_EQ(platform::isOpenableAddress(c.address), openable);
    opened.reset();
    platform::openAddress(c.address);
    EXPECT_EQ(opened.has_value(), openable);
}

// The limit is the one Windows applies to the address once it is UTF-16.
TEST_P(AddressCheckTest, LengthIsCountedAsWindowsCountsIt) {
    const AddressCase& c = GetParam();
    const platform::Conversion utf16 = platform::convertEncoding(c.address, "GB18030", "UTF-16LE");
    ASSERT_TRUE(utf16.ok || c.address.empty());
    const bool tooLong = utf16.bytes.size() / 2 > platform::MAX_ADDRESS_UNITS;
    if (c.problem == AddressProblem::None || c.problem == AddressProblem::TooLong) {
        EXPECT_EQ(c.problem == AddressProblem::TooLong, tooLong);
    }
}

INSTANTIATE_TEST_SUITE_P(Addresses, AddressCheckTest, testing::ValuesIn(CASES),
                         [](const testing::TestParamInfo<AddressCase>& info) { return info.param.name; });

}  // namespace
