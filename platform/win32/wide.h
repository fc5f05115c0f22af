// GB18030 texts at the Win32 boundary: every W function takes UTF-16.
#pragma once

#include <string>
#include <string_view>

namespace platform::win32 {

// The UTF-16 form of a GB18030 text; empty when it does not convert.
std::wstring widen(std::string_view gb18030);

}  // namespace platform::win32
