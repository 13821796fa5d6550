#pragma once
// Text bound for a terminal, made inert: bytes that a terminal would act on
// (move the cursor, clear the screen, retitle the window, set the clipboard)
// are shown instead, in the caret notation of "cat -v". Other output passes
// byte for byte.
#include <cstdio>
#include <string>
#include <string_view>

// The bytes with every control character shown visibly: C0 other than line
// feed and tab, a carriage return not followed by a line feed, and DEL
// ("^[" for ESC, "^?" for DEL); with `c1Too`, also C1, both as UTF-8 encodes
// it (U+0080 to U+009F) and as a byte 0x80 to 0x9F outside valid UTF-8
// ("M-^[" for 0x9B). Valid UTF-8 text passes unchanged.
std::string InertText(std::string_view bytes, bool c1Too);

// The text as it may be written to the stream: inert when the stream is a
// terminal, for the controls that terminal acts on; unchanged otherwise.
std::string TextForStream(std::FILE* stream, const std::string& text);
