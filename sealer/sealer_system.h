#pragma once
// What the sealer asks of the system, on POSIX (sealer_system_posix.cpp)
// and on Windows (sealer_system_windows.cpp): its temporaries, the
// terminal the passphrase is asked on, and whether errors go to a terminal.
#include <cstddef>
#include <cstdio>
#include <string>

// True when standard error is a terminal (on Windows a console).
bool ErrorsOnTerminal();

// The permission bits of the open file, 0600 when they cannot be had (on
// Windows 0600 always: access comes from the folder).
unsigned PermissionsOfOpenFile(std::FILE* file);

// A file written under a temporary name beside its final name. From its
// creation until it is committed or discarded, an ending signal (on
// Windows a console control event) removes it before the program's own
// handler ends the run. One at a time. Failures leave errno set.
struct Temporary {
    std::string name;
    long long handle = -1;
};
// Creates it, new and readable and writable by its owner only.
bool CreateTemporaryBeside(const std::string& finalName, Temporary& temporary);
bool WriteToTemporary(Temporary& temporary, const unsigned char* bytes, std::size_t size);
// Gives it the permission bits, makes its data durable, closes it and
// renames it onto its final name. After a failure it still exists, to be
// discarded.
bool CommitTemporary(Temporary& temporary, unsigned permissions, const std::string& finalName);
// Closes it if open and removes it.
void DiscardTemporary(Temporary& temporary);

// The terminal the passphrase is asked on: /dev/tty on POSIX, the console
// on Windows. OpenTerminal gives NoTerminal when there is none.
using TerminalHandle = long long;
inline constexpr TerminalHandle NoTerminal = -1;
TerminalHandle OpenTerminal();
// Shows the prompt, reads one line with echo off (given back also when an
// interrupt ends the run at the prompt) and ends the line on the terminal.
// False when the terminal ends before a line or a character.
bool ReadHiddenLine(TerminalHandle terminal, const std::string& prompt, std::string& line);
void CloseTerminal(TerminalHandle terminal);
