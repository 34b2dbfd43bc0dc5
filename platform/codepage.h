#pragma once
// Code page 936 (GBK) conversion. Core texts are GBK byte strings; the service speaks UTF-8,
// the screen, the terminal and the file system want UTF-8.
#include <string>
#include <string_view>

// A text in UTF-8, as the service writes it. Every other core text is a GBK std::string; a UTF-8 text
// has a type of its own so that handing one over where GBK is expected does not compile.
struct Utf8Text {
    std::string bytes;
};

// Converts UTF-8 to GBK. A character GBK cannot hold becomes "?", and so does every byte that is not
// part of a valid UTF-8 sequence (one "?" per byte).
void Utf8ToGbk(std::string source, std::string& destination);
std::string Utf8ToGbk(std::string_view source);
inline std::string Utf8ToGbk(const Utf8Text& source) {
    return Utf8ToGbk(std::string_view(source.bytes));
}

// Converts GBK to UTF-8; every byte that is not part of a valid GBK character becomes "?".
std::string GbkToUtf8(std::string_view source);

// A fixed GBK text written as UTF-8 in the source, converted once and kept for the process.
#define GBK(utf8)                                             \
    ([]() -> const std::string& {                             \
        static const std::string converted = Utf8ToGbk(utf8); \
        return converted;                                     \
    }())
