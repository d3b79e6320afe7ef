// The reference counts of shared libraries under SharedDLLs, which every
// setup that installs such a file raises by one.
#pragma once
#include <cstdint>

// The key below HKEY_LOCAL_MACHINE that holds the counts, one value a path.
constexpr const char* kSharedDllsKey = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";

enum class SharedRelease {
  kLastUser,   // the count reached zero and its value is gone: delete the file
  kStillUsed,  // lowered by one; other installations still need the file
  kUnknown,    // no count, or one we cannot read: the file stays
};

// Lowers the count of the file at path by one.
SharedRelease release_shared_count(const char* path);
// Takes back what one installation raised the count by, leaving what
// others added or took off since: the value goes only when that
// installation made it and the count is back to nothing; a count that was
// there before keeps at least one user.
void take_back_shared_count(const char* path, uint32_t raised, bool existed);
