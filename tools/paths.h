// Command-line text and the library's UTF-16 paths: arguments arrive in the system's
// character set (the ANSI code page on Windows, the locale's on Linux) and go back out in it.
#pragma once
#include <string>

namespace tool {

std::u16string Wide(const std::string& text);
std::string Narrow(const char16_t* text);
// A path of the library's (backslash form) as the system's users write it.
std::string ShownPath(const char16_t* path);

}  // namespace tool
