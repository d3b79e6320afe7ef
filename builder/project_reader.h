// Reading a project file into a Project: the TOML parsed, every key checked
// against its type and the rules of builder/project_rules.h, every source
// file found.
#pragma once
#include <string>

#include "builder/project.h"

// Reads and checks the project file. On failure *error is one line that
// names the file, the line and the key.
bool read_project(const std::string& path, Project* project, std::string* error);
