// value x factor / divisor, rounded down, in 32 bits. The product may pass
// 32 bits; the quotient may not, which holds when value <= divisor (it is
// then at most factor), so value is held to divisor. The 32-bit programs
// do it with one multiplication and one division instruction: their
// compiler would call the C runtime's general 64-bit division instead, two
// thirds of a kilobyte of code that nothing else needs.
#pragma once
#include <cstdint>

// divisor must not be 0.
inline uint32_t scaled(uint32_t value, uint32_t factor, uint32_t divisor) {
  if (value > divisor) value = divisor;
#if defined(__i386__)
  // Both results are early-clobbered: the factor and the divisor must not
  // share eax with the value (as they would when equal to it) or sit in edx.
  uint32_t quotient = value, remainder;
  __asm__("mull %2\n\tdivl %3" : "+&a"(quotient), "=&d"(remainder) : "rm"(factor), "rm"(divisor) : "cc");
  return quotient;
#else
  return static_cast<uint32_t>(uint64_t{value} * factor / divisor);
#endif
}
