#pragma once
// Output files that never replace an existing file with a half-written one:
// a regular file is written under a temporary name in the same folder,
// readable by its owner only, and renamed onto its final name only when
// complete. A name that exists and is not a regular file (a device, a pipe)
// is written directly.
#include <cstdio>
#include <string>

#include "platform/platform.h"

struct OutputFile {
    std::string finalName;
    std::string tempName;  // empty when written directly
    std::FILE* stream = nullptr;
    bool replacing = false;        // a file of the final name exists and is replaced
    unsigned keptPermissions = 0;  // that file's permission bits, which the output keeps
};

// The interrupt slot of the output being written (platform.h).
inline constexpr int OutputInterruptSlot = 2;

// Opens the output; false when it cannot be created. A symbolic link at the
// name is followed, so that the file it leads to is replaced and the link
// stays, but only where the system would let a plain open follow it.
bool OpenOutput(OutputFile& output, const std::string& name);

// Flushes the output, gives it the time of `madeFrom` and, when it is new,
// its permission bits (a replaced file keeps its own), makes it durable
// first when `syncToDisk` is set, closes it and moves it into place; false
// on any write failure, in which case the temporary is removed.
bool CommitOutput(OutputFile& output, const FileFacts& madeFrom, bool syncToDisk);

// Closes the stream and removes the temporary, leaving any existing file of
// the final name as it was.
void AbandonOutput(OutputFile& output);

// The output being written right now, abandoned by Fatal.
extern OutputFile* PendingOutput;

// Abandons PendingOutput, if any: the shell's clean-up after a fatal error.
void AbandonPendingOutput();
