// Utf8ToGbk and GbkToUtf8 on arbitrary bytes: valid output of bounded length, ASCII unchanged.
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "platform/codepage.h"

namespace {

bool IsValidUtf8(std::string_view s) {
    for (size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        size_t n = c < 0x80                   ? 1
                   : (c >= 0xC2 && c <= 0xDF) ? 2
                   : (c >= 0xE0 && c <= 0xEF) ? 3
                   : (c >= 0xF0 && c <= 0xF4) ? 4
                                              : 0;
        if (n == 0 || i + n > s.size()) return false;
        for (size_t k = 1; k < n; ++k) {
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        }
        i += n;
    }
    return true;
}

bool IsAscii(std::string_view s) {
    for (const char c : s) {
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);

    const std::string gbk = Utf8ToGbk(input);
    // Every character becomes at most two GBK bytes, every stray byte one "?".
    FUZZ_CHECK(gbk.size() <= input.size());
    std::string viaCopy;
    Utf8ToGbk(std::string(input), viaCopy);
    FUZZ_CHECK(viaCopy == gbk);

    const std::string utf8 = GbkToUtf8(input);
    FUZZ_CHECK(IsValidUtf8(utf8));
    // One GBK byte (0x80, the euro sign) can become three UTF-8 bytes.
    FUZZ_CHECK(utf8.size() <= input.size() * 3);

    if (IsAscii(input)) FUZZ_CHECK(gbk == input && utf8 == input);
    // Text that went through GBK once comes back unchanged.
    FUZZ_CHECK(Utf8ToGbk(GbkToUtf8(gbk)) == gbk);
    return 0;
}
