#pragma once
// Every file a run touches, in one record: the source, the two halves of a
// compressed file ("tmptree2" and "tmptree1"), the output and the
// plug-in's unsealed copy. For each it holds the name, the descriptor the
// file is used through, its identity (the file that descriptor is open on:
// a name is removed only while it still leads there), its lock, its
// interrupt slot (its role) and its fate. Each rule of how a file is
// opened, kept, moved into place or removed is written here once. The
// shared streams of io/ (SourceStream, DataSink, HeaderSink) stay where
// they are; the source's stream is SourceStream.
//
// The output is never a half-written replacement of an existing file: a
// regular file is written under a temporary name in the folder of its final
// name, readable by its owner only, and renamed onto that name only when
// complete. Its folder is pinned once and every later step works inside it
// (PlaceOutput, platform.h), so no neighbour can redirect it by changing
// names meanwhile.
#include <cstdio>
#include <string>

#include "platform/platform.h"

// The roles, which are also the interrupt slots: the source has none, since
// it is never removed by the program.
enum RunFileRole { PayloadFile, HeaderFile, OutputFile, UnsealedFile, SourceFile, RunFileCount };
static_assert(SourceFile == InterruptSlots, "every file the program removes has an interrupt slot");

// Open: in use. Kept: left in place at the end (the source; an output
// written directly). Committed: moved onto its final name. Removed: gone
// (the temporaries, the unsealed copy, an abandoned output's temporary).
enum class Fate { Unused, Open, Kept, Committed, Removed };

struct RunFile {
    std::string name;
    std::FILE* stream = nullptr;  // the output's stream; the unsealed copy's, for its identity
    FileLock lock;                // the temporaries: lock and descriptor
    OutputPlace place;            // the output: its pinned folder and final name
    std::string tempLeaf;         // the output's temporary in that folder; empty when written directly
    Fate fate = Fate::Unused;
};
extern RunFile RunFiles[RunFileCount];

inline constexpr const char* PayloadTempName = "tmptree2";
inline constexpr const char* HeaderTempName = "tmptree1";

// Locks a temporary half before it is truncated, so that a second
// compression in the same folder stops without touching it. A file that is
// not safely this user's own is named on standard error with the reason,
// then the run stops with `failure`.
void LockTemporary(RunFileRole role, const std::string& failure);
// Removes both halves, each only while its name still leads to it, and
// releases their locks.
void RemoveTemporaries();

// Opens the output of that name; false when it cannot be used, after a line
// on standard error when something stands at the name that is not used
// ("NAME: not used as the output, it is a FIFO"). `typed` is a name the user
// typed at the menu, which may be a device, or a FIFO or socket of their
// own; a name the program derived is only ever a regular file.
bool OpenOutput(const std::string& name, bool typed);
// Flushes the output, gives it the time of `madeFrom` and, when it is new,
// its permission bits (a replaced file keeps its own), makes it durable
// first when `syncToDisk` is set, closes it and moves it into place; false
// on any write failure, in which case the temporary is removed.
bool CommitOutput(const FileFacts& madeFrom, bool syncToDisk);

// The unsealed copy the plug-in's Decrypt made, taken into the record so
// that an interrupt or any stop of the run removes it.
void AdoptUnsealedCopy(const std::string& name);
// Removes the unsealed copy, while its name still leads to it.
void RemoveUnsealedCopy();

// What a fatal error undoes: the output's temporary and the unsealed copy.
void AbandonRun();
