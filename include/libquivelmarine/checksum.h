/*
 * libquivelmarine: checksums.
 *
 * The additive, XOR and CRC checksums that dive computers put on their
 * packets and memory blocks. Every function reads size bytes from data (data
 * may be NULL only when size is 0), is pure and returns the checksum.
 *
 * The CRC functions take the initial value of the register (init) and a value
 * that the result is XORed with at the end (xorout); the CRC-16 results are
 * 16 bits. The CRCs are computed byte-wise with 256-entry tables.
 */
#ifndef QV_CHECKSUM_H
#define QV_CHECKSUM_H

#include <libquivelmarine/common.h>

#ifdef __cplusplus
extern "C" {
#endif

/*
 * init plus, for every byte, its low nibble plus its high nibble. The sum is
 * returned unreduced (modulo 2^32); callers keep the low 8 bits.
 * "abc" with init 0 gives 0x18.
 */
QV_EXPORT unsigned int qv_checksum_add_nibbles(const unsigned char *data, size_t size, unsigned int init);

/* 8-bit sum of init and all bytes (modulo 256). "abc" with init 0 gives 0x26. */
QV_EXPORT unsigned char qv_checksum_add_u8(const unsigned char *data, size_t size, unsigned char init);

/*
 * Sum of init and all bytes, returned unreduced (modulo 2^32); callers keep
 * the low 16 bits. "abc" with init 0 gives 0x0126.
 */
QV_EXPORT unsigned int qv_checksum_add_u16(const unsigned char *data, size_t size, unsigned int init);

/* init XOR all bytes. "abc" with init 0 gives 0x60. */
QV_EXPORT unsigned char qv_checksum_xor_u8(const unsigned char *data, size_t size, unsigned char init);

/*
 * CRC-8, polynomial 0x07, most significant bit first, result XOR xorout.
 * "123456789" with init 0 and xorout 0 gives 0xF4.
 */
QV_EXPORT unsigned char qv_checksum_crc8(const unsigned char *data, size_t size, unsigned char init,
                                         unsigned char xorout);

/*
 * CRC-16, polynomial 0x1021, most significant bit first.
 * "123456789" with init 0xFFFF gives 0x29B1, with init 0 gives 0x31C3.
 */
QV_EXPORT unsigned short qv_checksum_crc16_ccitt(const unsigned char *data, size_t size,
                                                 unsigned short init, unsigned short xorout);

/*
 * CRC-16, polynomial 0x1021 reflected (0x8408), least significant bit first.
 * "123456789" with init 0 gives 0x2189, with init 0xFFFF gives 0x6F91.
 */
QV_EXPORT unsigned short qv_checksum_crc16r_ccitt(const unsigned char *data, size_t size,
                                                  unsigned short init, unsigned short xorout);

/*
 * CRC-16, polynomial 0x8005, most significant bit first.
 * "123456789" with init 0 gives 0xFEE8.
 */
QV_EXPORT unsigned short qv_checksum_crc16_ansi(const unsigned char *data, size_t size,
                                                unsigned short init, unsigned short xorout);

/*
 * CRC-16, polynomial 0x8005 reflected (0xA001), least significant bit first.
 * "123456789" with init 0 gives 0xBB3D, with init 0xFFFF gives 0x4B37.
 */
QV_EXPORT unsigned short qv_checksum_crc16r_ansi(const unsigned char *data, size_t size,
                                                 unsigned short init, unsigned short xorout);

/*
 * The standard CRC-32: polynomial 0x04C11DB7 reflected (0xEDB88320, least
 * significant bit first), initial value 0xFFFFFFFF, result complemented.
 * Size 0 gives 0; "123456789" gives 0xCBF43926.
 */
QV_EXPORT uint32_t qv_checksum_crc32r(const unsigned char *data, size_t size);

/*
 * CRC-32 with polynomial 0x04C11DB7 most significant bit first, initial value
 * 0xFFFFFFFF, result complemented. Size 0 gives 0; "123456789" gives
 * 0xFC891918.
 */
QV_EXPORT uint32_t qv_checksum_crc32(const unsigned char *data, size_t size);

#ifdef __cplusplus
}
#endif

#endif /* QV_CHECKSUM_H */
