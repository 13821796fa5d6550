#pragma once
// The program's one instance of the coding state: the counts, the
// tree and the code list, the header state and the bit queue. The coding
// layers (model/, codec/, format/) keep none of it; the shell hands these to
// them by reference, one operation per process. The three streams and the
// names they were opened under are io/shared_io.h's; displayMode is the
// operation driver's.
#include "codec/bit_queue.h"
#include "codec/codec_options.h"
#include "corvane.h"
#include "format/compressed_file.h"
#include "model/code_tree.h"
#include "model/frequency_table.h"

// The working table and its copy in symbol order.
extern SymbolTable FrequencyTable;
extern SymbolTable SavedFrequencies;

// The code tree and the code list with its dummy head.
extern TreeNode* TreeRoot;
extern CodeEntry CodeList;

// The header state: finalBits, widthCode, reservedFlag, tableMode and the
// stored total.
extern HeaderRecord Header;

// The bit queue of the reference path, its storage taken while
// the program starts.
extern BitQueueRecord BitQueue;

// The knobs of the program's coding runs: the shipped ones, with BitQueue.
extern CodecOptions ProgramOptions;

// Ends the program with the message of a refusal of the coding layers, as
// Fatal does; returns when the result is CORVANE_OK.
void CheckResult(corvane_result result);

// The program's message for a result.
const char* MessageOf(corvane_result result);
