#include "archive/output_window.h"

#include <cstring>

void start_window(OutputWindow& w, uint8_t* buffer, OutputSink* sink) {
  w.buffer = buffer;
  w.position = w.first = kWindowSize;
  w.end = kWindowEnd;
  w.sink = sink;
}

void start_direct(OutputWindow& w, uint8_t* buffer, uint32_t capacity) {
  w.buffer = buffer;
  w.position = w.first = 0;
  w.end = capacity;
  w.sink = nullptr;
}

bool make_room(OutputWindow& w) {
  if (!w.sink) return false;
  for (uint32_t piece = kWindowSize; piece < kWindowEnd; piece += kWindowSize)
    if (!w.sink->write(w.buffer + piece, kWindowSize)) return false;
  std::memcpy(w.buffer, w.buffer + kWindowEnd - kWindowSize, kWindowSize);
  w.position = kWindowSize;
  w.first = 0;
  return true;
}

bool copy_exact(OutputWindow& w, uint32_t distance, uint32_t length) {
  uint8_t* b = w.buffer;
  while (length) {
    if (w.position == w.end && !make_room(w)) return false;
    uint32_t chunk = w.end - w.position;
    if (chunk > length) chunk = length;
    uint32_t pos = w.position;
    uint32_t i = 0;
    // Before the stream's first byte: zeros.
    if (distance > pos - w.first) {
      i = distance - (pos - w.first);
      if (i > chunk) i = chunk;
      std::memset(b + pos, 0, i);
    }
    if (distance >= chunk - i) {
      std::memcpy(b + pos + i, b + pos + i - distance, chunk - i);
    } else {
      // Overlapping from behind repeats the bytes just written.
      for (; i < chunk; ++i) b[pos + i] = b[pos + i - distance];
    }
    w.position += chunk;
    length -= chunk;
  }
  return true;
}

bool finish_window(OutputWindow& w, bool success) {
  if (!w.sink) return true;
  uint32_t piece = kWindowSize;
  for (; w.position - piece >= kWindowSize; piece += kWindowSize)
    if (!w.sink->write(w.buffer + piece, kWindowSize)) return false;
  return !success || w.sink->write(w.buffer + piece, w.position - piece);
}
