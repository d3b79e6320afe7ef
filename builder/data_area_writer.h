// Writes the data area behind the configuration blocks of a setup file and,
// when a volume size is given, continues it in volume files beside it
// (SETUP.D01, SETUP.D02, ...), each holding a u32 data length and its data.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>

// Where an item's data landed, for the FileEntry's data position and length.
struct DataPlacement {
  uint32_t position;
  uint32_t length;
};

struct DataAreaWriter {
  FILE* setup_file = nullptr;  // the caller's; positioned where the data area goes
  std::string setup_path;
  uint64_t volume_size = 0;    // largest file of any volume, below 2 GiB; 0 = one volume
  FILE* file = nullptr;        // current volume (the setup file for volume 0)
  uint32_t volume_number = 0;
  long length_offset = 0;      // file offset of the current volume's data length
  uint64_t budget = 0;         // data bytes the current volume may still take
  uint32_t volume_data = 0;    // data bytes in the current volume
  uint32_t position = 0;       // data-area position of the next byte
  std::string error;
};

enum : uint32_t { kVolumeHeaderSize = 4, kDataAreaHeaderSize = 12 };

// Path of volume k beside the setup file: the file name's extension (if
// any) replaced by ".D%2.2d" of k.
std::string volume_path(const std::string& setup_path, uint32_t volume);

// The volume that holds data-area position `position` when the data area
// block begins at file offset `start` of the setup file: the setup file
// takes what fits behind its configuration, each volume file the volume
// size less its length word. Always 0 without a volume size.
uint32_t volume_holding(uint64_t start, uint64_t volume_size, uint32_t position);

// Starts the data area at the setup file's current position, where
// everything before it (stub and configuration) has been written. The file
// must be open for update so that the lengths can be filled in at the end.
bool begin_data_area(DataAreaWriter& w, FILE* setup_file, const std::string& setup_path, uint64_t volume_size);

// Appends one item's stored data; items go in installation order.
bool add_item_data(DataAreaWriter& w, const uint8_t* data, size_t size, DataPlacement* placement);

// Fills in the data lengths and closes the volume files (not the setup
// file). Returns the number of volume files written beside it in *volumes.
bool end_data_area(DataAreaWriter& w, uint32_t* volumes = nullptr);
