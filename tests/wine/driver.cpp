// Test driver for the updater under Wine: a console program, run in the same
// Wine prefix as the updater, that looks at and pokes the updater's window the
// way a user and the system would. Prints one JSON object on standard output;
// texts are escaped to ASCII so that no code page stands between it and the test.
//
//   driver wait (window|visible|opaque|gone) TIMEOUT_MS   state once the condition holds (exit 1 if it never does)
//   driver state                                          the window and its controls
//   driver trace (opaque|gone) TIMEOUT_MS                 the opacities seen, sampled every millisecond, from the
//                                                         window's appearance until it is visible and opaque, or
//                                                         gone, or the time is up
//   driver click CONTROL_ID                               BM_CLICK on a button
//   driver keys (tab|space|return)...                     brings the window to the front and types the keys as a
//                                                         user would (SendInput); the focused control's id after each
//   driver close COUNT WAIT_MS                            as soon as the window exists (waiting up to WAIT_MS),
//                                                         posts WM_CLOSE COUNT times, back to back, then traces
//                                                         the opacities until the window is gone
//   driver get URL CONNECT_MS TOTAL_MS MAX_BYTES OUT_FILE platform::httpGet, the body written to OUT_FILE
#include <windows.h>
#include <shellapi.h>
#include <timeapi.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/http.h"

namespace {

constexpr wchar_t WINDOW_CLASS[] = L"TessmoorUpdaterWindow";

std::string json(const std::wstring& text) {
    std::string out = "\"";
    for (wchar_t c : text) {
        if (c == L'"' || c == L'\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
            out += escape;
        }
    }
    return out + "\"";
}

std::string json(const RECT& r) {
    // Appended piece by piece: GCC 12 at -O3 takes `"[" + std::to_string(...)`
    // for an overlapping copy (a false -Wrestrict, its bug 105329).
    std::string out = "[";
    for (LONG value : {r.left, r.top, r.right - r.left, r.bottom - r.top}) {
        if (out.size() > 1) out += ", ";
        out += std::to_string(value);
    }
    return out + "]";
}

std::wstring windowText(HWND window) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

std::wstring className(HWND window) {
    wchar_t name[256] = {};
    GetClassNameW(window, name, 256);
    return name;
}

HWND findWindow() { return FindWindowW(WINDOW_CLASS, nullptr); }

// -1 when the window is not layered or its alpha is unset.
int alphaOf(HWND window) {
    BYTE alpha = 0;
    DWORD flags = 0;
    if (!GetLayeredWindowAttributes(window, nullptr, &alpha, &flags) || !(flags & LWA_ALPHA)) return -1;
    return alpha;
}

std::string stateJson(HWND window) {
    if (!window) return "{\"window\": null}";
    RECT outer;
    GetWindowRect(window, &outer);
    POINT origin{0, 0};
    ClientToScreen(window, &origin);
    const LONG style = GetWindowLongW(window, GWL_STYLE);
    const LONG exStyle = GetWindowLongW(window, GWL_EXSTYLE);
    std::string out = "{\"window\": {\"title\": " + json(windowText(window)) + ", \"rect\": " + json(outer) +
                      ", \"client_origin\": [" + std::to_string(origin.x) + ", " + std::to_string(origin.y) +
                      "], \"visible\": " + (IsWindowVisible(window) ? "true" : "false") +
                      ", \"layered\": " + ((exStyle & WS_EX_LAYERED) ? "true" : "false") +
                      ", \"resizable\": " + ((style & WS_THICKFRAME) ? "true" : "false") +
                      ", \"maximizable\": " + ((style & WS_MAXIMIZEBOX) ? "true" : "false") +
                      ", \"alpha\": " + std::to_string(alphaOf(window)) + "}, \"controls\": [";
    bool first = true;
    for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        RECT r;
        GetWindowRect(child, &r);
        MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&r), 2);
        out += std::string(first ? "" : ", ") + "{\"id\": " + std::to_string(GetDlgCtrlID(child)) +
               ", \"class\": " + json(className(child)) + ", \"text\": " + json(windowText(child)) +
               ", \"rect\": " + json(r) + ", \"enabled\": " + (IsWindowEnabled(child) ? "true" : "false") +
               ", \"visible\": " + (IsWindowVisible(child) ? "true" : "false") + "}";
        first = false;
    }
    return out + "]}";
}

void print(const std::string& line) {
    std::fputs(line.c_str(), stdout);
    std::fputs("\n", stdout);
    std::fflush(stdout);
}

using Clock = std::chrono::steady_clock;

bool holds(const std::wstring& condition, HWND window) {
    if (condition == L"gone") return window == nullptr;
    if (!window) return false;
    if (condition == L"window") return true;
    if (condition == L"visible") return IsWindowVisible(window);
    if (condition == L"opaque") return IsWindowVisible(window) && alphaOf(window) == 255;
    return false;
}

int wait(const std::wstring& condition, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        HWND window = findWindow();
        if (holds(condition, window)) {
            print(stateJson(window));
            return 0;
        }
        if (Clock::now() >= deadline) {
            print(stateJson(window));
            return 1;
        }
        Sleep(2);
    }
}

// Successive distinct opacities, as often as the scheduler lets us look: from
// the window's appearance until it is visible and opaque, or until it is gone.
std::string traceJson(const std::wstring& until, int timeoutMs) {
    timeBeginPeriod(1);
    const auto start = Clock::now();
    const auto deadline = start + std::chrono::milliseconds(timeoutMs);
    std::vector<int> seen;
    bool appeared = false;
    bool gone = false;
    while (Clock::now() < deadline) {
        HWND window = findWindow();
        if (!window && (appeared || until == L"gone")) {
            gone = true;
            break;
        }
        if (window) {
            appeared = true;
            const int alpha = alphaOf(window);
            if (seen.empty() || seen.back() != alpha) seen.push_back(alpha);
            if (until == L"opaque" && alpha == 255 && IsWindowVisible(window)) break;
        }
        Sleep(1);
    }
    timeEndPeriod(1);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    std::string out = "{\"alphas\": [";
    for (std::size_t i = 0; i < seen.size(); ++i) out += (i ? ", " : "") + std::to_string(seen[i]);
    return out + "], \"gone\": " + (gone ? "true" : "false") + ", \"ms\": " + std::to_string(ms) + "}";
}

int clickButton(int id) {
    HWND window = findWindow();
    HWND button = window ? GetDlgItem(window, id) : nullptr;
    if (!button) return 1;
    DWORD_PTR result = 0;
    return SendMessageTimeoutW(button, BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, 5000, &result) ? 0 : 1;
}

// The control that has the keyboard focus in the window's thread, 0 for none.
int focusedId(HWND window) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info) || !info.hwndFocus) return 0;
    return GetDlgCtrlID(info.hwndFocus);
}

int typeKeys(const std::vector<std::wstring>& names) {
    HWND window = findWindow();
    if (!window) return 1;
    SetForegroundWindow(window);
    Sleep(200);
    std::string out = "{\"focus\": [";
    for (std::size_t i = 0; i < names.size(); ++i) {
        const WORD key = names[i] == L"tab" ? VK_TAB : names[i] == L"space" ? VK_SPACE : names[i] == L"return" ? VK_RETURN : 0;
        if (!key) return 2;
        INPUT input[2] = {};
        input[0].type = input[1].type = INPUT_KEYBOARD;
        input[0].ki.wVk = input[1].ki.wVk = key;
        input[1].ki.dwFlags = KEYEVENTF_KEYUP;
        if (SendInput(2, input, sizeof(INPUT)) != 2) return 1;
        Sleep(300);  // the updater's thread takes the keys from its queue
        out += (i ? ", " : "") + std::to_string(focusedId(window));
    }
    print(out + "]}");
    return 0;
}

int postClose(int count, int waitMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(waitMs);
    HWND window = findWindow();
    while (!window && Clock::now() < deadline) {
        Sleep(1);
        window = findWindow();
    }
    if (!window) return 1;
    const int alpha = alphaOf(window);
    for (int i = 0; i < count; ++i) PostMessageW(window, WM_CLOSE, 0, 0);
    // Followed from here, not by a second driver: the fade-out may be over
    // before another Wine program has started.
    print("{\"alpha_at_close\": " + std::to_string(alpha) + ", \"trace\": " + traceJson(L"gone", 30000) + "}");
    return 0;
}

std::string narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) out += static_cast<char>(c);  // addresses here are ASCII
    return out;
}

int get(const std::vector<std::wstring>& args) {
    platform::HttpLimits limits;
    limits.connectTimeout = std::chrono::milliseconds(std::stol(args[3]));
    limits.totalTimeout = std::chrono::milliseconds(std::stol(args[4]));
    limits.maxBodyBytes = std::stoull(args[5]);
    const auto start = Clock::now();
    const std::string body = platform::httpGet(narrow(args[2]), limits);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    std::ofstream(std::filesystem::path(args[6]), std::ios::binary).write(body.data(), static_cast<std::streamsize>(body.size()));
    print("{\"bytes\": " + std::to_string(body.size()) + ", \"ms\": " + std::to_string(ms) + "}");
    return 0;
}

// Positions and sizes in real pixels, whatever DPI Wine is set to.
void becomeDpiAware() {
    using SetContextFn = BOOL(WINAPI*)(HANDLE);
    const auto setContext = reinterpret_cast<SetContextFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "SetProcessDpiAwarenessContext")));
    const auto perMonitorAwareV2 = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-4));
    if (!setContext || !setContext(perMonitorAwareV2)) SetProcessDPIAware();
}

}  // namespace

int main() {
    becomeDpiAware();
    int count = 0;
    LPWSTR* raw = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::wstring> args(raw, raw + count);
    LocalFree(raw);
    if (args.size() < 2) return 2;
    const std::wstring& command = args[1];
    try {
        if (command == L"wait" && args.size() == 4) return wait(args[2], std::stoi(args[3]));
        if (command == L"state") return print(stateJson(findWindow())), 0;
        if (command == L"trace" && args.size() == 4) return print(traceJson(args[2], std::stoi(args[3]))), 0;
        if (command == L"click" && args.size() == 3) return clickButton(std::stoi(args[2]));
        if (command == L"keys" && args.size() >= 3) return typeKeys({args.begin() + 2, args.end()});
        if (command == L"close" && args.size() == 4) return postClose(std::stoi(args[2]), std::stoi(args[3]));
        if (command == L"get" && args.size() == 7) return get(args);
    } catch (const std::exception&) {
        return 2;
    }
    return 2;
}
