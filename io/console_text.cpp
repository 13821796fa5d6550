#include "io/console_text.h"

#include "platform/platform.h"

std::string TextForStream(std::FILE* stream, const std::string& text) {
    switch (ControlsActedOn(stream)) {
        case TerminalControls::None: return text;
        case TerminalControls::C0: return InertText(text, false);
        case TerminalControls::C0AndC1: return InertText(text, true);
    }
    return text;
}
