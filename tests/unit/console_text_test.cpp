// Text made inert for a terminal: every control character shown, every
// other byte passed, so that decoded text or a file name can neither act on
// the terminal nor hide what it is.
#include "io/console_text.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace {

TEST(InertText, ControlCharactersAreShownInCaretNotation) {
    // A window title, the clipboard (OSC 52), clearing, hidden text and DEL.
    EXPECT_EQ(InertText("\033]0;pwned\007", true), "^[]0;pwned^G");
    EXPECT_EQ(InertText("\033]52;c;cm0gLXJm\007", true), "^[]52;c;cm0gLXJm^G");
    EXPECT_EQ(InertText("\033[2J\033[8mhidden", true), "^[[2J^[[8mhidden");
    EXPECT_EQ(InertText(std::string("\0\x01\x1f\x7f", 4), true), "^@^A^_^?");
    // Line feeds and tabs pass; a carriage return only as part of a line end.
    EXPECT_EQ(InertText("a\tb\nc\r\nd", true), "a\tb\nc\r\nd");
    EXPECT_EQ(InertText("secret\rshown", true), "secret^Mshown");
    EXPECT_EQ(InertText("end\r", true), "end^M");
    EXPECT_EQ(InertText("\r\r\n", true), "^M\r\n");
}

TEST(InertText, C1IsShownWhereTheTerminalActsOnIt) {
    // CSI as UTF-8 encodes U+009B, and as a bare byte outside UTF-8.
    EXPECT_EQ(InertText("\xc2\x9b"
                        "31m",
                        true),
              "M-^[31m");
    EXPECT_EQ(InertText("\x9b"
                        "31m",
                        true),
              "M-^[31m");
    EXPECT_EQ(InertText("\xc2\x80\xc2\x9f", true), "M-^@M-^_");
    // A Windows console shows C1 as characters of its code page.
    EXPECT_EQ(InertText("\xc2\x9b\x9b\033", false), "\xc2\x9b\x9b^[");
}

TEST(InertText, ValidUtf8PassesUnchanged) {
    // Continuation bytes in 80..9F belong to their characters.
    for (const std::string text : {"中文 文件", "一二三", "é ü ß", "\xc2\xa0", "😀", "\xf4\x8f\xbf\xbf"})
        EXPECT_EQ(InertText(text, true), text) << text;
    // Bytes that are no valid UTF-8 pass unless they are C1: an overlong
    // form, a surrogate, a cut sequence, a lone lead byte.
    EXPECT_EQ(InertText("\xc0\x9b", true), "\xc0M-^[");
    EXPECT_EQ(InertText("\xed\xa0\x80", true), "\xed\xa0M-^@");
    EXPECT_EQ(InertText("\xe4\xb8", true), "\xe4\xb8");
    EXPECT_EQ(InertText("\xe4\x80", true), "\xe4M-^@");
    EXPECT_EQ(InertText("\xff\xfe", true), "\xff\xfe");
    EXPECT_EQ(InertText("", true), "");
}

TEST(InertText, StreamsThatAreNoTerminalGetTheBytesAsTheyAre) {
    std::FILE* file = TempStream();
    ASSERT_NE(file, nullptr);
    const std::string hostile = "\033]0;pwned\007\x9b\r";
    EXPECT_EQ(TextForStream(file, hostile), hostile);
    std::fclose(file);
}

}  // namespace
