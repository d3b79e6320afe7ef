// The rules of the setup file format that kestrel verify checks, each with
// the short name its messages and docs/setup-file-format.md use, and what
// a broken rule was found to be.
#pragma once
#include <string>
#include <vector>

enum class Rule {
  // The stub itself.
  kStubResources,
  // The block chain behind the stub.
  kBlockHeader,
  kBlockStream,
  kBlockStreamEnd,
  kRawBlock,
  kBlockRepeated,
  kTypeBlockFirst,
  kTypeCount,
  kStartBlock,
  kArchitecture,
  kChainEnd,
  kDataAreaSize,
  kDataAreaEnd,
  // The configuration records.
  kRecordSize,
  kRecordText,
  kRecordOffset,
  kTemplateStore,
  kContainerTemplate,
  kTitleText,
  kListRecords,
  kListTrailing,
  kEntrySource,
  kEntryShares,
  kEntryValue,
  kItemName,
  kUninstallerCount,
  kSettingValue,
  kStringPatch,
  kUninstallName,
  // The data area, its volumes and the items' data.
  kVolumeLength,
  kVolumeEmpty,
  kReadOrder,
  kItemData,
  kItemDataExtent,
  kItemSize,
  kItemChecksum,
  kPatchBase,
  kPatchBlock,
  kPatchCommands,
  kUninstallerPrefix,
  kUninstallerSize,
  // The languages of a setup that offers several.
  kLanguageTables,
  // The solid LZMA mode.
  kSolidStream,
  kCount
};

struct RuleInfo {
  const char* name;       // as messages and the docs name it
  const char* statement;  // the rule, in one sentence
  // The installer fails, or does harm, on a setup that breaks it; the other
  // rules it tolerates, and verify --lenient only warns about them.
  bool installer_fails;
};

const RuleInfo& rule_info(Rule rule);

// One broken rule: where in the file, and what is there.
struct Finding {
  Rule rule;
  std::string subject;  // "setup type 0, item 2 (name)" or empty
  std::string where;    // "byte 1234 of setup.exe" and the like
  std::string detail;
};

// "rule NAME: SUBJECT, WHERE: DETAIL".
std::string describe_finding(const Finding& finding);
