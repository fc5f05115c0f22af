// Every Chinese literal of the program is written as GB18030 byte escapes.
// Each row converts one back to UTF-8 with iconv and compares it with the same
// text written in UTF-8, so a typo in an escape fails here. Add a row for every
// new literal.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "app/updater_window.h"
#include "platform/encoding.h"
#include "release/release_page_reader.h"
#include "release/text_ops.h"

namespace {

struct Literal {
    const char* name;
    std::string_view gb18030;  // as the program holds it
    std::string_view utf8;     // the same text as a person writes it
};

std::string_view captionOf(std::string_view control) {
    for (const platform::ControlSpec& spec : app::UPDATER_WINDOW_CONTROLS)
        if (spec.name == control) return spec.caption;
    return {};
}

const std::vector<Literal> LITERALS = {
    {"LINK_SENTINEL", release::LINK_SENTINEL, "后文本"},
    {"QUOTE_PLACEHOLDER", release::QUOTE_PLACEHOLDER, "#引号"},
    {"WindowTitle", app::UPDATER_WINDOW.caption, "Tessmoor更新程序_Halvani专版"},
    {"LabelFace", app::LABEL_FACE, "微软雅黑"},
    {"NameTransparentLabel1", app::TRANSPARENT_LABEL_1, "透明标签1"},
    {"NameVersion", app::VERSION_LABEL, "版本"},
    {"NameButton2", app::BUTTON_2, "按钮2"},
    {"NameButton1", app::BUTTON_1, "按钮1"},
    {"NameTransparentLabel3", app::TRANSPARENT_LABEL_3, "透明标签3"},
    {"CaptionTransparentLabel1", captionOf(app::TRANSPARENT_LABEL_1), "当前最新版本："},
    {"CaptionVersion", captionOf(app::VERSION_LABEL), "版本"},
    // The names and captions of the two buttons cross.
    {"CaptionButton2", captionOf(app::BUTTON_2), "下载1"},
    {"CaptionButton1", captionOf(app::BUTTON_1), "下载2"},
    {"CaptionTransparentLabel3", captionOf(app::TRANSPARENT_LABEL_3), "如果下载1无效就换下载2"},
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
