#pragma once
#include <string>

// Decides which file is read and which files are written, asking for names
// in menu use, and opens the shared streams. Flow 1 compresses, 2 extracts.
void SelectFiles(int flow, const std::string& path);
