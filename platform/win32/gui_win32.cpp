#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include <atomic>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "platform/gui.h"
#include "platform/win32/wide.h"

namespace platform {
namespace {

constexpr wchar_t WINDOW_CLASS[] = L"TessmoorUpdaterWindow";
constexpr UINT WM_END_PROGRAM = WM_APP + 1;  // wParam: exit code
constexpr UINT WM_DPICHANGED_MESSAGE = 0x02E0;  // WM_DPICHANGED, newer than the headers' Windows 7 target
constexpr int FIRST_CONTROL_ID = 100;
constexpr int BASE_DPI = 96;

// What the Win32 API forces to be shared: the fade threads set the opacity and
// end the program from outside the interface thread, and look the window up
// afresh each time. Null while there is no window.
std::atomic<HWND> mainWindow{nullptr};
std::atomic<DWORD> interfaceThread{0};

struct GdiObjectDeleter {
    void operator()(HGDIOBJ object) const { DeleteObject(object); }
};
using Font = std::unique_ptr<std::remove_pointer_t<HFONT>, GdiObjectDeleter>;

struct ComApartment {
    ComApartment() : ok(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE))) {}
    ~ComApartment() {
        if (ok) CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
    bool ok;
};

struct Control {
    const ControlSpec* definition;
    HWND handle = nullptr;
    Font font;  // empty for the platform default
};

struct WindowState {
    const WindowSpec& definition;
    const WindowEvents& events;
    std::vector<Control> controls;
    Font defaultFont;  // the system's message font, for controls without a font of their own
    int dpi = BASE_DPI;
    bool ending = false;
    int exitCode = 0;
};

WindowState* stateOf(HWND window) { return reinterpret_cast<WindowState*>(GetWindowLongPtrW(window, GWLP_USERDATA)); }

int scale(int value, int dpi) { return MulDiv(value, dpi, BASE_DPI); }

// GetDpiForWindow and SystemParametersInfoForDpi exist from Windows 10 1607 on;
// before that every monitor has the system DPI.
int systemDpi() {
    HDC screen = GetDC(nullptr);
    const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : BASE_DPI;
    if (screen) ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : BASE_DPI;
}

template <typename Function>
Function user32Function(const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), name)));
}

int windowDpi(HWND window) {
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    static const auto getDpiForWindow = user32Function<GetDpiForWindowFn>("GetDpiForWindow");
    const UINT dpi = getDpiForWindow ? getDpiForWindow(window) : 0;
    return dpi > 0 ? static_cast<int>(dpi) : systemDpi();
}

Font messageFont(int dpi) {
    using ForDpiFn = BOOL(WINAPI*)(UINT, UINT, PVOID, UINT, UINT);
    static const auto forDpi = user32Function<ForDpiFn>("SystemParametersInfoForDpi");
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    if (forDpi && forDpi(SPI_GETNONCLIENTMETRICS, metrics.cbSize, &metrics, 0, static_cast<UINT>(dpi)))
        return Font(CreateFontIndirectW(&metrics.lfMessageFont));
    if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, metrics.cbSize, &metrics, 0)) return {};
    metrics.lfMessageFont.lfHeight = MulDiv(metrics.lfMessageFont.lfHeight, dpi, systemDpi());
    return Font(CreateFontIndirectW(&metrics.lfMessageFont));
}

// A negative height asks for the character height, not the cell height.
Font createFont(const FontSpec& font, int dpi) {
    const std::wstring face = win32::widen(font.face);
    return Font(CreateFontW(-scale(font.pixelHeight, dpi), 0, 0, 0, font.weight, FALSE, FALSE, FALSE, GB2312_CHARSET,
                            OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_DONTCARE,
                            face.c_str()));
}

RECT scaledWindowRect(const Rect& place, int dpi) {
    const int left = scale(place.left, dpi);
    const int top = scale(place.top, dpi);
    return {left, top, left + scale(place.width, dpi), top + scale(place.height, dpi)};
}

// Places every control and gives it the font for the window's current DPI.
// The fonts they had are deleted only once no control uses them any more.
void layOut(WindowState& state) {
    Font defaultFont = messageFont(state.dpi);
    std::vector<Font> previous;
    for (Control& control : state.controls) {
        const Rect& place = control.definition->place;
        Font font = control.definition->font ? createFont(*control.definition->font, state.dpi) : Font();
        SetWindowPos(control.handle, nullptr, scale(place.left, state.dpi), scale(place.top, state.dpi),
                     scale(place.width, state.dpi), scale(place.height, state.dpi), SWP_NOZORDER | SWP_NOACTIVATE);
        HFONT handle = font ? font.get() : defaultFont.get();
        SendMessageW(control.handle, WM_SETFONT, reinterpret_cast<WPARAM>(handle), TRUE);
        previous.push_back(std::exchange(control.font, std::move(font)));
    }
    previous.push_back(std::exchange(state.defaultFont, std::move(defaultFont)));
}

void createControls(HWND window, WindowState& state) {
    int id = FIRST_CONTROL_ID;
    for (const ControlSpec& definition : state.definition.controls) {
        const bool label = definition.kind == ControlKind::TransparentLabel;
        const DWORD style = WS_CHILD | WS_VISIBLE |
                            (label ? DWORD{SS_LEFTNOWORDWRAP | SS_NOPREFIX} : DWORD{WS_TABSTOP | BS_PUSHBUTTON});
        const std::wstring caption = win32::widen(definition.caption);
        HWND handle = CreateWindowExW(0, label ? L"STATIC" : L"BUTTON", caption.c_str(), style, 0, 0, 0, 0, window,
                                      reinterpret_cast<HMENU>(static_cast<INT_PTR>(id++)), GetModuleHandleW(nullptr),
                                      nullptr);
        state.controls.push_back(Control{&definition, handle, {}});
    }
    layOut(state);
}

const Control* controlByHandle(const WindowState& state, HWND handle) {
    for (const Control& control : state.controls)
        if (control.handle == handle) return &control;
    return nullptr;
}

// A transparent label paints only its text: the window's background shows
// through around it.
LRESULT paintLabel(const Control& control, HDC dc) {
    SetBkMode(dc, TRANSPARENT);
    if (control.definition->textColour) {
        const Rgb& colour = *control.definition->textColour;
        SetTextColor(dc, RGB(colour.red, colour.green, colour.blue));
    }
    return reinterpret_cast<LRESULT>(GetStockObject(NULL_BRUSH));
}

void endLoop(HWND window, WindowState& state, int exitCode) {
    if (state.ending) return;  // the first end wins
    state.ending = true;
    state.exitCode = exitCode;
    DestroyWindow(window);
}

LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    WindowState* state = stateOf(window);
    if (!state) return DefWindowProcW(window, message, wParam, lParam);

    switch (message) {
        case WM_CTLCOLORSTATIC: {
            const Control* control = controlByHandle(*state, reinterpret_cast<HWND>(lParam));
            if (control && control->definition->kind == ControlKind::TransparentLabel)
                return paintLabel(*control, reinterpret_cast<HDC>(wParam));
            break;
        }
        case WM_COMMAND:
            if (HIWORD(wParam) == BN_CLICKED) {
                const Control* control = controlByHandle(*state, reinterpret_cast<HWND>(lParam));
                if (control && control->definition->kind == ControlKind::PushButton && state->events.clicked)
                    state->events.clicked(control->definition->name);
                return 0;
            }
            break;
        case WM_CLOSE:
            if (state->events.closeRequested && !state->events.closeRequested()) return 0;
            endLoop(window, *state, 0);
            return 0;
        case WM_END_PROGRAM:
            endLoop(window, *state, static_cast<int>(wParam));
            return 0;
        case WM_DPICHANGED_MESSAGE: {
            // Laid out again at the new DPI rather than stretched, so text stays crisp.
            state->dpi = HIWORD(wParam);
            const auto* suggested = reinterpret_cast<const RECT*>(lParam);
            SetWindowPos(window, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                         suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
            layOut(*state);
            InvalidateRect(window, nullptr, TRUE);
            return 0;
        }
        case WM_DESTROY:
            mainWindow.store(nullptr);
            PostQuitMessage(state->exitCode);
            return 0;
        case WM_NCDESTROY:
            SetWindowLongPtrW(window, GWLP_USERDATA, 0);
            break;
        default:
            break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

bool registerWindowClass() {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = windowProcedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.hIcon = LoadIconW(windowClass.hInstance, MAKEINTRESOURCEW(1));
    windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = WINDOW_CLASS;
    return RegisterClassExW(&windowClass) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

HWND createWindow(WindowState& state) {
    const std::wstring caption = win32::widen(state.definition.caption);
    const Rect& place = state.definition.place;
    // Layered from the start and fully transparent until the fade-in raises it.
    // A fixed frame: no resizing, no maximising.
    HWND window = CreateWindowExW(WS_EX_LAYERED, WINDOW_CLASS, caption.c_str(),
                                  WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, place.left, place.top,
                                  place.width, place.height, nullptr, nullptr, GetModuleHandleW(nullptr), &state);
    if (!window) return nullptr;
    SetLayeredWindowAttributes(window, 0, 0, LWA_ALPHA);
    state.dpi = windowDpi(window);
    if (state.dpi != BASE_DPI) {
        const RECT scaled = scaledWindowRect(place, state.dpi);
        SetWindowPos(window, nullptr, scaled.left, scaled.top, scaled.right - scaled.left, scaled.bottom - scaled.top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
    }
    createControls(window, state);
    return window;
}

}  // namespace

int runWindow(const WindowSpec& definition, const WindowEvents& events) {
    interfaceThread.store(GetCurrentThreadId());
    const ComApartment com;  // the shell's open action may use COM
    INITCOMMONCONTROLSEX commonControls{sizeof commonControls, ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&commonControls);

    WindowState state{definition, events, {}, {}, BASE_DPI, false, 0};
    if (!registerWindowClass()) return 1;
    HWND window = createWindow(state);
    if (!window) return 1;
    mainWindow.store(window);

    if (events.created) events.created();
    ShowWindow(window, SW_SHOWNORMAL);
    UpdateWindow(window);

    MSG message;
    int exitCode = 0;
    for (;;) {
        const BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got == 0) {
            exitCode = static_cast<int>(message.wParam);
            break;
        }
        if (got == -1) break;
        // endProgram before the window existed, or after it was gone.
        if (message.hwnd == nullptr && message.message == WM_END_PROGRAM) {
            if (HWND current = mainWindow.load()) {
                SendMessageW(current, WM_END_PROGRAM, message.wParam, 0);
            } else {
                PostQuitMessage(static_cast<int>(message.wParam));
            }
            continue;
        }
        HWND current = mainWindow.load();
        if (current && IsDialogMessageW(current, &message)) continue;  // Tab between the buttons
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    interfaceThread.store(0);
    return exitCode;
}

void setCaption(std::string_view controlName, std::string_view caption) {
    HWND window = mainWindow.load();
    WindowState* state = window ? stateOf(window) : nullptr;
    if (!state) return;
    for (const Control& control : state->controls) {
        if (control.definition->name != controlName) continue;
        SetWindowTextW(control.handle, win32::widen(caption).c_str());
        // A transparent label does not erase its old text: repaint the window
        // behind it, then the label over that.
        RECT area;
        GetWindowRect(control.handle, &area);
        MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&area), 2);
        RedrawWindow(window, &area, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    }
}

void setWindowOpacity(int alpha) {
    const BYTE value = alpha >= 0 && alpha <= 255 ? static_cast<BYTE>(alpha) : 255;
    if (HWND window = mainWindow.load()) SetLayeredWindowAttributes(window, 0, value, LWA_ALPHA);
}

void endProgram(int exitCode) {
    if (HWND window = mainWindow.load(); window && PostMessageW(window, WM_END_PROGRAM, exitCode, 0)) return;
    if (DWORD thread = interfaceThread.load()) PostThreadMessageW(thread, WM_END_PROGRAM, exitCode, 0);
}

}  // namespace platform
