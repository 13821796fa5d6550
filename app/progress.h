#pragma once
// A progress line on standard error while a long job runs: bytes done,
// percent and time left where the size is known, and the speed. It appears
// once a job has run for about a second, is redrawn a few times a second,
// and is taken down before any other output and when the job ends. Only a
// terminal sees it: with standard error in a file or a pipe nothing is
// written, and nothing ever goes to standard output.
#include <cstdint>

// Starts watching the reads of SourceStream. `totalBytes` is how many bytes
// the job reads in all, 0 when not known (a pipe).
void StartProgress(std::uint64_t totalBytes);

// Takes the line down for good.
void EndProgress();

// Takes the line down, if it is shown, so that other output starts on a
// clean line; it comes back with the next redraw.
void EraseProgress();

// EraseProgress for a signal handler: only async-signal-safe work.
void EraseProgressFromSignal();
