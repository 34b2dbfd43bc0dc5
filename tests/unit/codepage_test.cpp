#include "platform/codepage.h"

#include <gtest/gtest.h>

TEST(CodepageTest, ChineseAndAsciiConvertToGbk) {
    EXPECT_EQ(Utf8ToGbk("西湖 abc"), std::string("\xCE\xF7\xBA\xFE abc"));
    EXPECT_EQ(Utf8ToGbk(""), "");
    std::string destination = "old";
    Utf8ToGbk("", destination);
    EXPECT_EQ(destination, "");
}

TEST(CodepageTest, CharactersOutsideGbkBecomeOneQuestionMarkEach) {
    // A snowman (3 bytes) and an emoji (4 bytes) have no GBK form.
    EXPECT_EQ(Utf8ToGbk("a\xE2\x98\x83"
                        "b\xF0\x9F\x98\x80"
                        "c"),
              "a?b?c");
}

TEST(CodepageTest, InvalidUtf8BytesBecomeOneQuestionMarkPerByte) {
    EXPECT_EQ(Utf8ToGbk("a\xFF"
                        "b"),
              "a?b");
    EXPECT_EQ(Utf8ToGbk("\xE8\xA5"), "??");                 // truncated sequence
    EXPECT_EQ(Utf8ToGbk("\xC0\xAF"), "??");                 // overlong "/"
    EXPECT_EQ(Utf8ToGbk("\xED\xA0\x80"), "???");            // surrogate
    EXPECT_EQ(Utf8ToGbk("\xE8\xA5\xBF\xE8"), "\xCE\xF7?");  // valid then cut
    EXPECT_EQ(Utf8ToGbk(std::string("x\0y", 3)), std::string("x\0y", 3));
}

TEST(CodepageTest, GbkRoundTripsAndInvalidGbkIsMarked) {
    const std::string utf8 = "相册【西湖】 ☃ ok";
    EXPECT_EQ(GbkToUtf8(Utf8ToGbk("相册【西湖】")), "相册【西湖】");
    EXPECT_EQ(GbkToUtf8(Utf8ToGbk(utf8)), "相册【西湖】 ? ok");  // the snowman has no GBK form
    EXPECT_EQ(GbkToUtf8("a\xCE"), "a?");                         // lead byte without trail
    EXPECT_EQ(GbkToUtf8("\xFF"
                        "b"),
              "?b");
}

TEST(CodepageTest, GbkTrailBytesThatLookLikeAsciiStayInsideTheCharacter) {
    // 0x5C ("\") is the trail byte of many GBK characters.
    const std::string gbk = Utf8ToGbk("表");
    ASSERT_EQ(gbk, "\xB1\xED");
    EXPECT_EQ(GbkToUtf8("\x81\x5C"), "乗");
}
