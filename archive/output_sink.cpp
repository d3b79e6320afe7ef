#include "archive/output_sink.h"

bool FileSink::write(const uint8_t* data, uint32_t count) {
  if (file_ != INVALID_FILE_HANDLE) write_all(file_, data, count);
  return true;
}
