#include "cli/format_rules.h"

namespace {

const RuleInfo kRules[] = {
    {"stub-resources",
     "the stub's resource directory, its version resource and its icon group read whole inside the stub", true},
    {"block-header", "every block header and payload lies inside the setup file", true},
    {"block-stream", "a compressed block's stream decodes to exactly the length it announces", true},
    {"block-stream-end", "a compressed block's stream ends exactly where the block ends", false},
    {"raw-block", "blocks 0x1234 and 0x123b are stored uncompressed and hold 4 bytes", false},
    {"block-repeated", "a block appears once (once per setup type for a type's lists)", false},
    {"type-block-first", "a setup type's file list and settings lists follow its 0x123e record", true},
    {"type-count", "the archive holds one to six setup type records", true},
    {"start-block", "block 0x123b names an existing setup type and page 0 to 7 or 0xFFFF", true},
    {"architecture", "block 0x1247 names architecture 1, 2 or 3 and comes before the first setup type record", true},
    {"chain-end", "the block chain ends with a data area block of non-zero stored size", true},
    {"data-area-size", "the data area block's stored size is its data length, or the data length plus 4", false},
    {"data-area-end",
     "the data area runs to the end of the setup file; only an Authenticode certificate table that the "
     "stub's PE header records may follow it",
     true},
    {"record-size", "a setup type record holds its 84 bytes of fixed fields", true},
    {"record-text", "every text and text list of a setup type record lies inside it, terminated", true},
    {"record-offset", "a setup type record's texts lie behind its 84 bytes of fixed fields", false},
    {"template-store", "the dialog template store's offsets table and templates lie inside it", false},
    {"container-template", "the dialog template of the wizard's container (0, or 1 in full-screen mode) exists",
     true},
    {"title-text", "the background title is a NUL-terminated text", false},
    {"list-records", "a file list or settings list holds its count of whole records", true},
    {"list-trailing", "nothing follows the last record of a list", false},
    {"entry-source", "a file entry names an existing entry whose data it uses", true},
    {"entry-shares", "a file entry that names another entry uses that entry's data", false},
    {"entry-value", "a file entry's codes, roles, kind, shared flag and flags have defined values", false},
    {"item-name", "an item's name is a path inside its destination folder", true},
    {"uninstaller-count", "a setup type has at most one uninstaller item", false},
    {"setting-value", "an INI or registry entry's flags have defined bits only", false},
    {"string-patch", "a string patch writes at an offset of 0 or more, or after a pattern of 1 to 16,384 bytes",
     false},
    {"uninstall-name", "an uninstall name is at most 339 characters", true},
    {"volume-length", "a volume file holds its data length word and exactly that many bytes of data", true},
    {"volume-empty", "a volume file holds data", false},
    {"read-order",
     "each setup type's installation, item by item, never needs data in an earlier volume than it has "
     "reached",
     true},
    {"item-data", "an item's stored data can be read and decoded", true},
    {"item-data-extent", "an item's stored data ends exactly at its data length", false},
    {"item-size", "an item decodes to its size", true},
    {"item-checksum", "an item decodes to its checksum", true},
    {"patch-base", "a patch's base entry is stored or copied from beside the setup, and is no patch", true},
    {"patch-block", "a patch block uses header bits 0 to 2 only, and its compressed size is its stream's", false},
    {"patch-commands", "a patch's commands build the new file from its literals and the old file", true},
    {"uninstaller-prefix", "a setup with an uninstaller item carries the uninstaller program (block 0x123f)", true},
    {"uninstaller-size",
     "the uninstaller is installed at least 8 bytes long, for the uninstall data's first header", true},
    {"language-tables",
     "block 0x124a holds its count of whole language entries, and each setup type's block 0x1249 a table for "
     "each of them whose text lists lie inside it, terminated",
     false},
    {"solid-stream",
     "block 0x124d follows a setup type record and stores 16 bytes: method 1 (LZMA), properties with lc + lp at "
     "most 4 and pb at most 4, a dictionary of 4 KiB to 16 MiB; only that type's stored files and uninstaller "
     "have flag bit 6, each with data position 0xFFFFFFFF, and only a type with the block has them",
     true},
};
static_assert(sizeof kRules / sizeof kRules[0] == static_cast<size_t>(Rule::kCount), "one entry per rule");

}  // namespace

const RuleInfo& rule_info(Rule rule) { return kRules[static_cast<size_t>(rule)]; }

std::string describe_finding(const Finding& finding) {
  std::string text = std::string("rule ") + rule_info(finding.rule).name + ": ";
  if (!finding.subject.empty()) text += finding.subject + ", ";
  text += finding.where + ": " + finding.detail;
  return text;
}
