#include "platform/Privilege.h"

#include <unistd.h>

namespace quovix::platform {
namespace {
class LinuxPrivilege : public IPrivilege {
 public:
  bool IsAdministrator() override { return geteuid() == 0; }
};
}  // namespace

IPrivilege& Privilege() { return SeamGet<IPrivilege, LinuxPrivilege>(); }

}  // namespace quovix::platform
