// Where a stream's decoded bytes go when they do not go straight into
// memory: whole pieces of 32768 bytes, then one shorter piece at the end of
// a successful stream.
#pragma once
#include <cstdint>

#include "archive/platform.h"

class OutputSink {
 public:
  virtual bool ready() = 0;
  // False stops the stream with a data error.
  virtual bool write(const uint8_t* data, uint32_t count) = 0;

 protected:
  // A sink lives where it is made and is never deleted through this type:
  // no virtual destructor, whose deleting form would bring the C++
  // library's operator delete into the setup program.
  ~OutputSink() = default;
};

// Writes to a caller's open file. Failed writes are not reported: the
// installed file's checksum reveals them.
class FileSink : public OutputSink {
 public:
  explicit FileSink(FileHandle file) : file_(file) {}
  bool ready() override { return true; }
  bool write(const uint8_t* data, uint32_t count) override;

 private:
  FileHandle file_;
};
