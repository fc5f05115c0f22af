// The updater window: its definition, its event handlers, the fades and the
// close sequence, and the program's start-up.
#pragma once

#include <chrono>
#include <optional>
#include <string_view>

#include "platform/gui.h"
#include "release/release_page_reader.h"

namespace app {

// Control names, as the window definition has them. The buttons' names and
// captions cross: 按钮2 carries "下载1" and opens the first download address,
// 按钮1 carries "下载2" and opens the second.
inline constexpr std::string_view TRANSPARENT_LABEL_1 = "\xCD\xB8\xC3\xF7\xB1\xEA\xC7\xA9" "1";  // 透明标签1
inline constexpr std::string_view VERSION_LABEL = "\xB0\xE6\xB1\xBE";                          // 版本
inline constexpr std::string_view BUTTON_2 = "\xB0\xB4\xC5\xA5" "2";                             // 按钮2
inline constexpr std::string_view BUTTON_1 = "\xB0\xB4\xC5\xA5" "1";                             // 按钮1
inline constexpr std::string_view TRANSPARENT_LABEL_3 = "\xCD\xB8\xC3\xF7\xB1\xEA\xC7\xA9" "3";  // 透明标签3

inline constexpr std::string_view LABEL_FACE = "\xCE\xA2\xC8\xED\xD1\xC5\xBA\xDA";  // 微软雅黑
inline constexpr platform::Rgb LABEL_COLOUR{138, 219, 83};

using enum platform::ControlKind;
using platform::FontSpec;

// Listed in the order they are created. Places are in the client area;
// font sizes are character heights in pixels.
// clang-format off
inline constexpr platform::ControlSpec UPDATER_WINDOW_CONTROLS[] = {
    // kind            name                  left, top, width × height
    {TransparentLabel, TRANSPARENT_LABEL_3,  {32, 144, 240, 32},
        "\xC8\xE7\xB9\xFB\xCF\xC2\xD4\xD8" "1" "\xCE\xDE\xD0\xA7\xBE\xCD\xBB\xBB\xCF\xC2\xD4\xD8" "2",  // 如果下载1无效就换下载2
        FontSpec{LABEL_FACE, 19, 700}, LABEL_COLOUR},
    {PushButton,       BUTTON_2,             {72, 96, 48, 40},
        "\xCF\xC2\xD4\xD8" "1",  // 下载1
        std::nullopt, std::nullopt},
    {PushButton,       BUTTON_1,             {176, 96, 48, 40},
        "\xCF\xC2\xD4\xD8" "2",  // 下载2
        std::nullopt, std::nullopt},
    {TransparentLabel, VERSION_LABEL,        {128, 32, 72, 32},
        VERSION_LABEL,  // 版本, until onCreated shows the version
        FontSpec{LABEL_FACE, 16, 700}, LABEL_COLOUR},
    {TransparentLabel, TRANSPARENT_LABEL_1,  {32, 32, 96, 32},
        "\xB5\xB1\xC7\xB0\xD7\xEE\xD0\xC2\xB0\xE6\xB1\xBE\xA3\xBA",  // 当前最新版本：
        FontSpec{LABEL_FACE, 14, 400}, LABEL_COLOUR},
};
// clang-format on

inline constexpr platform::WindowSpec UPDATER_WINDOW{
    "Tessmoor\xB8\xFC\xD0\xC2\xB3\xCC\xD0\xF2_Halvani\xD7\xA8\xB0\xE6",  // Tessmoor更新程序_Halvani专版
    {50, 50, 316, 219},
    UPDATER_WINDOW_CONTROLS,
};

inline constexpr int FADE_STEPS = 255;
inline constexpr std::chrono::milliseconds FADE_STEP_DELAY{1};

// The only window. It owns what the release page gave for the whole run.
struct UpdaterWindow {
    release::ReleaseInfo releaseInfo;
};

// Created event: starts the fade-in, reads the release page, shows the version.
void onCreated(UpdaterWindow& window);
// 按钮2 ("下载1") and 按钮1 ("下载2"): hand an address to the browser.
void onDownload1Clicked(const UpdaterWindow& window);
void onDownload2Clicked(const UpdaterWindow& window);
// Close requested: starts a fade-out and refuses the close (returns false).
bool onCloseRequested();

// Thread routines: opacity 1 up to 255, and 254 down to 0 then the end of the program.
void fadeIn();
void fadeOutAndExit();

// Binds the window's events to the handlers above.
platform::WindowEvents updaterWindowEvents(UpdaterWindow& window);

// Start-up: creates the window and runs it until the program ends; returns the exit code.
int runUpdaterWindow();

}  // namespace app
