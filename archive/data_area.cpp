#include "archive/data_area.h"

uint32_t data_start;
uint32_t volume_length;
uint32_t volume_left;
uint32_t volumes_before;
