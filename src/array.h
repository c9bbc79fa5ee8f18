// Byte-array helpers shared by the backends and parsers: in-place transforms,
// pattern search, hexadecimal text, decimal encodings (BCD and base 100) and
// big- and little-endian integers of the widths dive computers use.
//
// None of these functions checks its pointers against NULL unless stated: a
// caller passes size bytes (or the fixed width of the function) of readable
// or writable memory.
#ifndef QV_ARRAY_H
#define QV_ARRAY_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// Reverses the order of size bytes in place.
void qv_array_reverse_bytes(unsigned char data[], size_t size);

// Reverses the bit order within each byte in place (bit 7 becomes bit 0).
void qv_array_reverse_bits(unsigned char data[], size_t size);

// Swaps the two nibbles of each byte in place.
void qv_array_swap_nibbles(unsigned char data[], size_t size);

// Non-zero when every one of size bytes equals value (also for size 0).
int qv_array_isequal(const unsigned char data[], size_t size, unsigned char value);

// The first occurrence of the pattern_size-byte pattern within size bytes of
// data, or NULL when there is none, the pattern is empty or a pointer is NULL.
const unsigned char *qv_array_search_forward(const unsigned char data[], size_t size,
                                             const unsigned char pattern[], size_t pattern_size);

// Searches from the end: the position just past the end of the last
// occurrence of the pattern, or NULL when size < pattern_size, nothing
// matches, the pattern is empty or a pointer is NULL.
const unsigned char *qv_array_search_backward(const unsigned char data[], size_t size,
                                              const unsigned char pattern[], size_t pattern_size);

// Writes two upper-case hexadecimal digits per byte into out, without a
// terminator. Returns 0, or -1 (nothing written) unless outsize == 2 * size.
int qv_array_bin2hex(const unsigned char data[], size_t size, unsigned char out[], size_t outsize);

// Reads two hexadecimal digits (0-9, A-F, a-f) per output byte. Returns 0, or
// -1 unless textsize == 2 * outsize or when a character is not a hexadecimal
// digit (out may then be partly written).
int qv_array_hex2bin(const unsigned char text[], size_t textsize, unsigned char out[], size_t outsize);

// Decimal value of the leading ASCII digits of size bytes, stopping at the
// first other byte (0 when there is none). Wraps modulo 2^32.
unsigned int qv_array_str2num(const unsigned char data[], size_t size);

// Value of size bytes read as base-100 digits, most significant first.
// Wraps modulo 2^32.
unsigned int qv_array_bin2dec(const unsigned char data[], size_t size);

// Value of size BCD bytes (two decimal digits each), most significant first.
// Wraps modulo 2^32.
unsigned int qv_array_bcd2dec(const unsigned char data[], size_t size);

// Unsigned value of size bytes (size <= 4), big- or little-endian. For more
// than 4 bytes the result is the value modulo 2^32.
unsigned int qv_array_uint_be(const unsigned char data[], size_t size);
unsigned int qv_array_uint_le(const unsigned char data[], size_t size);

// Fixed-width unsigned reads.
uint64_t qv_array_uint64_be(const unsigned char data[]);
uint64_t qv_array_uint64_le(const unsigned char data[]);
unsigned int qv_array_uint32_be(const unsigned char data[]);
unsigned int qv_array_uint32_le(const unsigned char data[]);
unsigned int qv_array_uint24_be(const unsigned char data[]);
unsigned int qv_array_uint24_le(const unsigned char data[]);
unsigned int qv_array_uint16_be(const unsigned char data[]);
unsigned int qv_array_uint16_le(const unsigned char data[]);

// A 32-bit value stored as two big-endian 16-bit words, the low word first.
unsigned int qv_array_uint32_word_be(const unsigned char data[]);

// A 32-bit IEEE 754 float stored little-endian.
float qv_array_float_le(const unsigned char data[]);

// Fixed-width writes; only the low bits of value that fit are stored.
void qv_array_uint64_be_set(unsigned char data[], uint64_t value);
void qv_array_uint64_le_set(unsigned char data[], uint64_t value);
void qv_array_uint32_be_set(unsigned char data[], unsigned int value);
void qv_array_uint32_le_set(unsigned char data[], unsigned int value);
void qv_array_uint24_be_set(unsigned char data[], unsigned int value);
void qv_array_uint24_le_set(unsigned char data[], unsigned int value);
void qv_array_uint16_be_set(unsigned char data[], unsigned int value);
void qv_array_uint16_le_set(unsigned char data[], unsigned int value);

// One BCD byte: high nibble * 10 + low nibble.
unsigned int qv_bcd2dec(unsigned char value);

// One BCD byte for values below 100; 0 for 100 and above.
unsigned char qv_dec2bcd(unsigned int value);

// The low nbits of value as a two's-complement number; 0 when nbits is not
// within 1..32.
int qv_signextend(unsigned int value, unsigned int nbits);

// Number of set bits.
unsigned int qv_popcount(unsigned int value);

#ifdef __cplusplus
}
#endif

#endif
