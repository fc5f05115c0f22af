// The GUI platform: one top-level window with transparent labels and push
// buttons, described as data. The backend knows nothing about which window.
//
// Texts (captions, names, font faces) are GB18030; the backend converts them at
// the operating-system call. Everything here runs on the interface thread except
// setWindowOpacity and endProgram, which any thread may call.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string_view>

namespace platform {

struct Rect {
    int left;
    int top;
    int width;
    int height;
};

struct Rgb {
    std::uint8_t red;
    std::uint8_t green;
    std::uint8_t blue;
};

struct FontSpec {
    std::string_view face;  // asked for first; the backend may fall back to a face it has
    int pixelHeight;        // character height (not cell height), in pixels
    int weight;             // 400 normal, 700 bold
};

enum class ControlKind {
    TransparentLabel,  // draws only its text, over whatever lies behind it
    PushButton,
};

struct ControlSpec {
    ControlKind kind;
    std::string_view name;
    Rect place;  // in the window's client area
    std::string_view caption;
    std::optional<FontSpec> font;    // platform default when empty
    std::optional<Rgb> textColour;   // platform default when empty
};

struct WindowSpec {
    std::string_view caption;
    Rect place;  // on the screen
    std::span<const ControlSpec> controls;  // created in this order
};

struct WindowEvents {
    // Once, after the window and all its controls exist and before it is first shown.
    std::function<void()> created;
    // Return false to refuse the close; the window then stays as it is.
    std::function<bool()> closeRequested;
    std::function<void(std::string_view controlName)> clicked;
};

// Starts the platform, creates the window (initially fully transparent), runs
// events.created, shows the window and dispatches events until endProgram is
// called. Returns the exit code given to endProgram, after the window is gone.
int runWindow(const WindowSpec& spec, const WindowEvents& events);

// Replaces a control's caption. Interface thread only.
void setCaption(std::string_view controlName, std::string_view caption);

// Any thread. 0 is invisible, 255 opaque; values outside 0..255 are applied as
// 255. The last setting wins; without a window (not yet made, or gone) nothing happens.
void setWindowOpacity(int alpha);

// Any thread. Asks the interface thread to leave its loop; runWindow then
// returns exitCode. Returns at once.
void endProgram(int exitCode);

}  // namespace platform
