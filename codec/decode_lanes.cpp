#include "codec/decode_lanes.h"

#include <algorithm>

#include "codec/bit_buffer.h"
#include "codec/chunk_output.h"

unsigned DecodeLaneCount = ShippedLaneCount;
std::uint64_t LaneWindowBits = ShippedLaneWindowBits;
std::size_t LaneStretchBytes = ShippedLaneStretchBytes;
std::size_t LeastLaneStretchBytes = ShippedLeastLaneStretchBytes;

namespace {

bool BranchesComplete(const TreeNode* node) {
    if (IsLeaf(node)) return true;
    if (node->left == nullptr || node->right == nullptr) return false;
    return BranchesComplete(node->left) && BranchesComplete(node->right);
}

// The one code at position, whatever the table entry there holds.
std::uint8_t DecodeOne(const DecodingTable& table, const std::uint8_t* bytes, std::uint64_t& position) {
    const auto index = static_cast<unsigned>(PeekBits(bytes, position) >> (64 - LookupBits));
    const unsigned length = table.firstLengths[index];
    if (length == 0) return DecodeLongCode(table, bytes, position, index);
    position += length;
    return static_cast<std::uint8_t>(SymbolBytesOf(table.entries[index]));
}

void StepOne(const DecodingTable& table, const std::uint8_t* bytes, DecodeLane& lane, DecodeTally& tally) {
    *lane.out = DecodeOne(table, bytes, lane.position);
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
        lane.windowEnd = std::min(lane.start + LaneWindowBits, lane.end);
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

template <unsigned N>
bool AllBelowEnd(const BitReader (&readers)[N], const DecodeLane* lanes, const std::uint8_t* bytes) {
    bool below = true;
    for (unsigned k = 0; k < N; ++k) below &= PositionOf(readers[k], bytes) < lanes[k].end;
    return below;
}

// The lanes' lookups taken in turn, as long as every lane is short of its
// end; a code longer than the table is walked between refills.
template <unsigned N>
void InterleaveLanes(const DecodingTable& table, const std::uint8_t* bytes, DecodeLane* lanes,
                     DecodeTally& tally) {
    BitReader readers[N];
    std::uint8_t* outs[N];
    for (unsigned k = 0; k < N; ++k) {
        readers[k] = ReadFrom(bytes, lanes[k].position);
        outs[k] = lanes[k].out;
    }
    while (AllBelowEnd(readers, lanes, bytes)) {
        for (unsigned k = 0; k < N; ++k) Refill(readers[k]);
        for (unsigned step = 0; step < LookupsPerRefill; ++step) {
            for (unsigned k = 0; k < N; ++k) {
                const auto index = static_cast<unsigned>(readers[k].bits >> (64 - LookupBits));
                const std::uint32_t entry = table.entries[index];
                ++tally.entryHits[index];
                StoreSymbols(outs[k], entry);
                outs[k] += SymbolsIn(entry);
                SkipBits(readers[k], BitsOf(entry));
            }
        }
        for (unsigned k = 0; k < N; ++k) {
            const auto index = static_cast<unsigned>(readers[k].bits >> (64 - LookupBits));
            std::uint64_t position = PositionOf(readers[k], bytes);
            if (SymbolsIn(table.entries[index]) != 0 || position >= lanes[k].end) continue;
            *outs[k] = DecodeLongCode(table, bytes, position, index);
            ++tally.walked[*outs[k]++];
            readers[k] = ReadFrom(bytes, position);
        }
    }
    for (unsigned k = 0; k < N; ++k) {
        lanes[k].position = PositionOf(readers[k], bytes);
        lanes[k].out = outs[k];
    }
}

void DecodeLanesTogether(const DecodingTable& table, const std::uint8_t* bytes,
                         std::vector<DecodeLane>& lanes, DecodeTally& tally) {
    switch (lanes.size()) {
        case 2: return InterleaveLanes<2>(table, bytes, lanes.data(), tally);
        case 3: return InterleaveLanes<3>(table, bytes, lanes.data(), tally);
        case 4: return InterleaveLanes<4>(table, bytes, lanes.data(), tally);
        case 5: return InterleaveLanes<5>(table, bytes, lanes.data(), tally);
        case 6: return InterleaveLanes<6>(table, bytes, lanes.data(), tally);
        case 7: return InterleaveLanes<7>(table, bytes, lanes.data(), tally);
        default: return InterleaveLanes<8>(table, bytes, lanes.data(), tally);
    }
}

void FinishAlone(const DecodingTable& table, const std::uint8_t* bytes, DecodeLane& lane,
                 DecodeTally& tally) {
    lane.out = DecodeBitRange(table, bytes, lane.position, lane.end, lane.out,
                              lane.buffer.get() + lane.capacity, tally);
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

void PrepareLanes(LaneSet& set) {
    const unsigned count = std::clamp(DecodeLaneCount, 2u, MostDecodeLanes);
    set.lanes.resize(count);
    const std::size_t capacity = 8 * (LaneStretchBytes / count + 4) + LaneWindowBits + 8 * MostSymbolsPerStep;
    for (DecodeLane& lane : set.lanes) {
        lane.capacity = capacity;
        lane.buffer = std::make_unique_for_overwrite<std::uint8_t[]>(capacity + ChunkSlack);
        lane.starts.reserve(LaneWindowBits + 1);
        lane.outputAt.reserve(LaneWindowBits + 1);
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
