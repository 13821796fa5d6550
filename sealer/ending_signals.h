#pragma once
// The signals that end a run: an interrupt, a hang-up, a request to
// terminate or quit, a broken pipe, an exceeded file size limit. The sealer
// catches them for a while (never twice at once) to undo what it has begun,
// then passes each on to the handler that was there before, the program's.

// From now on each of them, unless it is ignored, goes to `handler`, which
// does only async-signal-safe work and ends with PassEndingSignalOn.
void CatchEndingSignals(void (*handler)(int));
// Holds the signals back until ReleaseEndingSignals, so that a file made in
// between is watched before any of them can arrive.
void HoldEndingSignals();
void ReleaseEndingSignals();
// Puts the handlers found back; safe in a signal handler.
void PutBackEndingSignals();
// Puts the handlers found back and raises the signal again, so that the
// handler found takes it once the running handler returns.
void PassEndingSignalOn(int number);
