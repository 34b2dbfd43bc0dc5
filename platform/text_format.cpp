#include "platform/text_format.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "platform/codepage.h"

std::string Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string text;
    if (length > 0) {
        text.resize(static_cast<size_t>(length));
        std::vsnprintf(text.data(), text.size() + 1, format, args);
    }
    va_end(args);
    return text;
}

void ReplaceAll(std::string& text, std::string_view from, std::string_view to) {
    if (from.empty()) return;
    size_t pos = text.find(from);
    if (pos == std::string::npos) return;
    // Built in a buffer kept per thread and swapped in: templates are expanded a million times.
    thread_local std::string result;
    result.clear();
    size_t start = 0;
    for (; pos != std::string::npos; pos = text.find(from, start)) {
        result.append(text, start, pos - start);
        result.append(to);
        start = pos + from.size();
    }
    result.append(text, start, std::string::npos);
    text.swap(result);
}

std::string SystemErrorText(int error) {
    char buffer[256];
    // The GNU strerror_r returns its text, which need not be in the buffer.
    return Utf8ToGbk(strerror_r(error, buffer, sizeof buffer));
}
