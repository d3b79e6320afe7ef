// What a setup file tells Windows about itself before it runs: the
// version resource (Explorer's Details, SmartScreen's prompt) and the icon
// of the stub, made from the project's product texts and .ico file.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The project's texts, in UTF-8; an empty one is left out of the block.
struct SetupVersionTexts {
  std::string title;      // ProductName; FileDescription "<title> Setup"
  std::string publisher;  // CompanyName
  std::string version;    // FileVersion, ProductVersion
  std::string copyright;  // LegalCopyright
  std::string file_name;  // OriginalFilename: the setup file's name
};

struct IconImage {
  uint8_t width = 0, height = 0, colors = 0;  // 0 stands for 256 in width and height
  uint16_t planes = 0, bits = 0;
  std::vector<uint8_t> data;  // a DIB (BITMAPINFOHEADER on) or a PNG
};

// The images of an .ico file: at most 64, each whole inside the file and
// a PNG or a bitmap with a BITMAPINFOHEADER. False with *error otherwise.
bool read_icon_file(const uint8_t* data, size_t size, std::vector<IconImage>* images, std::string* error);

// The four numbers of a version such as "1.0.3" (missing ones 0), or
// false when it is not up to four numbers of 0 to 65535 with dots.
bool version_numbers(const std::string& version, uint16_t numbers[4]);

// A VS_VERSIONINFO block: the fixed part from version_numbers (zeros when
// the version is no such numbers), the texts in UTF-16 in the string
// table 040904B0, and the translation 0409/04B0 that names that table.
std::vector<uint8_t> version_block(const SetupVersionTexts& texts);

// Gives the stub image its version resource and, when `icon` is not
// empty, puts its images in place of the stub's first icon group; then
// stamps the image's new length into its stub-size field.
bool apply_setup_resources(std::vector<uint8_t>& stub, const SetupVersionTexts& texts,
                           const std::vector<IconImage>& icon, std::string* error);

// What kestrel list and verify show of a setup's stub, read whole.
struct SetupResourceSummary {
  bool has_version = false;
  std::vector<std::pair<std::string, std::string>> strings;  // UTF-8
  std::vector<std::string> icon_sizes;                       // "32x32, 8 bits" per image of the first group
};
bool describe_setup_resources(const uint8_t* image, size_t size, SetupResourceSummary* summary, std::string* error);
