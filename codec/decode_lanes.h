#pragma once
// Decoding one stretch of payload in several lanes at once: the stretch is
// cut at bytes, every lane but the first starts at its cut without knowing
// where a code starts there, and the lanes' lookups are interleaved so that
// the processor works on their chains of lookups side by side. A code tree
// falls back into step after a wrong start, so each lane, once past its end,
// steps on symbol by symbol until it stands where the next lane stood after
// a whole symbol; from there both decode the same symbols, and the next
// lane's output before that point is dropped. A lane that never meets the
// next one decodes on through the next lane's part by itself.
//
// Only trees whose every inner node has both branches take this path, so
// that no lane started in the middle of a code can leave the tree.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "codec/codec_options.h"
#include "codec/decode_kernel.h"

struct DecodeLane {
    std::unique_ptr<std::uint8_t[]> buffer;
    std::size_t capacity = 0;
    std::uint64_t start = 0;      // the cut, or the stretch's start
    std::uint64_t end = 0;        // the next lane's cut, or the stretch's end
    std::uint64_t windowEnd = 0;  // where recording symbol starts stops
    std::uint64_t position = 0;
    std::uint8_t* out = nullptr;
    std::size_t from = 0;                 // the first byte of buffer that is handed on
    std::vector<std::uint64_t> starts;    // symbol starts in the window, ascending
    std::vector<std::uint32_t> outputAt;  // the output index of each
};

struct LaneSet {
    std::vector<DecodeLane> lanes;
    std::uint64_t windowBits = 0;
};

// Whether the tree suits lanes: an inner root and two branches at every inner node.
bool TreeSuitsLanes(const TreeNode* root);

// Lanes and buffers for the options' knobs, for stretches of up to
// laneStretchBytes bytes.
void PrepareLanes(LaneSet& set, const CodecOptions& options);

// Decodes bits [position, end) (at least 3 bytes per lane, at most
// laneStretchBytes) into the lanes, like the single lane: whole codes while
// position is below end. Their bytes, in order, are each lane's buffer from
// `from` to `out`. The tally takes fewer than four symbols a bit of the
// stretch in all (windows, joins and lanes decoded again included). Reads no
// further than the kernel would from `end`.
void DecodeInLanes(LaneSet& set, const DecodingTable& table, const std::uint8_t* bytes,
                   std::uint64_t& position, std::uint64_t end, DecodeTally& tally);
