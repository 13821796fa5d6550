#pragma once
// The coding model, part two: the Huffman code tree (bit 0 left, bit 1
// right) built from the counts, and the list of codes the encoder takes its
// codes from. Both directions build the tree by the same steps, every tie
// rule included, since no tree is stored in a compressed file. Fewer than
// two distinct byte values make no tree. Codes can be as long as 255 bits
// in principle; counts below 2^32 keep them at 57 bits or less. It does no
// input or output of data. See format/FORMAT.md for the tie rules.
//
// The tree and the list are the caller's: the program's one instance
// (TreeRoot, CodeList) is the shell's (app/program_state.h).
#include <cstdint>
#include <string>

#include "corvane.h"
#include "model/frequency_table.h"

struct TreeNode {
    std::uint8_t symbol = 0;
    TreeNode* parent = nullptr;  // not owning
    TreeNode* left = nullptr;    // owning
    TreeNode* right = nullptr;   // owning
};

// A code list starts with a dummy head with an empty code; the real entries
// follow it.
struct CodeEntry {
    std::uint8_t symbol = 0;
    std::string code;           // '0' and '1', first bit first
    CodeEntry* next = nullptr;  // owning
};

// Builds the tree from the table (symbol order, counts set) into root, and
// the code list after codeList's head when codeList is not null. Fewer than
// two byte values: CORVANE_ONE_OR_NO_CHARACTER, and no node is made.
corvane_result BuildTree(SymbolTable& table, TreeNode*& root, CodeEntry* codeList);
void CollectCodes(TreeNode* node, CodeEntry& codeList);
std::string CodeOf(const TreeNode* leaf);
void FreeTree(TreeNode* node);
void FreeCodeList(CodeEntry* entry);

// The tree and the code list of one run, freed with it: for callers that own
// their run (the library, tests).
struct CodeTree {
    TreeNode* root = nullptr;
    CodeEntry codeList;
    CodeTree() = default;
    CodeTree(const CodeTree&) = delete;
    CodeTree& operator=(const CodeTree&) = delete;
    ~CodeTree() {
        FreeTree(root);
        FreeCodeList(codeList.next);
    }
};
