// The machine of each program and library a setup stores, read from its
// headers, against the setup's architecture: what a 32-bit setup would put
// in the 32-bit folders is said, what a 64-bit-mode setup cannot install
// is refused.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "builder/project.h"

// The kind of program a file is, from its headers.
enum class Machine { kNone, kSixteenBit, kX86, kX64, kArm64, kOther };
Machine file_machine(const std::vector<uint8_t>& content);

// Checks one item's content against `architecture` (kArchitecture...).
// Answers a refusal ("" for none) and may add a warning.
std::string machine_problem(uint32_t architecture, const ProjectType& type, const ProjectItem& item,
                            const std::vector<uint8_t>& content, std::vector<std::string>* warnings);
