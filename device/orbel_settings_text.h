// orbel_settings_text.h: how the device's option values read and write as
// texts, in the settings file and in the saved scene.
//
// Private to the device library. Pure functions; any thread.
//
// Writing: a boolean is "1" or "0"; an integer is its decimal value with a
// leading '-' when negative and no blanks or leading zeros.
// Reading (the C runtime's atoi rule): leading white space is skipped, then
// an optional sign, then decimal digits up to the first other character; a
// text without digits (or null) reads as 0. Unlike atoi, a number beyond the
// 32-bit range is not undefined: it reads as the nearest end of the range.
#pragma once

#include <string>

namespace orbel {
namespace settings {

int ParseInteger(const char* text) noexcept;
// ParseInteger(text) != 0.
bool ParseBoolean(const char* text) noexcept;

std::string FormatInteger(int value);
const char* FormatBoolean(bool value) noexcept;

}  // namespace settings
}  // namespace orbel
