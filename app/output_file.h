#pragma once
// Output files that never replace an existing file with a half-written one:
// a regular file is written under a temporary name in the same folder and
// renamed onto its final name only when complete. A name that exists and is
// not a regular file (a device, a pipe) is written directly.
#include <cstdio>
#include <string>

struct OutputFile {
    std::string finalName;
    std::string tempName;  // empty when written directly
    std::FILE* stream = nullptr;
};

// Opens the output; false when it cannot be created.
bool OpenOutput(OutputFile& output, const std::string& name);

// Flushes, closes and moves the file into place; false on any write failure,
// in which case the temporary is removed.
bool CommitOutput(OutputFile& output);

// Closes the stream and removes the temporary, leaving any existing file of
// the final name as it was.
void AbandonOutput(OutputFile& output);

// The output being written right now, abandoned by Fatal.
extern OutputFile* PendingOutput;

// Abandons PendingOutput, if any: the shell's clean-up after a fatal error.
void AbandonPendingOutput();
