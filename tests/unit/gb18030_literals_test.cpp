// Every Chinese literal of the program is written as GB18030 byte escapes.
// Each row converts one back to UTF-8 with iconv and compares it with the same
// text written in UTF-8, so a typo in an escape fails here. Add a row for every
// new literal (the window's captions and font faces included).
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "platform/encoding.h"
#include "release/release_page_reader.h"
#include "release/text_ops.h"

namespace {

struct Literal {
    const char* name;
    std::string_view gb18030;  // as the program holds it
    std::string_view utf8;     // the same text as a person writes it
};

const std::vector<Literal> LITERALS = {
    {"LINK_SENTINEL", release::LINK_SENTINEL, "后文本"},
    {"QUOTE_PLACEHOLDER", release::QUOTE_PLACEHOLDER, "#引号"},
};

class Gb18030LiteralTest : public testing::TestWithParam<Literal> {};

TEST_P(Gb18030LiteralTest, ConvertsBackToItsUtf8Text) {
    const Literal& literal = GetParam();
    const platform::Conversion back = platform::convertEncoding(literal.gb18030, "GB18030", "UTF-8");
    ASSERT_TRUE(back.ok) << "not valid GB18030 at byte " << back.errorOffset;
    EXPECT_EQ(back.bytes, literal.utf8);
}

TEST_P(Gb18030LiteralTest, Utf8TextConvertsToTheLiteral) {
    const Literal& literal = GetParam();
    EXPECT_EQ(platform::utf8ToGb18030(literal.utf8), literal.gb18030);
}

INSTANTIATE_TEST_SUITE_P(Literals, Gb18030LiteralTest, testing::ValuesIn(LITERALS),
                         [](const testing::TestParamInfo<Literal>& info) { return info.param.name; });

}  // namespace
