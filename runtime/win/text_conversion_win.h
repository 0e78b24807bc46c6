// ANSI (the system code page) and UTF-16 text. The system keeps 8-bit strings
// everywhere; the few wide calls (shell interfaces, short path names) convert
// at the call.
#pragma once

#include <string>
#include <string_view>

namespace vellum::win {

std::wstring WideFromAnsi(std::string_view text);
std::string AnsiFromWide(std::wstring_view text);

}  // namespace vellum::win
