// The pure part of console text, free of the platform layer, so that the
// sealing plug-in can build it too.
#include "io/console_text.h"

namespace {

bool Within(unsigned char byte, unsigned char low, unsigned char high) { return byte >= low && byte <= high; }

// The range the second byte of a sequence must lie in, which rules out
// overlong forms, surrogates and code points beyond U+10FFFF.
bool SecondByteFits(unsigned char lead, unsigned char second) {
    if (lead == 0xE0) return Within(second, 0xA0, 0xBF);
    if (lead == 0xED) return Within(second, 0x80, 0x9F);
    if (lead == 0xF0) return Within(second, 0x90, 0xBF);
    if (lead == 0xF4) return Within(second, 0x80, 0x8F);
    return Within(second, 0x80, 0xBF);
}

// Length of the valid UTF-8 sequence of two or more bytes at `at`, 0 when
// there is none.
std::size_t SequenceLength(std::string_view bytes, std::size_t at) {
    const auto lead = static_cast<unsigned char>(bytes[at]);
    const std::size_t length = Within(lead, 0xC2, 0xDF)   ? 2
                               : Within(lead, 0xE0, 0xEF) ? 3
                               : Within(lead, 0xF0, 0xF4) ? 4
                                                          : 0;
    if (length == 0 || at + length > bytes.size()) return 0;
    if (!SecondByteFits(lead, static_cast<unsigned char>(bytes[at + 1]))) return 0;
    for (std::size_t k = 2; k < length; ++k)
        if (!Within(static_cast<unsigned char>(bytes[at + k]), 0x80, 0xBF)) return 0;
    return length;
}

void AppendCaret(std::string& out, unsigned char control) {
    out += '^';
    out += control == 0x7F ? '?' : static_cast<char>(control + 0x40);
}

// An ASCII byte: C0 and DEL shown, a line feed, a tab and the carriage
// return of a line end passed.
void AppendAscii(std::string& out, std::string_view bytes, std::size_t at) {
    const auto byte = static_cast<unsigned char>(bytes[at]);
    const bool lineEnd = byte == '\r' && at + 1 < bytes.size() && bytes[at + 1] == '\n';
    if ((byte < 0x20 || byte == 0x7F) && byte != '\n' && byte != '\t' && !lineEnd)
        AppendCaret(out, byte);
    else
        out += static_cast<char>(byte);
}

// A byte from 0x80 on, with the bytes of its sequence; returns how many
// bytes were taken.
std::size_t AppendHigh(std::string& out, std::string_view bytes, std::size_t at) {
    const std::size_t length = SequenceLength(bytes, at);
    const auto lead = static_cast<unsigned char>(bytes[at]);
    const auto second = length == 2 ? static_cast<unsigned char>(bytes[at + 1]) : 0;
    const bool c1 = length == 0 ? Within(lead, 0x80, 0x9F) : lead == 0xC2 && Within(second, 0x80, 0x9F);
    if (c1) {
        out += "M-";
        AppendCaret(out, static_cast<unsigned char>((length == 0 ? lead : second) - 0x80));
    } else {
        out.append(bytes.substr(at, length == 0 ? 1 : length));
    }
    return length == 0 ? 1 : length;
}

}  // namespace

std::string InertText(std::string_view bytes, bool c1Too) {
    std::string out;
    out.reserve(bytes.size());
    for (std::size_t at = 0; at < bytes.size();) {
        if (static_cast<unsigned char>(bytes[at]) < 0x80) {
            AppendAscii(out, bytes, at++);
        } else if (c1Too) {
            at += AppendHigh(out, bytes, at);
        } else {
            out += bytes[at++];
        }
    }
    return out;
}
