#include "model/code_tree.h"

#include <algorithm>

#include "model/frequency_table.h"

namespace {

TreeNode* NodeFor(SymbolStat& entry) {
    if (entry.node != nullptr) return entry.node;
    TreeNode* leaf = new TreeNode;
    leaf->symbol = static_cast<std::uint8_t>(entry.symbol & 0xFF);
    return leaf;
}

// Joins entries p and p + 1 under a new node: the lower position becomes the
// left child (bit 0), and entry p + 1 stands for the joined subtree.
void MergeEntries(SymbolTable& table, std::int32_t p) {
    SymbolStat& first = table[p];
    SymbolStat& second = table[p + 1];
    TreeNode* joined = new TreeNode;
    joined->left = NodeFor(first);
    joined->right = NodeFor(second);
    joined->left->parent = joined;
    joined->right->parent = joined;
    second.count += first.count;
    second.node = joined;
}

void AppendCode(const TreeNode* leaf, CodeEntry& codeList) {
    CodeEntry* tail = &codeList;
    while (tail->next != nullptr) {
        tail = tail->next;
    }
    CodeEntry* entry = new CodeEntry;
    entry->symbol = leaf->symbol;
    entry->code = CodeOf(leaf);
    tail->next = entry;
}

}  // namespace

corvane_result BuildTree(SymbolTable& table, TreeNode*& root, CodeEntry* codeList) {
    SortByCount(table, 0, 255);
    std::int32_t p = 0;
    while (p < 256 && table[p].count == 0) {
        ++p;
    }
    if (p >= 255) return CORVANE_ONE_OR_NO_CHARACTER;
    while (true) {
        MergeEntries(table, p);
        ++p;
        if (p >= 255) break;
        SortByCount(table, p, 255);
    }
    root = table[255].node;
    if (codeList != nullptr) CollectCodes(root, *codeList);
    return CORVANE_OK;
}

// Pre-order walk, so the leaves are listed from left to right.
void CollectCodes(TreeNode* node, CodeEntry& codeList) {
    while (node != nullptr) {
        if (node->left == nullptr && node->right == nullptr) AppendCode(node, codeList);
        if (node->left != nullptr) CollectCodes(node->left, codeList);
        node = node->right;
    }
}

std::string CodeOf(const TreeNode* leaf) {
    std::string code;
    for (const TreeNode* node = leaf; node->parent != nullptr; node = node->parent) {
        code.push_back(node == node->parent->left ? '0' : '1');
    }
    std::reverse(code.begin(), code.end());
    return code;
}

void FreeTree(TreeNode* node) {
    if (node == nullptr) return;
    FreeTree(node->left);
    FreeTree(node->right);
    delete node;
}

void FreeCodeList(CodeEntry* entry) {
    while (entry != nullptr) {
        CodeEntry* following = entry->next;
        delete entry;
        entry = following;
    }
}
