#pragma once
#include <string>

// The passphrase comes from CORVANE_PASSPHRASE when that is set, otherwise it
// is asked on the terminal without echo (twice when `confirm` is set).
// False with a reason when there is none to be had; an empty one is refused.
bool ObtainPassphrase(const std::string& prompt, bool confirm, std::string& passphrase, std::string& reason);

// Overwrites the text before it is released.
void WipeText(std::string& text);
