#pragma once
#include <string>

extern const std::string VersionText;

// True when `text` ends with `suffix`, byte for byte and case-sensitive.
bool EndsWith(const std::string& text, const std::string& suffix);

// The program: start-up, one operation, end. Never returns.
[[noreturn]] void RunProgram(int argumentCount, char** arguments);
