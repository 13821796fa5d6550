#pragma once
// A progress line on standard error while a long job runs: the pass, bytes
// done, percent and time left where the size is known, and the speed. It
// appears once a job has run for about a second, is redrawn a few times a
// second, cut to the terminal's width at each redraw, and is taken down
// before any other output and when the job ends. Only a terminal sees it:
// with standard error in a file or a pipe nothing is written, and nothing
// ever goes to standard output.
#include <cstdint>

// Starts watching the reads of SourceStream for a job whose first pass is
// named `pass` and reads `passBytes`, 0 when not known (a pipe).
void StartProgress(const char* pass, std::uint64_t passBytes);

// The job's next pass, which reads the same bytes again from the start.
void NextProgressPass(const char* pass);

// Takes the line down for good.
void EndProgress();

// Takes the line down, if it is shown, so that other output starts on a
// clean line; it comes back with the next redraw.
void EraseProgress();

// EraseProgress for a signal handler: only async-signal-safe work.
void EraseProgressFromSignal();
