#pragma once
// Windows only: the program's UTF-8 text and the UTF-16 of Windows' wide functions.
#include <string>
#include <string_view>

namespace orv {

// False for text that is not UTF-8 or that holds a NUL, which no wide name or path can carry.
bool ToWide(std::string_view text, std::wstring& out);

// A path for Windows' wide file functions, as ToWide: one of MAX_PATH characters or more is
// made absolute in the \\?\ form, which lifts that limit whether or not the system lets long
// paths through (the manifest's longPathAware counts only where a policy allows them).
bool ToWidePath(std::string_view path, std::wstring& out);

// For text that is only shown: bytes that are not UTF-8 show as U+FFFD rather than vanishing.
std::wstring WideText(std::string_view text);

// Unpaired surrogates become U+FFFD.
std::string ToUtf8(std::wstring_view text);

} // namespace orv
