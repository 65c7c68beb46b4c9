// printf-style formatting into a std::string, for the host commands'
// messages.
#pragma once
#include <cstdarg>
#include <cstdio>
#include <string>

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

inline std::string Format(const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  va_list again;
  va_copy(again, ap);
  int length = std::vsnprintf(nullptr, 0, format, ap);
  va_end(ap);
  std::string text(length > 0 ? (size_t)length : 0, '\0');
  if (length > 0) std::vsnprintf(text.data(), text.size() + 1, format, again);
  va_end(again);
  return text;
}
