// The byte order of stored fields: the archive's, the uninstall record's
// and the system's own structures are little-endian.
#pragma once
#include <cstdint>
#include <string.h>

// Little-endian fields at any alignment. As one copy of the bytes, which
// the compiler sees as the single load or store it is on x86 before it
// decides what to inline: each read is then an instruction, not a call.
// little_endian turns a value's bytes to or from little-endian order (the
// same swap both ways, none on a little-endian machine).
inline uint16_t little_endian(uint16_t v) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  return __builtin_bswap16(v);
#else
  return v;
#endif
}
inline uint32_t little_endian(uint32_t v) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  return __builtin_bswap32(v);
#else
  return v;
#endif
}
inline uint16_t get_u16(const uint8_t* p) {
  uint16_t v;
  memcpy(&v, p, sizeof v);
  return little_endian(v);
}
inline uint32_t get_u32(const uint8_t* p) {
  uint32_t v;
  memcpy(&v, p, sizeof v);
  return little_endian(v);
}
inline void put_u16(uint8_t* p, uint16_t v) {
  v = little_endian(v);
  memcpy(p, &v, sizeof v);
}
inline void put_u32(uint8_t* p, uint32_t v) {
  v = little_endian(v);
  memcpy(p, &v, sizeof v);
}
