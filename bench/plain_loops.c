#include "plain_loops.h"

#include <stdlib.h>
#include <string.h>

void plain_count(const uint8_t* in, size_t size, uint32_t counts[4][256]) {
    size_t k = 0;
    for (; k + 4 <= size; k += 4) {
        ++counts[0][in[k]];
        ++counts[1][in[k + 1]];
        ++counts[2][in[k + 2]];
        ++counts[3][in[k + 3]];
    }
    for (; k < size; ++k) ++counts[0][in[k]];
}

unsigned plain_codes_per_store(unsigned longest) {
    return longest <= 7 ? 8 : longest <= 14 ? 4 : longest <= 18 ? 3 : longest <= 28 ? 2 : 1;
}

static uint64_t load_big_endian(const uint8_t* in) {
    uint64_t value;
    memcpy(&value, in, 8);
    return __builtin_bswap64(value);
}

#define PUT(value)                     \
    do {                               \
        bits |= codes[value] >> count; \
        count += lengths[value];       \
    } while (0)
#define FLUSH()                                          \
    do {                                                 \
        const uint64_t stored = __builtin_bswap64(bits); \
        memcpy(out, &stored, 8);                         \
        out += count >> 3;                               \
        bits <<= count & 56;                             \
        count &= 7;                                      \
    } while (0)
#define ENCODE_LOOP(per_store, count_it)            \
    for (; k + per_store <= size; k += per_store) { \
        for (unsigned j = 0; j < per_store; ++j) {  \
            const uint8_t value = in[k + j];        \
            PUT(value);                             \
            count_it;                               \
        }                                           \
        FLUSH();                                    \
    }
#define ENCODE_ALL(count_it)                     \
    switch (codes_per_store) {                   \
        case 8: ENCODE_LOOP(8, count_it) break;  \
        case 4: ENCODE_LOOP(4, count_it) break;  \
        case 3: ENCODE_LOOP(3, count_it) break;  \
        case 2: ENCODE_LOOP(2, count_it) break;  \
        default: ENCODE_LOOP(1, count_it) break; \
    }                                            \
    for (; k < size; ++k) {                      \
        const uint8_t value = in[k];             \
        PUT(value);                              \
        FLUSH();                                 \
        count_it;                                \
    }

uint64_t plain_encode(const uint8_t* in, size_t size, const uint64_t codes[256], const uint8_t lengths[256],
                      unsigned codes_per_store, uint32_t* counts, uint8_t* out) {
    const uint8_t* start = out;
    uint64_t bits = 0;
    unsigned count = 0;
    size_t k = 0;
    if (counts) {
        ENCODE_ALL(++counts[value])
    } else {
        ENCODE_ALL((void)0)
    }
    FLUSH();
    return (uint64_t)(out - start) * 8 + count;
}

/* An entry: the symbol in bits 0-7, the code length in bits 8-13; or, with
 * bit 15 set, the slot of the second-level table in bits 0-11. */
enum { LONG_ENTRY = 0x8000 };

int plain_decoder_init(plain_decoder* decoder, const uint32_t* entries, unsigned lookup_bits,
                       const uint64_t codes[256], const uint8_t lengths[256]) {
    unsigned longest = 0, slots = 0;
    memset(decoder, 0, sizeof *decoder);
    decoder->entries = entries;
    decoder->lookup_bits = lookup_bits;
    for (int value = 0; value < 256; ++value) longest = lengths[value] > longest ? lengths[value] : longest;
    decoder->second_bits = longest > 12 ? longest - 12 : 0;
    for (int value = 0; value < 256; ++value) {
        const unsigned length = lengths[value], prefix = (unsigned)(codes[value] >> 52);
        if (length > 12 && decoder->first[prefix] == 0)
            decoder->first[prefix] = (uint16_t)(LONG_ENTRY | slots++);
    }
    if (slots > 0) {
        decoder->second = calloc((size_t)slots << decoder->second_bits, sizeof(uint16_t));
        if (!decoder->second) return -1;
    }
    for (int value = 0; value < 256; ++value) {
        const unsigned length = lengths[value];
        const uint16_t entry = (uint16_t)(value | length << 8);
        if (length == 0) continue;
        if (length <= 12) {
            const unsigned from = (unsigned)(codes[value] >> 52);
            for (unsigned index = from; index < from + (1u << (12 - length)); ++index)
                decoder->first[index] = entry;
        } else {
            const unsigned slot = decoder->first[codes[value] >> 52] & 0xFFF;
            const uint64_t rest = (codes[value] << 12) >> (64 - decoder->second_bits);
            const uint64_t from = ((uint64_t)slot << decoder->second_bits) | rest;
            for (uint64_t index = from; index < from + (1ull << (longest - length)); ++index)
                decoder->second[index] = entry;
        }
    }
    return 0;
}

void plain_decoder_free(plain_decoder* decoder) { free(decoder->second); }

typedef struct reader {
    uint64_t bits;
    unsigned count;
    const uint8_t* next;
} reader;

static reader reader_at(const uint8_t* in, uint64_t position) {
    reader r = {load_big_endian(in + position / 8) << (position % 8), 56 - (unsigned)(position % 8),
                in + position / 8 + 7};
    return r;
}

static inline void refill(reader* r) {
    r->bits |= load_big_endian(r->next) >> r->count;
    r->next += (63 - r->count) >> 3;
    r->count |= 56;
}

static inline uint8_t decode_one(const plain_decoder* decoder, reader* r) {
    uint16_t entry = decoder->first[r->bits >> 52];
    if (entry & LONG_ENTRY) {
        const uint64_t rest = (r->bits << 12) >> (64 - decoder->second_bits);
        entry = decoder->second[((uint64_t)(entry & 0xFFF) << decoder->second_bits) | rest];
    }
    const unsigned length = (entry >> 8) & 63;
    r->bits <<= length;
    r->count -= length;
    return (uint8_t)entry;
}

/* Four lookups a refill, each storing its symbols in one store; a code longer
 * than the table goes through the one-symbol tables with refills around. */
static inline uint8_t* decode_entry(const plain_decoder* decoder, reader* r, uint8_t* out) {
    const uint32_t entry = decoder->entries[r->bits >> (64 - decoder->lookup_bits)];
    const uint32_t symbols = entry >> 8;
    if ((entry & 0xC0) == 0) {
        refill(r);
        *out = decode_one(decoder, r);
        refill(r);
        return out + 1;
    }
    memcpy(out, &symbols, 4);
    r->bits <<= entry & 63;
    r->count -= entry & 63;
    return out + (entry >> 6 & 3);
}

static void decode_tail(const plain_decoder* decoder, reader* r, uint8_t* out, const uint8_t* end) {
    while (out < end) {
        refill(r);
        *out++ = decode_one(decoder, r);
    }
}

enum { MOST_A_STEP = 12 };

void plain_decode(const plain_decoder* decoder, const uint8_t* in, uint8_t* out, size_t symbols) {
    reader first = reader_at(in, 0);
    const uint8_t* end = out + symbols;
    while (end - out >= MOST_A_STEP) {
        refill(&first);
        for (int j = 0; j < 4; ++j) out = decode_entry(decoder, &first, out);
    }
    decode_tail(decoder, &first, out, end);
}

void plain_decode2(const plain_decoder* decoder, const uint8_t* in, uint8_t* out, size_t symbols,
                   size_t second_from, uint64_t second_start) {
    reader first = reader_at(in, 0), second = reader_at(in, second_start);
    uint8_t* second_out = out + second_from;
    const uint8_t *first_end = second_out, *end = out + symbols;
    while (first_end - out >= MOST_A_STEP && end - second_out >= MOST_A_STEP) {
        refill(&first);
        refill(&second);
        for (int j = 0; j < 4; ++j) {
            out = decode_entry(decoder, &first, out);
            second_out = decode_entry(decoder, &second, second_out);
        }
    }
    decode_tail(decoder, &first, out, first_end);
    decode_tail(decoder, &second, second_out, end);
}
