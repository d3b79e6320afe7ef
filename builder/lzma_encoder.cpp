#include "builder/lzma_encoder.h"

#include <lzma.h>

struct LzmaEncoder::State {
  lzma_stream stream = LZMA_STREAM_INIT;
  std::vector<uint8_t> out;
  bool started = false;
};

uint32_t lzma_dictionary_for(uint64_t total, uint32_t wanted) {
  uint64_t units = (total + kLzmaMinDictionary - 1) / kLzmaMinDictionary;
  uint64_t size = (units ? units : 1) * kLzmaMinDictionary;
  return size < wanted ? static_cast<uint32_t>(size) : wanted;
}

LzmaEncoder::LzmaEncoder() : state_(new State) {}

LzmaEncoder::~LzmaEncoder() {
  lzma_end(&state_->stream);
  delete state_;
}

bool LzmaEncoder::begin(uint32_t dict_size) {
  lzma_options_lzma options;
  // Preset 6, liblzma's default: its binary-tree match finder with nice
  // length 64 compresses as NSIS's LZMA does at about its speed.
  if (lzma_lzma_preset(&options, 6)) return false;
  options.dict_size = dict_size;
  options.lc = kLzmaProperties % 9;
  options.lp = kLzmaProperties / 9 % 5;
  options.pb = kLzmaProperties / 45;
  lzma_filter filters[2] = {{LZMA_FILTER_LZMA1, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
  state_->out.clear();
  state_->started = lzma_raw_encoder(&state_->stream, filters) == LZMA_OK;
  return state_->started;
}

bool LzmaEncoder::run(const uint8_t* data, size_t size, bool finishing) {
  lzma_stream& s = state_->stream;
  s.next_in = data;
  s.avail_in = size;
  uint8_t buffer[65536];
  for (;;) {
    s.next_out = buffer;
    s.avail_out = sizeof buffer;
    lzma_ret r = lzma_code(&s, finishing ? LZMA_FINISH : LZMA_RUN);
    state_->out.insert(state_->out.end(), buffer, s.next_out);
    if (r == LZMA_STREAM_END) return true;
    if (r != LZMA_OK) return false;
    if (!finishing && s.avail_in == 0 && s.avail_out != 0) return true;
  }
}

bool LzmaEncoder::add(const uint8_t* data, size_t size) {
  return state_->started && (size == 0 || run(data, size, false));
}

bool LzmaEncoder::finish(std::vector<uint8_t>* stream) {
  if (!state_->started || !run(nullptr, 0, true)) return false;
  state_->started = false;
  stream->swap(state_->out);
  state_->out.clear();
  return true;
}

bool lzma_encode(const uint8_t* data, size_t size, uint32_t dict_size, std::vector<uint8_t>* stream) {
  LzmaEncoder encoder;
  return encoder.begin(dict_size) && encoder.add(data, size) && encoder.finish(stream);
}
