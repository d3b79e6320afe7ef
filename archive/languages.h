// The languages a setup offers (block 0x124a) and the setup types' texts
// in them (block 0x1249): a setup without the block speaks the one
// language of its records.
#pragma once
#include <cstdint>

extern uint8_t* LanguageBlock;  // as loaded, or null
extern uint32_t LanguageBlockLength;
// The entry of the language the setup speaks, or null for a setup of one
// language.
extern const uint8_t* ChosenLanguage;

// The number of languages offered: 0 without a block, or a damaged one.
int language_count();
// Entry `index` (below language_count()): kLanguage... fields.
const uint8_t* language_entry(int index);
// Makes language `index` the setup's, once after loading: every setup
// type's texts and uninstaller texts that its tables hold in it. A table
// that is missing or damaged leaves that type's texts as they are (so a
// second call would keep the first language's where the second's table
// has none, as the default language's has none).
void use_language(int index);
