#pragma once
// printf-style formatting and whole-text replacement on byte strings.
#include <string>
#include <string_view>

// Formats like printf into a string.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Replaces every occurrence of `from`, scanned left to right without overlaps; inserted text is not
// scanned again.
void ReplaceAll(std::string& text, std::string_view from, std::string_view to);

// The system's text for an errno value, in GBK (the C library writes it in the locale's encoding,
// UTF-8 here).
std::string SystemErrorText(int error);
