#include "archive/data_area.h"

#include "archive/config.h"
#include "archive/format.h"
#include "base/command_line.h"
#include "base/globals.h"
#include "base/path_strings.h"
#include "base/text_format.h"

uint32_t data_start;
uint32_t volume_length;
uint32_t volume_left;
uint32_t volumes_before;
FileHandle data_file = INVALID_FILE_HANDLE;
uint32_t volume_number;
void (*DiskGiveUpHandler)();

namespace {

enum : int { kTextDiskPrompt = 28, kTextGiveUp = 13 };

// The user gave up at the prompt for the volume last opened.
bool VolumeGivenUp;
enum : uint32_t { kPromptCapacity = 200 };

// Text 6/28 with the disk number in place of its integer conversion. The
// text comes from the archive, so it is not handed to a printf-style
// formatter (format_text).
void format_disk_prompt(char* out, uint32_t disk) {
  const char* text = get_text(6, kTextDiskPrompt);
  char number[12];
  format_decimal(number, sizeof number, disk, 1);
  format_text(out, kPromptCapacity, text, number, TextArgument::kNumber);
}

// Where the volume's data length word stands in its file.
uint32_t volume_header_offset() { return volume_number == 0 ? data_start : 0; }

// Opens the current volume file and reads its data length. A file whose
// length word cannot be read counts as missing.
FileHandle open_volume_file() {
  FileHandle h = open_file(ArchivePath, 0);
  if (h == INVALID_FILE_HANDLE) return h;
  uint8_t word[4];
  uint32_t header = volume_header_offset();
  if (seek_to(h, header) != header || read_exact(h, word, 4)) {
    close_file(h);
    return INVALID_FILE_HANDLE;
  }
  volume_length = get_u32(word);
  return h;
}

}  // namespace

FileHandle open_next_volume() {
  if (data_file != INVALID_FILE_HANDLE) close_file(data_file);
  data_file = INVALID_FILE_HANDLE;
  VolumeGivenUp = false;

  uint32_t resume = 0;
  if (volume_left != 0) {
    // The volume ended early (its disk was taken out, say): open it again.
    resume = volume_length - volume_left;
  } else {
    ++volume_number;
    char extension[16] = ".D";
    format_decimal(extension + 2, sizeof extension - 2, volume_number, 2);
    volumes_before += volume_length;
    // A volume name that does not fit the path buffer names no file we
    // made: no disk can bring it, so there is nothing to ask for.
    if (!set_extension(ArchivePath, kPathSize, extension)) return INVALID_FILE_HANDLE;
  }

  FileHandle h;
  for (;;) {
    h = open_volume_file();
    if (h != INVALID_FILE_HANDLE) break;
    // Unattended, the prompt gives up at once (error 15) rather than
    // failing as a damaged archive would.
    if (!IsRelaunchCopy && Switches.mode == RunMode::kWizard) return INVALID_FILE_HANDLE;
    char prompt[kPromptCapacity];
    format_disk_prompt(prompt, volume_number + 1);
    if (message_box(prompt, kMbOkCancel | kMbIconInformation) == kIdOk) continue;
    if (asked_yes(kTextGiveUp)) {
      if (DiskGiveUpHandler) DiskGiveUpHandler();
      VolumeGivenUp = true;
      return INVALID_FILE_HANDLE;
    }
  }

  data_file = h;
  if (resume > volume_length) resume = volume_length;
  volume_left = volume_length - resume;
  if (resume != 0) {
    // A file too short for the resume position is no better than a
    // missing one.
    uint32_t at = volume_header_offset() + 4;
    uint64_t wanted = static_cast<uint64_t>(at) + resume;
    if (wanted > file_length(h) || seek_to(h, static_cast<uint32_t>(wanted)) != wanted) {
      volume_length = volume_left = 0;
      close_file(h);
      data_file = INVALID_FILE_HANDLE;
    }
  }
  return data_file;
}

uint32_t seek_data(uint32_t position) {
  // Reading only moves forward; an earlier volume is not opened again.
  bool reached = position >= volumes_before;
  while (reached && position >= static_cast<uint64_t>(volumes_before) + volume_length) {
    volume_left = 0;
    if (open_next_volume() == INVALID_FILE_HANDLE) {
      if (VolumeGivenUp) return kErrorDiskGivenUp;
      reached = false;
    }
  }
  if (reached) {
    uint32_t offset = position - volumes_before;
    volume_left = volume_length - offset;
    // A length word may claim more than a file offset can reach.
    uint64_t at = static_cast<uint64_t>(volume_header_offset()) + 4 + offset;
    if (at <= 0xFFFFFFFFu && seek_to(data_file, static_cast<uint32_t>(at)) == at) return 0;
  }
  copy_string(MessageArgument, ArchivePath, kPathSize);
  return kErrorDataUnreadable;
}

uint32_t volume_data_at_hand() {
  if (data_file == INVALID_FILE_HANDLE) return 0;
  uint32_t at = tell_file(data_file), end = file_length(data_file);
  uint32_t held = end > at ? end - at : 0;
  return held < volume_left ? held : volume_left;
}

int read_data(FileHandle file, uint8_t* buffer, uint32_t count, uint32_t* got) {
  // Never past the volume's data: what follows it in the file is not ours.
  uint32_t first = count < volume_left ? count : volume_left;
  *got = read_some(file, buffer, first);
  volume_left -= *got;
  if (*got < count) {
    // A read that has nothing yet goes on past empty volumes: no bytes
    // would read as the end of the data.
    do {
      FileHandle h = open_next_volume();
      if (h == INVALID_FILE_HANDLE) return 1;
      uint32_t rest = count - *got;
      if (rest > volume_left) rest = volume_left;
      uint32_t more = read_some(h, buffer + *got, rest);
      *got += more;
      volume_left -= more;
    } while (*got == 0 && volume_length == 0);
  }
  return 0;
}
