// What mail needs of the operating system: local time with its offset, the user's date and time
// formats, charset conversion, the system language and the host name. One implementation per
// platform under mail/platform/, chosen in CMake.
#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace dv {

struct LocalTime {
  std::tm fields{};
  long utcOffsetSeconds = 0;  // east of UTC positive, daylight saving included
};

LocalTime ToLocalTime(std::time_t when);

// `fields` formatted with a strftime format in the user's own date and time formats; in the C
// locale's when the user's locale is not available.
std::string FormatUserTime(const std::tm& fields, const char* format);

// UTF-8 text in `charset`, the shift state closed at the end; nothing when any character has no
// exact counterpart or the charset is unknown.
std::optional<std::string> ConvertFromUtf8(std::string_view text, const std::string& charset);

// The system language as a locale name ("ja_JP.UTF-8", "de_DE", ...); empty when none is set.
std::string SystemLanguage();

// This machine's host name; "localhost" when it has none.
std::string LocalHostName();

}  // namespace dv
