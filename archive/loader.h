// Walks the block chain behind the stub and loads the configuration.
#pragma once
#include <cstdint>

#include "archive/format.h"
#include "archive/platform.h"

// Length of the stub, the offset at which the archive begins; 0 means no
// archive is attached. The stub sets it from its stamped field; the tool
// sets it from the setup file it reads.
extern uint32_t StubSize;

// Reads the payload of the block whose header was just read into a new
// buffer (one spare zero byte behind the content, so texts are always
// terminated). 0 success, 1 read failed or short, 5 no memory,
// 6 a compressed payload did not decode to its announced length, or the
// content would pass what is left of kConfigurationBudget for the archive
// being loaded (load_archive starts it afresh).
int read_block(FileHandle file, const BlockHeader& header, uint8_t** slot, uint32_t* length);

// Loads the archive of SourcePath. False when it cannot be used; it may
// have shown text 6/31.
bool load_archive();

// Frees everything load_archive made and resets the configuration.
void free_archive();
