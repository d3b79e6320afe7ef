// The exit codes other than 0 that a Kestrel setup ends with (the table of
// docs/unattended-installs.md), with what a package manager should make of
// each: the manifests that kestrel writes list them.
#pragma once
#include <cstddef>

struct SetupResult {
  int code;
  const char* winget_response;  // ReturnResponse of a winget manifest
};

inline const SetupResult (&setup_results())[7] {
  static const SetupResult kResults[7] = {
      {3010, "rebootRequiredToFinish"},
      {1602, "cancelledByUser"},
      {1603, "contactSupport"},
      {1618, "installInProgress"},
      {1633, "systemNotSupported"},
      {1638, "downgrade"},
      {1639, "invalidParameter"},
  };
  return kResults;
}
