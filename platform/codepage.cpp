#include "platform/codepage.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <memory>

namespace {

// Length of the valid UTF-8 sequence starting at s[i], or 0 when the byte there does not start one.
size_t Utf8SequenceLength(std::string_view s, size_t i) {
    const auto b = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = b(i);
    if (c < 0x80) return 1;
    const auto cont = [&](size_t k) { return k < s.size() && (b(k) & 0xC0) == 0x80; };
    if (c >= 0xC2 && c <= 0xDF) return cont(i + 1) ? 2 : 0;
    if (c >= 0xE0 && c <= 0xEF) {
        if (!cont(i + 1) || !cont(i + 2)) return 0;
        const unsigned char c1 = b(i + 1);
        if (c == 0xE0 && c1 < 0xA0) return 0;   // overlong
        if (c == 0xED && c1 >= 0xA0) return 0;  // surrogate
        return 3;
    }
    if (c >= 0xF0 && c <= 0xF4) {
        if (!cont(i + 1) || !cont(i + 2) || !cont(i + 3)) return 0;
        const unsigned char c1 = b(i + 1);
        if (c == 0xF0 && c1 < 0x90) return 0;   // overlong
        if (c == 0xF4 && c1 >= 0x90) return 0;  // above U+10FFFF
        return 4;
    }
    return 0;
}

// Length of the GBK character starting at s[i], or 0 when the bytes there do not form one.
size_t GbkSequenceLength(std::string_view s, size_t i) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) return 1;
    if (c == 0x80) return 1;  // the euro sign of code page 936
    if (c == 0xFF || i + 1 >= s.size()) return 0;
    const unsigned char t = static_cast<unsigned char>(s[i + 1]);
    return (t >= 0x40 && t <= 0xFE && t != 0x7F) ? 2 : 0;
}

struct IconvDeleter {
    void operator()(void* cd) const { iconv_close(static_cast<iconv_t>(cd)); }
};

// One converter per thread and direction: iconv_open is far slower than a conversion.
iconv_t Converter(const char* to, const char* from, std::unique_ptr<void, IconvDeleter>& slot) {
    if (!slot) slot.reset(iconv_open(to, from));
    return static_cast<iconv_t>(slot.get());
}

// Converts valid text in one pass; a character the target cannot hold becomes "?". `length` tells the
// length of the character starting at a position of the source.
template <typename Length>
void ConvertRun(iconv_t cd, std::string_view source, Length length, std::string& out) {
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        out.append(source.size(), '?');
        return;
    }
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char* in = const_cast<char*>(source.data());
    size_t inLeft = source.size();
    while (inLeft > 0) {
        char buffer[4096];
        char* outPtr = buffer;
        size_t outLeft = sizeof buffer;
        const size_t result = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        out.append(buffer, outPtr - buffer);
        if (result == static_cast<size_t>(-1) && errno != E2BIG) {
            // Unconvertible (or, defensively, incomplete): mark it and go on after it.
            const size_t skip =
                std::max<size_t>(1, std::min(inLeft, length(std::string_view(in, inLeft), 0)));
            out += '?';
            in += skip;
            inLeft -= skip;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
        }
    }
}

// Replaces every byte that does not start a valid sequence with "?", so iconv meets only valid text.
template <typename Length>
std::string Sanitized(std::string_view source, Length length) {
    std::string clean;
    clean.reserve(source.size());
    for (size_t i = 0; i < source.size();) {
        const size_t n = length(source, i);
        if (n == 0) {
            clean += '?';
            ++i;
        } else {
            clean.append(source.substr(i, n));
            i += n;
        }
    }
    return clean;
}

bool IsAscii(std::string_view s) {
    for (const char c : s) {
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    }
    return true;
}

}  // namespace

std::string Utf8ToGbk(std::string_view source) {
    if (IsAscii(source)) return std::string(source);
    thread_local std::unique_ptr<void, IconvDeleter> slot;
    std::string out;
    out.reserve(source.size());
    ConvertRun(Converter("CP936", "UTF-8", slot), Sanitized(source, Utf8SequenceLength), Utf8SequenceLength,
               out);
    return out;
}

void Utf8ToGbk(std::string source, std::string& destination) {
    destination = Utf8ToGbk(std::string_view(source));
}

std::string GbkToUtf8(std::string_view source) {
    if (IsAscii(source)) return std::string(source);
    thread_local std::unique_ptr<void, IconvDeleter> slot;
    std::string out;
    out.reserve(source.size() + source.size() / 2);
    ConvertRun(Converter("UTF-8", "CP936", slot), Sanitized(source, GbkSequenceLength), GbkSequenceLength,
               out);
    return out;
}
