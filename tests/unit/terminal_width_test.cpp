#include <gtest/gtest.h>

#include "cli/terminal_progress.h"

namespace {

// The progress bar's line is cut to the terminal's width: a line one cell too long wraps, and "\r" then
// no longer returns to its start.
TEST(TerminalWidthTest, LinesAreCutByTheCellsCharactersTake) {
    struct Case {
        const char* text;
        int columns;
        const char* expected;
    };
    const Case cases[] = {
        {"abc", 2, "ab"},
        {"abc", 0, ""},
        {"相册abc", 3, "相"},  // two cells each: the second does not fit in the third column
        {"相册abc", 4, "相册"},
        {"相册abc", 5, "相册a"},
        {"ＡＢ", 3, "Ａ"},  // full-width forms
        {"😀a", 1, ""},      // wide emoji
        {"😀a", 3, "😀a"},
        {"e\u0301x", 1, "e\u0301"},  // a combining mark takes no cell of its own
        {"éèà", 2, "éè"},
        {"…→a", 2, "…→"},    // narrow punctuation above U+1000 takes one cell
        {"a\tb", 2, "a\t"},  // unprintable: one cell
        {"\xFF"
         "ab",
         2,
         "\xFF"
         "a"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FitToColumns(c.text, c.columns), c.expected) << c.text << " in " << c.columns;
}

}  // namespace
