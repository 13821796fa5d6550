#pragma once
// The coding model, part two: the Huffman code tree (bit 0 left, bit 1
// right) built from the counts, and the list of codes the encoder takes its
// codes from. Both directions build the tree by the same steps, every tie
// rule included, since no tree is stored in a compressed file. Fewer than
// two distinct byte values make no tree. Codes can be as long as 255 bits
// in principle; counts below 2^32 keep them at 57 bits or less. It does no
// input or output of data. See format/FORMAT.md for the tie rules.
#include <cstdint>
#include <string>

struct TreeNode {
    std::uint8_t symbol = 0;
    TreeNode* parent = nullptr;  // not owning
    TreeNode* left = nullptr;    // owning
    TreeNode* right = nullptr;   // owning
};

struct CodeEntry {
    std::uint8_t symbol = 0;
    std::string code;           // '0' and '1', first bit first
    CodeEntry* next = nullptr;  // owning
};

extern TreeNode* TreeRoot;
// Dummy head with an empty code; the real entries follow it.
extern CodeEntry CodeList;

// Builds the tree from FrequencyTable (symbol order, counts set), and the
// code list when withCodes is set. Fewer than two byte values is fatal.
void BuildTree(bool withCodes);
void CollectCodes(TreeNode* node);
std::string CodeOf(const TreeNode* leaf);
void FreeTree(TreeNode* node);
void FreeCodeList(CodeEntry* entry);
