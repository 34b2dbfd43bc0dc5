#include "catalogue/zorbi_service.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>

#include "net/percent_encode.h"

namespace {

// Every byte: the unreserved ones stay, every other one becomes %XX in upper-case hex, as the service
// compares request values byte for byte.
TEST(PercentEncodeTest, EveryByteOutsideTheUnreservedSetIsEscaped) {
    std::string all;
    for (int c = 0; c < 256; ++c) all += static_cast<char>(c);
    std::string expected;
    for (int c = 0; c < 256; ++c) {
        if (std::isalnum(c) && c < 0x80) {
            expected += static_cast<char>(c);
        } else if (c == '-' || c == '_' || c == '.' || c == '~') {
            expected += static_cast<char>(c);
        } else {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", c);
            expected += escaped;
        }
    }
    EXPECT_EQ(PercentEncode(all), expected);
    EXPECT_EQ(PercentEncode(""), "");
    EXPECT_EQ(PercentEncode(std::string_view("a\0b", 3)), "a%00b");
    // Longer than libcurl takes in one piece: encoded whole all the same.
    const std::string big(9 << 20, ' ');
    const std::string encoded = PercentEncode(big + "x");
    EXPECT_EQ(encoded.size(), big.size() * 3 + 1);
    EXPECT_EQ(encoded.substr(encoded.size() - 4), "%20x");
}

}  // namespace
