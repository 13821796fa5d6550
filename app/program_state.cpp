#include "app/program_state.h"

#include "io/shared_io.h"

SymbolTable FrequencyTable;
SymbolTable SavedFrequencies;
TreeNode* TreeRoot = nullptr;
CodeEntry CodeList;
HeaderRecord Header;
BitQueueRecord BitQueue{new std::uint8_t[50]()};
CodecOptions ProgramOptions{.queue = &BitQueue};

// The library's texts are the program's messages, but for a source changed
// between the passes, which the program reports as the read error it is.
const char* MessageOf(corvane_result result) {
    return result == CORVANE_SOURCE_CHANGED ? "Read error." : corvane_result_text(result);
}

void CheckResult(corvane_result result) {
    if (result != CORVANE_OK) Fatal(MessageOf(result));
}
