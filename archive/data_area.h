// Reading the data area, which may continue in volume files .D01, .D02, ...
// beside the setup file. Positions count from the data area's first byte;
// the reader moves on to the next volume, asking for its disk in a
// relaunched copy, whenever the current one ends. One reader per process.
#pragma once
#include <cstdint>

#include "archive/error_codes.h"
#include "archive/platform.h"

// Set by load_archive from the DataArea block.
extern uint32_t data_start;      // file offset of the data length word
extern uint32_t volume_length;   // data length of the current volume
extern uint32_t volume_left;     // bytes of it not yet read
extern uint32_t volumes_before;  // data bytes of the volumes before the current one

// The open file of the current volume (ArchivePath), or INVALID_FILE_HANDLE.
extern FileHandle data_file;
// 0 for the setup file, k for the volume file with extension .Dk.
extern uint32_t volume_number;

// Called when the user gives up at the disk prompt. begin_install points it
// at the installation's routine that ends the progress page (page result
// 2), sets ErrorState 15 and drops the after-installation actions. Null:
// the reader only fails (seek_data answers 15, read_data 1).
extern void (*DiskGiveUpHandler)();


// Makes data_file the volume that holds `position` and moves it there.
// 0, 15 (the user gave up at the disk prompt) or 18 (a volume cannot be
// opened, or its file cannot be positioned there; MessageArgument names
// the file).
uint32_t seek_data(uint32_t position);

// Reads `count` bytes of the data area from `file` (data_file), going on in
// the next volume when the current one ends, and past empty volumes while
// nothing has been read; *got receives the bytes read, which may still be
// fewer, but none only where the data cannot be had. 1: the next volume
// cannot be opened (or the user gave up), else 0.
int read_data(FileHandle file, uint8_t* buffer, uint32_t count, uint32_t* got);

// Data bytes the current volume can still give from where data_file
// stands: what its length word leaves, as far as its file holds them.
uint32_t volume_data_at_hand();

// Closes data_file and opens the next volume or, when the current one still
// has data left, the current one again where reading stopped.
FileHandle open_next_volume();
