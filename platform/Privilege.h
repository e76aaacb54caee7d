// Privilege test: may this process do what needs an administrator (set the
// clock, write system-wide settings)?
#pragma once

#include "platform/Seam.h"

namespace quovix::platform {

struct IPrivilege {
  virtual ~IPrivilege() = default;
  virtual bool IsAdministrator() = 0;
};

// The Linux implementation: effective user id 0. Replaceable via ScopedSeam.
IPrivilege& Privilege();

}  // namespace quovix::platform
