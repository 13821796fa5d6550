/* The plain loops the coding kernels are measured against: what a short,
 * straightforward C loop does in memory with the same data and the same
 * code lengths. The benchmark helper times them beside the kernels. */
#ifndef CORVANE_BENCH_PLAIN_LOOPS_H
#define CORVANE_BENCH_PLAIN_LOOPS_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Counts into four tables of 256, one byte at a time. */
void plain_count(const uint8_t* in, size_t size, uint32_t counts[4][256]);

/* The codes per 64-bit store that the longest code allows: eight, four,
 * three, two or one, so that a store's codes and 7 held bits stay below 64. */
unsigned plain_codes_per_store(unsigned longest);

/* Packs the codes (at the top of a word, lengths apart) most significant bit
 * first into out, codes_per_store codes between stores; with counts, also
 * counts every value into it. out needs 8 bytes beyond the payload. Returns
 * the number of bits written. */
uint64_t plain_encode(const uint8_t* in, size_t size, const uint64_t codes[256], const uint8_t lengths[256],
                      unsigned codes_per_store, uint32_t* counts, uint8_t* out);

/* Decoding over corvane's decode table of 2^lookup_bits entries (each the
 * bits its codes take in bits 0-5, the number of codes, up to three, in bits
 * 6-7, the symbols from bit 8 on; none where the code is longer than the
 * table), with a one-symbol table of 12 bits and its second level for the
 * longer codes and the last symbols. */
typedef struct plain_decoder {
    const uint32_t* entries;
    unsigned lookup_bits;
    uint16_t first[4096];
    uint16_t* second;
    unsigned second_bits;
} plain_decoder;

int plain_decoder_init(plain_decoder* decoder, const uint32_t* entries, unsigned lookup_bits,
                       const uint64_t codes[256], const uint8_t lengths[256]);
void plain_decoder_free(plain_decoder* decoder);

/* Decodes symbols symbols from in, which needs 16 readable bytes beyond the
 * payload; with one reader, or two: the second from bit second_start on,
 * where symbol second_from begins. */
void plain_decode(const plain_decoder* decoder, const uint8_t* in, uint8_t* out, size_t symbols);
void plain_decode2(const plain_decoder* decoder, const uint8_t* in, uint8_t* out, size_t symbols,
                   size_t second_from, uint64_t second_start);

#ifdef __cplusplus
}
#endif

#endif
