#include "codec/decode_lanes.h"

#include <algorithm>

#include "codec/chunk_output.h"

namespace {

static_assert(MostDecodeLanes <= MostKernelReaders, "the kernel takes every lane at once");

bool BranchesComplete(const TreeNode* node) {
    if (IsLeaf(node)) return true;
    if (node->left == nullptr || node->right == nullptr) return false;
    return BranchesComplete(node->left) && BranchesComplete(node->right);
}

void StepOne(const DecodingTable& table, const std::uint8_t* bytes, DecodeLane& lane, DecodeTally& tally) {
    *lane.out = DecodeOneCode(table, bytes, lane.position);
    ++tally.walked[*lane.out++];
}

// Notes the values of the lane's output before `to` as dropped.
void Drop(const DecodeLane& lane, std::size_t to, DecodeTally& tally) {
    for (std::size_t i = 0; i < to; ++i) ++tally.dropped[lane.buffer[i]];
}

void CutStretch(LaneSet& set, std::uint64_t position, std::uint64_t end) {
    const auto count = static_cast<std::uint64_t>(set.lanes.size());
    const std::uint64_t first = position / 8;
    const std::uint64_t length = end / 8 - first;
    for (std::uint64_t k = 0; k < count; ++k) {
        DecodeLane& lane = set.lanes[k];
        lane.start = k == 0 ? position : 8 * (first + k * length / count);
        lane.end = k + 1 == count ? end : 8 * (first + (k + 1) * length / count);
        lane.windowEnd = std::min(lane.start + set.windowBits, lane.end);
        lane.position = lane.start;
        lane.out = lane.buffer.get();
        lane.from = 0;
    }
}

// Decodes the lane's window symbol by symbol, noting where each symbol starts.
void RecordWindow(const DecodingTable& table, const std::uint8_t* bytes, DecodeLane& lane,
                  DecodeTally& tally) {
    lane.starts.clear();
    lane.outputAt.clear();
    while (lane.position < lane.windowEnd) {
        lane.starts.push_back(lane.position);
        lane.outputAt.push_back(static_cast<std::uint32_t>(lane.out - lane.buffer.get()));
        StepOne(table, bytes, lane, tally);
    }
}

KernelCursor CursorOf(const DecodeLane& lane) {
    return {.position = lane.position,
            .limit = lane.end,
            .out = lane.out,
            .outEnd = lane.buffer.get() + lane.capacity};
}

void TakeCursor(DecodeLane& lane, const KernelCursor& cursor) {
    lane.position = cursor.position;
    lane.out = cursor.out;
}

// The lanes' lookups taken in turn, as long as every lane is short of its end.
void DecodeLanesTogether(const DecodingTable& table, const std::uint8_t* bytes,
                         std::vector<DecodeLane>& lanes, DecodeTally& tally) {
    KernelCursor cursors[MostDecodeLanes];
    for (std::size_t k = 0; k < lanes.size(); ++k) cursors[k] = CursorOf(lanes[k]);
    DecodeWithReaders(table, bytes, cursors, static_cast<unsigned>(lanes.size()),
                      tally);  // every branch is there
    for (std::size_t k = 0; k < lanes.size(); ++k) TakeCursor(lanes[k], cursors[k]);
}

void FinishAlone(const DecodingTable& table, const std::uint8_t* bytes, DecodeLane& lane,
                 DecodeTally& tally) {
    KernelCursor cursor = CursorOf(lane);
    DecodeWithReaders(table, bytes, &cursor, 1, tally);
    TakeCursor(lane, cursor);
}

// Steps the lane on, symbol by symbol, until it stands where `next`
// recorded a symbol start; returns that start's index, or next.starts.size()
// once the lane is past next's window without meeting one.
std::size_t StepToJoin(const DecodingTable& table, const std::uint8_t* bytes, DecodeLane& lane,
                       const DecodeLane& next, DecodeTally& tally) {
    std::size_t j = 0;
    while (true) {
        while (j < next.starts.size() && next.starts[j] < lane.position) ++j;
        if (j < next.starts.size() && next.starts[j] == lane.position) return j;
        if (lane.position >= next.windowEnd) return next.starts.size();
        StepOne(table, bytes, lane, tally);
    }
}

// Joins each lane to the one before it: drops the next lane's output before
// the join, or, where they never meet, decodes the next lane's part again
// from where the one before stopped.
void JoinLanes(const DecodingTable& table, const std::uint8_t* bytes, std::vector<DecodeLane>& lanes,
               DecodeTally& tally) {
    for (std::size_t k = 1; k < lanes.size(); ++k) {
        DecodeLane& before = lanes[k - 1];
        DecodeLane& next = lanes[k];
        const std::size_t join = StepToJoin(table, bytes, before, next, tally);
        if (join < next.starts.size()) {
            next.from = next.outputAt[join];
            Drop(next, next.from, tally);
            continue;
        }
        Drop(next, static_cast<std::size_t>(next.out - next.buffer.get()), tally);
        next.position = before.position;
        next.out = next.buffer.get();
        FinishAlone(table, bytes, next, tally);
    }
}

}  // namespace

bool TreeSuitsLanes(const TreeNode* root) {
    return root != nullptr && !IsLeaf(root) && BranchesComplete(root);
}

void PrepareLanes(LaneSet& set, const CodecOptions& options) {
    const unsigned count = std::clamp(options.laneCount, 2u, MostDecodeLanes);
    set.lanes.resize(count);
    set.windowBits = options.laneWindowBits;
    const std::uint64_t windowBits = options.laneWindowBits;
    const std::size_t capacity =
        8 * (options.laneStretchBytes / count + 4) + windowBits + 8 * MostSymbolsPerRefill;
    for (DecodeLane& lane : set.lanes) {
        lane.capacity = capacity;
        lane.buffer = std::make_unique_for_overwrite<std::uint8_t[]>(capacity + ChunkSlack);
        lane.starts.reserve(windowBits + 1);
        lane.outputAt.reserve(windowBits + 1);
    }
}

void DecodeInLanes(LaneSet& set, const DecodingTable& table, const std::uint8_t* bytes,
                   std::uint64_t& position, std::uint64_t end, DecodeTally& tally) {
    CutStretch(set, position, end);
    for (std::size_t k = 1; k < set.lanes.size(); ++k) RecordWindow(table, bytes, set.lanes[k], tally);
    DecodeLanesTogether(table, bytes, set.lanes, tally);
    for (DecodeLane& lane : set.lanes) FinishAlone(table, bytes, lane, tally);
    JoinLanes(table, bytes, set.lanes, tally);
    position = set.lanes.back().position;
}
