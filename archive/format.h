// Byte layout of the archive behind the stub: block ids and header; the
// little-endian accessors every reader and writer uses come with it
// (base/byte_order.h).
#pragma once
#include <cstdint>

#include "base/byte_order.h"

enum BlockId : uint16_t {
  kBlockSetupFlags = 0x1234,
  kBlockWizardPicture = 0x1235,
  kBlockBackgroundPicture = 0x1236,
  kBlockBackgroundTitle = 0x1237,
  kBlockDialogTemplates = 0x1239,
  kBlockFileList = 0x123a,
  kBlockStartPage = 0x123b,
  kBlockBackgroundStyle = 0x123d,
  kBlockSetupType = 0x123e,
  kBlockItemPrefix = 0x123f,
  kBlockIniEntries = 0x1240,
  kBlockRegistryEntries = 0x1241,
  kBlockStringPatches = 0x1242,
  kBlockProductDetails = 0x1243,
  kBlockCodePage = 0x1244,  // for the host's tools only; the setup passes it over
  kBlockPathEntries = 0x1246,
  kBlockArchitecture = 0x1247,  // the 64-bit mode; absent for a 32-bit setup
  kBlockScopeChoice = 0x1248,   // privileges = "choice"; absent otherwise
  kBlockLanguageTables = 0x1249,  // a setup type's texts in each language; absent with one language
  kBlockLanguages = 0x124a,       // the languages a setup offers; absent with one language
  kBlockProductIdentity = 0x124b,  // product_id and its rules; absent without a product_id
  kBlockSolidStream = 0x124d,     // a setup type's solid LZMA stream; absent in the default mode
  kBlockDataArea = 0x7F7F,
};

enum : uint16_t { kBlockCompressed = 0x0001 };
// The architecture block's one u32: the machines a 64-bit-mode setup
// accepts. A setup without the block is a 32-bit one (kArchitectureX86).
enum : uint32_t { kArchitectureX86 = 0, kArchitectureX64 = 1, kArchitectureArm64 = 2, kArchitectureX64Compatible = 3 };
// The scope choice block: u32 flags, then u32 the offset in the
// uninstaller program (block 0x123f) of its manifest's level text, which a
// per-user installation turns into the invoker level (0: none).
enum : uint32_t { kScopeChoiceSize = 8, kScopeMachineOnly = 0x01 };
// The product identity block: u8 the downgrade rule, u8 flags, u16 0,
// then the product id, terminated, which names the Uninstall key.
enum : uint32_t { kProductIdOffset = 4, kCloseApplications = 0x01 };
enum : uint8_t { kDowngradeAsk = 0, kDowngradeRefuse = 1, kDowngradeAllow = 2 };
// A registry root code beside 0 HKCR, 1 HKCU, 2 HKLM and 3 HKU: HKLM per
// machine, HKCU per user (the project's "HKA").
enum : uint32_t { kRootOfScope = 4 };
// The code page of a setup's texts when it carries no block 0x1244.
enum : uint32_t { kDefaultCodePage = 1252 };
enum : uint32_t { kBlockHeaderSize = 8 };
// The solid stream block: u8 method (1 LZMA), u8 LZMA properties, u16
// reserved, u32 dictionary size, u32 the stream's data position, u32 its
// length. The items of the type with kItemSolid are its bytes in turn.
enum : uint32_t {
  kSolidMethod = 0,
  kSolidProperties = 1,
  kSolidDictionary = 4,
  kSolidPosition = 8,
  kSolidLength = 12,
  kSolidBlockSize = 16,
};
enum : uint8_t { kSolidLzma = 1 };
// The data position of an item in a solid stream: past any data area, so
// that a reader that does not know the stream fails to read it.
enum : uint32_t { kSolidNoPosition = 0xFFFFFFFF };

struct BlockHeader {
  uint16_t id;
  uint16_t flags;
  uint32_t stored_size;
};

// The most configuration content (every block the loader keeps: dialogs,
// pictures, texts, records, file and entry lists, the uninstaller image)
// a setup may carry, so that a small damaged or hostile file cannot make
// the reader allocate hundreds of megabytes. A large real setup comes to
// some 27 MB: six setup types of 20,000 files each (about 3 MB of file
// list apiece), a 1920 x 1200 background picture in 24 bits (6.6 MB), the
// wizard picture and the dialogs. The budget is that twice over, rounded up.
enum : uint32_t { kConfigurationBudget = 64u << 20 };

// SetupFlags bits.
enum : uint32_t { kSetupFullScreen = 0x01, kSetupRemoveOthers = 0x10 };

// SetupTypeRecord layout.
enum : uint32_t {
  kRecordFlags = 0,
  kRecordUninstallName = 4,
  kRecordCaption = 8,
  kRecordDefaultFolder = 12,
  kRecordRootKey = 16,
  kRecordRegistryKey = 20,
  kRecordRegistryValue = 24,
  kRecordIniFile = 28,
  kRecordIniSection = 32,
  kRecordIniKey = 36,
  kRecordTextLists = 40,
  kRecordFixedSize = 84,
};
enum : int { kTextListCount = 11, kMaxSetupTypes = 6 };
// The languages block: the code page of the setup's names (0 when every
// name is plain ASCII), a count and that many fixed entries, the default
// language first. An entry's code and face are NUL-terminated in their
// fields.
enum : uint32_t {
  kLanguagesNamesCodePage = 0,
  kLanguagesCount = 4,
  kLanguagesFirstEntry = 8,
  kLanguageId = 0,        // u16 LANGID
  kLanguageCodePage = 2,  // u16 ANSI code page of its texts
  kLanguageCharset = 4,   // u8 LOGFONT charset of the face
  kLanguageFlags = 5,     // u8 kLanguagePlainAscii
  kLanguageCode = 8,      // 10 bytes: "de", "pt-BR"
  kLanguageFace = 18,     // 32 bytes: the dialog font's face, "" the template's
  kLanguageEntrySize = 50,
  kLanguageCodeSize = 10,
  kLanguageFaceSize = 32,
};
enum : uint8_t { kLanguagePlainAscii = 0x01 };
// A language table of block 0x1249: an offset (from the block's first
// byte, 0 none) for each text list, and one for the uninstaller's texts,
// which the setup hands on in the installation record.
enum : int { kLanguageTableLists = kTextListCount + 1 };

// The texts of a product-details block (a text list, per setup type): the
// Add/Remove Programs values, then the uninstaller's own texts, which the
// setup hands on in the installation record, then the arguments of the
// program the finish page runs. A missing or empty text is not given.
enum : int {
  kDetailVersion,
  kDetailPublisher,
  kDetailUrl,
  kDetailIcon,
  kDetailUninstallerTexts,  // the first of kUninstallerTextCount
};
// The uninstaller's texts, each with "%s" for the product's name.
enum : int {
  kUninstallerCaption,
  kUninstallerQuestion,
  kUninstallerRemoved,
  kUninstallerRemovedLeft,
  kUninstallerRemovedRestart,
  kUninstallerTextCount
};
// A language's uninstaller texts (its table's last list, the record's
// block 0x1282): the five above, then its own messages: removed before,
// no record, damaged record, no working copy, the question without a
// name, the caption without a name, and the name for an unnamed product.
enum : int { kUninstallerAllTextCount = 12 };
// With path macros; none: the program is started by its path alone.
enum : int { kDetailProgramArguments = kDetailUninstallerTexts + kUninstallerTextCount };
// Setup type flags.
enum : uint16_t { kTypeFolderEditable = 0x2, kTypeRememberInRegistry = 0x4, kTypeRememberInIni = 0x8 };
// The uninstaller deletes the remembered folder's value or INI entry
// (kTypeForgetFolder), and with kTypeForgetFolderKey the registry key too
// when that leaves it empty. Setups that use neither carry neither bit.
enum : uint16_t { kTypeForgetFolder = 0x10, kTypeForgetFolderKey = 0x20 };
