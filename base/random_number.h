// Random numbers for names that must not be guessed ahead.
#pragma once

// 32 random bits: the system's generator (RtlGenRandom) where there is one,
// else a mix of clocks and ids (the Windows 95 family and NT 4).
unsigned long random_number();
