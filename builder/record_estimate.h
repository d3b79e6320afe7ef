// How long a setup type's own installation record can grow: the
// uninstaller reads at most kMaxRecordLength, so a type whose record
// could be longer is refused when the setup is built, not found out when
// its product cannot be removed.
#pragma once
#include <cstdint>
#include <string>

#include "builder/project.h"

// An upper bound of the record that an installation of the type writes,
// without the earlier installations it may take over: names as written
// (their code page is never longer than their UTF-8), and the longest
// path Windows allows wherever the machine decides the folder.
uint64_t record_size_bound(const ProjectType& type);

// False, with *error naming the type, when one type's record could pass
// kMaxRecordLength.
bool check_record_sizes(const Project& project, std::string* error);
