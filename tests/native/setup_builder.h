// Setup files for the tests of the kestrel commands, made item by item by
// the archive writer, and the commands run as the tool runs them.
#pragma once
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "archive/checksum.h"
#include "archive/file_entry.h"
#include "archive/format.h"
#include "archive/stub_size.h"
#include "builder/archive_writer.h"
#include "builder/patch_generator.h"
#include "builder/res_file.h"
#include "builder/stream_encoder.h"
#include "builder/stub_image.h"
#include "cli/default_dialogs.h"
#include "tests/native/test_files.h"

// A stand-in stub: filler bytes with the stamped stub-size record.
inline std::vector<uint8_t> stamped_stub() {
  std::vector<uint8_t> stub(300);
  for (size_t i = 0; i < stub.size(); ++i) stub[i] = static_cast<uint8_t>(i * 7 + 3);
  const uint8_t marker[kStubSizeMarkerLength] = KESTREL_STUB_SIZE_MARKER;
  std::memcpy(&stub[100], marker, sizeof marker);
  put_u32(&stub[100 + sizeof marker], 0);
  EXPECT_EQ(StampResult::kStamped, stamp_stub_size(stub));
  return stub;
}

inline std::vector<uint8_t> compressed(const std::vector<uint8_t>& content) {
  std::vector<uint8_t> stream;
  EXPECT_EQ(kEncodeOk, encode_stream(content.data(), content.size(), kStreamLevelDefault, &stream));
  return stream;
}

// Text that compresses, so that streams hold coded blocks and not only
// stored ones.
inline std::vector<uint8_t> text_bytes(size_t size, uint32_t seed) {
  static const char* words[] = {"kestrel ", "setup ", "archive ", "volume ", "patch ", "item ", "\r\n"};
  std::vector<uint8_t> out;
  uint32_t x = seed;
  while (out.size() < size) {
    x = x * 1103515245u + 12345u;
    const char* w = words[(x >> 16) % 7];
    out.insert(out.end(), w, w + std::strlen(w));
  }
  out.resize(size);
  return out;
}

inline SetupTypeRecordFields record(const std::string& caption) {
  SetupTypeRecordFields r;
  r.flags = kTypeFolderEditable;
  r.caption = caption;
  r.uninstall_name = caption + " App";
  r.default_folder = "#Program Files#\\" + caption;
  r.text_lists[6] = std::vector<std::string>{caption + " Setup"};
  return r;
}

// The wizard's own templates, which every setup carries.
inline std::vector<std::vector<uint8_t>> default_templates() {
  std::map<uint16_t, std::vector<uint8_t>> dialogs;
  std::string error;
  EXPECT_TRUE(read_res_dialogs(kDefaultDialogs, kDefaultDialogsSize, &dialogs, &error)) << error;
  std::vector<std::vector<uint8_t>> templates(12);
  for (auto& [id, bytes] : dialogs)
    if (id < templates.size()) templates[id] = bytes;
  return templates;
}

// Builds a setup file item by item; data lands back to back in the order
// the items are added, as plan_item_data places it.
struct SetupBuilder {
  ArchivePlan archive;
  std::vector<std::vector<uint8_t>> data;
  uint32_t next_position = 0;

  SetupTypePlan& type(size_t t) {
    while (archive.setup_types.size() <= t) archive.setup_types.push_back(SetupTypePlan{});
    return archive.setup_types[t];
  }

  FileEntryFields& add_entry(uint16_t t, const std::string& name, const std::vector<uint8_t>& stored) {
    SetupTypePlan& list = type(t);
    FileEntryFields e;
    e.name = name;
    e.setup_type = t;
    e.entry_index = static_cast<int32_t>(list.files.size());
    e.data_position = next_position;
    e.data_length = static_cast<uint32_t>(stored.size());
    if (!stored.empty()) {
      data.push_back(stored);
      next_position += static_cast<uint32_t>(stored.size());
    }
    list.files.push_back(e);
    return list.files.back();
  }

  FileEntryFields& add_file(uint16_t t, const std::string& name, const std::vector<uint8_t>& content) {
    FileEntryFields& e = add_entry(t, name, compressed(content));
    e.size = static_cast<uint32_t>(content.size());
    e.checksum = checksum_block(content.data(), e.size, 0);
    return e;
  }

  FileEntryFields& add_patch(uint16_t t, const std::string& name, uint16_t base_type, int32_t base_index,
                           const std::vector<uint8_t>& old_content, const std::vector<uint8_t>& content) {
    PatchBlocks blocks = make_patch(old_content.data(), old_content.size(), content.data(), content.size());
    std::vector<uint8_t> stored;
    EXPECT_TRUE(encode_patch(blocks, kStreamLevelDefault, &stored));
    FileEntryFields& e = add_entry(t, name, stored);
    e.flags |= kItemPatch;
    e.setup_type = base_type;
    e.entry_index = base_index;
    e.size = static_cast<uint32_t>(content.size());
    e.checksum = checksum_block(content.data(), e.size, 0);
    return e;
  }

  FileEntryFields& add_folder(uint16_t t, const std::string& name) {
    FileEntryFields& e = add_entry(t, name, {});
    e.kind = kKindFolder;
    return e;
  }

  void write(const std::string& path, uint64_t volume_size = 0, uint32_t* volumes = nullptr, bool compress = true,
             const std::vector<uint8_t>& stub = stamped_stub()) {
    for (auto& t : archive.setup_types)
      if (!t.record.caption) t.record = record("Type");
    if (archive.dialog_templates.empty()) archive.dialog_templates = default_templates();
    std::vector<uint8_t> config;
    std::string error;
    ASSERT_TRUE(assemble_configuration(archive, compress ? stream_compressor() : nullptr, &config, &error)) << error;
    ASSERT_TRUE(write_setup_file(path, stub, config, data, volume_size, volumes, &error)) << error;
  }
};

// Runs a command in this process, as kestrel's main would.
inline int run(int (*command)(int, char**), std::vector<std::string> args) {
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  fflush(stdout);
  return command(static_cast<int>(args.size()), argv.data());
}

// The same with stderr kept for the caller and stdout dropped.
inline int run_quietly(int (*command)(int, char**), std::vector<std::string> args, std::string* messages = nullptr) {
  fflush(stdout);
  fflush(stderr);
  int saved_out = dup(1), saved_err = dup(2);
  FILE* err = tmpfile();
  int null = open("/dev/null", O_WRONLY);
  dup2(null, 1);
  dup2(fileno(err), 2);
  int result = run(command, args);
  fflush(stdout);
  fflush(stderr);
  dup2(saved_out, 1);
  dup2(saved_err, 2);
  close(saved_out);
  close(saved_err);
  close(null);
  if (messages) {
    messages->clear();
    rewind(err);
    char buffer[512];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, err)) > 0) messages->append(buffer, n);
  }
  fclose(err);
  return result;
}

// Every line of a failed verify is one finding (or one failure) of its own.
inline bool only_verify_lines(const std::string& text) {
  if (text.empty() || text.back() != '\n') return false;
  for (size_t at = 0; at < text.size(); at = text.find('\n', at) + 1)
    if (text.compare(at, 17, "kestrel: verify: ") != 0) return false;
  return true;
}
