// In-memory speed of the library beside zlib's Huffman-only deflate and
// memcpy: each file is compressed and extracted in memory, the best of
// several runs of each, and one table row printed per file (MB/s of the
// original), extraction in one lane too. Run by bench/run --memory.
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "api/corvane_internal.h"
#include "corvane.h"

namespace {

using Bytes = std::vector<unsigned char>;

template <typename Call>
double BestSeconds(int runs, Call call) {
    double best = 1e30;
    for (int k = 0; k < runs; ++k) {
        const auto start = std::chrono::steady_clock::now();
        call();
        best =
            std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    return best;
}

std::size_t Deflate(const Bytes& in, Bytes& out) {
    z_stream stream{};
    deflateInit2(&stream, 1, Z_DEFLATED, 15, 8, Z_HUFFMAN_ONLY);
    stream.next_in = const_cast<unsigned char*>(in.data());
    stream.avail_in = static_cast<uInt>(in.size());
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    const std::size_t size = stream.total_out;
    deflateEnd(&stream);
    return size;
}

void Inflate(const Bytes& in, std::size_t size, Bytes& out) {
    z_stream stream{};
    inflateInit2(&stream, 15);
    stream.next_in = const_cast<unsigned char*>(in.data());
    stream.avail_in = static_cast<uInt>(size);
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    inflate(&stream, Z_FINISH);
    inflateEnd(&stream);
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = 5;
    std::printf(
        "| File | Bytes | corvane compress | corvane extract | zlib Huffman-only deflate | inflate | memcpy |"
        " compress vs zlib | extract vs zlib | extract in one lane | lanes' gain |\n"
        "|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
    for (int k = 1; k < argc; ++k) {
        std::ifstream file(argv[k], std::ios::binary);
        const Bytes input{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
        Bytes packed(corvane_compress_bound(input.size()));
        Bytes restored(input.size());
        Bytes deflated(compressBound(static_cast<uLong>(input.size())));
        std::size_t packedSize = 0;
        std::size_t restoredSize = 0;
        std::size_t deflatedSize = 0;
        const double compress = BestSeconds(runs, [&] {
            corvane_compress(input.data(), input.size(), packed.data(), packed.size(), &packedSize);
        });
        const double extract = BestSeconds(runs, [&] {
            corvane_decompress(packed.data(), packedSize, restored.data(), restored.size(), &restoredSize);
        });
        CodecOptions oneLane;
        oneLane.laneCount = 1;
        const double extractOneLane = BestSeconds(runs, [&] {
            DecompressWithOptions(packed.data(), packedSize, restored.data(), restored.size(), &restoredSize,
                                  oneLane);
        });
        const double deflate = BestSeconds(runs, [&] { deflatedSize = Deflate(input, deflated); });
        const double inflate = BestSeconds(runs, [&] { Inflate(deflated, deflatedSize, restored); });
        const double copy =
            BestSeconds(runs, [&] { std::memcpy(restored.data(), input.data(), input.size()); });
        if (restoredSize != input.size()) return 1;
        const double mb = static_cast<double>(input.size()) / 1e6;
        const char* name = std::strrchr(argv[k], '/') ? std::strrchr(argv[k], '/') + 1 : argv[k];
        std::printf("| %s | %zu | %.0f | %.0f | %.0f | %.0f | %.0f | %.2f | %.2f | %.0f | %.2f |\n", name,
                    input.size(), mb / compress, mb / extract, mb / deflate, mb / inflate, mb / copy,
                    deflate / compress, inflate / extract, mb / extractOneLane, extractOneLane / extract);
    }
    return 0;
}
