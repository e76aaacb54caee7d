// Browser integration: the registry entries that add a toolbar button and a
// Tools-menu entry starting this program to a browser. Linux has no such
// registry and no other place where a program adds a button or menu entry to
// the browsers, so the options dialog hides its group here and keeps the
// stored choices as they are; a platform that offers it (or a test) sees
// every step of the sequence.
#pragma once

#include <string>

#include "platform/Seam.h"

namespace quovix::platform {

struct IBrowserIntegration {
  virtual ~IBrowserIntegration() = default;
  // Whether the platform has such an integration at all.
  virtual bool Offered() const { return true; }
  // root: "CR"/"HKEY_CLASSES_ROOT", "CU"/"HKEY_CURRENT_USER",
  // "LM"/"HKEY_LOCAL_MACHINE", "US"/"HKEY_USERS", "PD"/"HKEY_PERFORMANCE_DATA",
  // "CC"/"HKEY_CURRENT_CONFIG", "DD"/"HKEY_DYN_DATA" in any case; any other
  // root makes the call do nothing. path: the key below the root, its
  // elements joined by backslashes. Each call reports whether it succeeded.

  // Creates the key path if needed and sets the named string value.
  virtual bool WriteString(const std::string& root, const std::string& path,
                           const std::string& name, const std::string& value) = 0;
  // Deletes the last element of path from its parent key.
  virtual bool DeleteKey(const std::string& root, const std::string& path) = 0;
  // Deletes the named value of the key.
  virtual bool DeleteValue(const std::string& root, const std::string& path,
                           const std::string& name) = 0;
};

// The Linux implementation is not offered, writes nothing and reports false
// for every call.
IBrowserIntegration& BrowserIntegration();

}  // namespace quovix::platform
