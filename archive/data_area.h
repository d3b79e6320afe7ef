// Reading the data area, which may continue in volume files .D01, .D02, ...
#pragma once
#include <cstdint>

#include "archive/platform.h"

// Set by load_archive from the DataArea block.
extern uint32_t data_start;      // file offset of the data length word
extern uint32_t volume_length;   // data length of the current volume
extern uint32_t volume_left;     // bytes of it not yet read
extern uint32_t volumes_before;  // data bytes of the volumes before the current one
