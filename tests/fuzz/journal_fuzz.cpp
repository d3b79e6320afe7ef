// The journal file's reader, which the next run of a setup trusts with
// what a run ended by force changed. Input: the file. Rules: the changes
// it hands out lie within what it was given room for, follow one another
// to their end exactly, and are each what a run writes (a known kind, its
// texts ended where their lengths say); written back as a journal they
// read whole, the same; a file cut anywhere reads no more changes than
// the whole, and the same ones.
#include <cstring>
#include <vector>

#include "base/byte_order.h"
#include "record/journal_records.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/journal_bytes.h"

namespace {

const char kName[] = "Kestrel Fuzz";

struct Read {
  JournalReading reading;
  JournalContents contents;
  std::vector<uint8_t> changes;
};

Read read(const uint8_t* data, size_t size) {
  Read r;
  // Room for exactly the file's bytes: the reader must not need more.
  r.changes.resize(size);
  r.reading = read_journal(data, size, kName, r.changes.data(), &r.contents);
  FUZZ_RULE(r.contents.records_end <= size);
  r.changes.resize(r.contents.records_end);
  return r;
}

// The records of the changes, each checked as a run writes it.
std::vector<std::vector<uint8_t>> records_of(const Read& r) {
  std::vector<std::vector<uint8_t>> records;
  uint32_t at = 0;
  while (at < r.changes.size()) {
    FUZZ_RULE(r.changes.size() - at >= kRecordHeaderSize + 2);
    const uint8_t* p = r.changes.data() + at;
    uint32_t size = get_u32(p);
    FUZZ_RULE(size >= kRecordHeaderSize + 2 && size <= r.changes.size() - at);
    FUZZ_RULE(p[4] <= kLastChangeKind);
    uint32_t path = get_u16(p + 6), other = get_u16(p + 8);
    FUZZ_RULE(kRecordHeaderSize + path + other + 2 <= size);
    FUZZ_RULE(strlen(reinterpret_cast<const char*>(p + kRecordHeaderSize)) == path);
    FUZZ_RULE(strlen(reinterpret_cast<const char*>(p + kRecordHeaderSize + path + 1)) == other);
    records.emplace_back(p, p + size);
    at += size;
  }
  FUZZ_RULE(records.size() == r.contents.count);
  return records;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Read r = read(data, size);
  if (r.reading == JournalReading::kNotAJournal || r.reading == JournalReading::kOtherProduct) {
    FUZZ_RULE(r.contents.count == 0);
    return 0;
  }
  std::vector<std::vector<uint8_t>> records = records_of(r);
  std::vector<std::vector<uint8_t>> written = records;
  if (r.contents.complete) written.push_back(journal_complete_mark());
  std::vector<uint8_t> again = journal_file(written, kName);
  Read back = read(again.data(), again.size());
  FUZZ_RULE(back.reading == JournalReading::kWhole);
  FUZZ_RULE(back.changes == r.changes && back.contents.complete == r.contents.complete);
  // A cut of the file: a prefix of the changes.
  if (size > 0) {
    size_t cut = data[size - 1] % size;
    Read part = read(data, cut);
    FUZZ_RULE(part.contents.count <= r.contents.count);
    FUZZ_RULE(part.changes.size() <= r.changes.size());
    FUZZ_RULE(part.changes.empty() || std::memcmp(part.changes.data(), r.changes.data(), part.changes.size()) == 0);
  }
  return 0;
}
