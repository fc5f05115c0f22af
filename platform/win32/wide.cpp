#include "platform/win32/wide.h"

#include <cstring>

#include "platform/encoding.h"

namespace platform::win32 {

// Through iconv, not MultiByteToWideChar: code page 936 is not GB18030, and
// the same converter on both systems keeps their texts identical.
std::wstring widen(std::string_view gb18030) {
    const std::string utf16 = convertEncoding(gb18030, "GB18030", "UTF-16LE").bytes;
    std::wstring wide(utf16.size() / sizeof(wchar_t), L'\0');
    std::memcpy(wide.data(), utf16.data(), wide.size() * sizeof(wchar_t));
    return wide;
}

}  // namespace platform::win32
