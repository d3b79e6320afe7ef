// The journal file's reader: what the next run trusts of a run that was
// ended by force. A whole journal reads back as written, flags and all;
// every cut of it reads as cut short with the changes before the cut; a
// byte changed inside reads as damaged with the changes before it; a
// journal of another product, or no journal, gives nothing.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/byte_order.h"
#include "record/journal_records.h"
#include "tests/journal_bytes.h"

namespace {

const char kName[] = "Kestrel Journal Test";

std::vector<uint8_t> bytes_of(const char* text) { return std::vector<uint8_t>(text, text + strlen(text) + 1); }

std::vector<uint8_t> journal_of(const std::vector<std::vector<uint8_t>>& records) {
  return journal_file(records, kName);
}

struct Read {
  JournalReading reading;
  JournalContents contents;
  std::vector<uint8_t> changes;
};

Read read(const std::vector<uint8_t>& file, const char* name = kName) {
  Read r;
  r.changes.assign(file.size() + 1, 0xCC);
  r.reading = read_journal(file.data(), file.size(), name, r.changes.data(), &r.contents);
  r.changes.resize(r.contents.records_end);
  return r;
}

std::vector<uint8_t> joined(const std::vector<std::vector<uint8_t>>& records, size_t count) {
  std::vector<uint8_t> all;
  for (size_t i = 0; i < count; ++i) all.insert(all.end(), records[i].begin(), records[i].end());
  return all;
}

TEST(JournalRecords, AWholeJournalReadsBackAsWrittenWithItsFlags) {
  auto records = sample_journal_records();
  std::vector<uint8_t> file = journal_of(records);
  Read r = read(file);
  EXPECT_EQ(r.reading, JournalReading::kWhole);
  EXPECT_EQ(r.contents.count, 4u);
  EXPECT_FALSE(r.contents.complete);
  EXPECT_EQ(r.changes, joined(records, 4));

  // A change taken back is flagged in place; its checksum still holds.
  uint32_t position = static_cast<uint32_t>(records[0].size() + records[1].size());
  uint32_t at = change_file_offset(journal_head_size(kName), position, 2) + kFlagsOffset;
  file[at] = kChangeTakenBack;
  r = read(file);
  EXPECT_EQ(r.reading, JournalReading::kWhole);
  EXPECT_EQ(get_u16(r.changes.data() + position + kFlagsOffset), kChangeTakenBack);

  // The mark of a complete installation; nothing may follow it.
  auto marked = records;
  marked.push_back(journal_complete_mark());
  r = read(journal_of(marked));
  EXPECT_EQ(r.reading, JournalReading::kWhole);
  EXPECT_TRUE(r.contents.complete);
  EXPECT_EQ(r.contents.count, 4u);
  marked.push_back(records[0]);
  EXPECT_EQ(read(journal_of(marked)).reading, JournalReading::kDamaged);
}

TEST(JournalRecords, EveryCutReadsAsCutShortWithTheChangesBeforeIt) {
  auto records = sample_journal_records();
  std::vector<uint8_t> file = journal_of(records);
  uint32_t head = journal_head_size(kName);
  for (size_t cut = 0; cut < file.size(); ++cut) {
    std::vector<uint8_t> part(file.begin(), file.begin() + cut);
    Read r = read(part);
    // The changes whose record and checksum lie wholly before the cut; a
    // cut between two records is a whole journal of fewer changes.
    size_t whole = 0, end = head;
    for (; whole < records.size() && end + records[whole].size() + 4 <= cut; ++whole) end += records[whole].size() + 4;
    ASSERT_EQ(r.reading, cut == end ? JournalReading::kWhole : JournalReading::kCutShort) << "cut at " << cut;
    ASSERT_EQ(r.contents.count, whole) << "cut at " << cut;
    ASSERT_EQ(r.changes, joined(records, whole)) << "cut at " << cut;
  }
  // Zeros where the last writes were to go, as a file system may leave
  // them after a power cut, are a cut too.
  std::vector<uint8_t> zeros = file;
  zeros.insert(zeros.end(), 300, 0);
  EXPECT_EQ(read(zeros).reading, JournalReading::kCutShort);
  EXPECT_EQ(read(zeros).contents.count, 4u);
}

TEST(JournalRecords, AChangedByteStopsTheReadingWhereItIs) {
  auto records = sample_journal_records();
  std::vector<uint8_t> file = journal_of(records);
  uint32_t head = journal_head_size(kName);
  std::vector<uint32_t> starts;
  for (uint32_t at = head, i = 0; i < records.size(); at += static_cast<uint32_t>(records[i++].size()) + 4)
    starts.push_back(at);
  for (uint32_t at = 0; at < file.size(); ++at) {
    std::vector<uint8_t> damaged = file;
    damaged[at] ^= 0x5A;
    Read r = read(damaged);
    if (at < head) {
      EXPECT_EQ(r.reading, JournalReading::kNotAJournal) << "byte " << at;
      continue;
    }
    // Nothing from the damaged record on is taken.
    size_t hit = 0;
    while (hit + 1 < starts.size() && starts[hit + 1] <= at) ++hit;
    ASSERT_EQ(r.contents.count, hit) << "byte " << at;
    ASSERT_EQ(r.changes, joined(records, hit)) << "byte " << at;
    // A damaged last record, or a size that claims the rest of the file,
    // cannot be told from a write cut short; anything else is damage.
    bool in_size = at < starts[hit] + 4;
    if (hit + 1 < records.size() && !in_size) EXPECT_EQ(r.reading, JournalReading::kDamaged) << "byte " << at;
    else EXPECT_NE(r.reading, JournalReading::kWhole) << "byte " << at;
  }
}

TEST(JournalRecords, ARecordThatNoRunWritesIsDamage) {
  auto records = sample_journal_records();
  std::vector<std::vector<uint8_t>> bad = {
      journal_record({3, true, 0x12345678u, "Software\\Product", "Colour", {1, 0, 0, 0}}),  // no registry root
      journal_record({3, true, 0x80000001u, "Software\\Product", "Colour", {1, 0}}),        // no room for the type
      journal_record({12, false, 0, "C:\\x", "", {}}),                                     // no such kind
      journal_record({1, true, 0, "C:\\x", "", {}}),                                       // a replacement without backup
      journal_record({0, false, 0, "", "", {}}),                                           // a file without a name
      journal_record({9, true, 0, "C:\\p.ini", "S", bytes_of("Key")}),                     // an earlier value missing
  };
  // A text that does not end where its length says.
  std::vector<uint8_t> unended = journal_record({0, false, 0, "C:\\abc", "", {}});
  unended[kRecordHeaderSize + 6] = 'x';
  bad.push_back(unended);
  for (size_t i = 0; i < bad.size(); ++i) {
    std::vector<std::vector<uint8_t>> list = {records[0], bad[i], records[1]};
    Read r = read(journal_of(list));
    EXPECT_EQ(r.reading, JournalReading::kDamaged) << "record " << i;
    EXPECT_EQ(r.contents.count, 1u) << "record " << i;
  }
}

TEST(JournalRecords, OnlyThisProductsJournalIsTaken) {
  std::vector<uint8_t> file = journal_of(sample_journal_records());
  EXPECT_EQ(read(file, "Another Product").reading, JournalReading::kOtherProduct);
  EXPECT_EQ(read(file, "Another Product").contents.count, 0u);
  // Windows names ignore the case of letters.
  EXPECT_EQ(read(file, "KESTREL JOURNAL TEST").reading, JournalReading::kWhole);
  std::vector<uint8_t> other = file;
  other[0] ^= 1;
  EXPECT_EQ(read(other).reading, JournalReading::kNotAJournal);
  // A head cut short is this product's run ended before its first change,
  // unless its bytes are not the head this product's runs write.
  std::vector<uint8_t> head(file.begin(), file.begin() + 10);
  EXPECT_EQ(read(head).reading, JournalReading::kCutShort);
  head[9] ^= 1;
  EXPECT_EQ(read(head).reading, JournalReading::kNotAJournal);
}

}  // namespace
