#pragma once
// The Huffman code tree (bit 0 left, bit 1 right) and the list of codes.
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
