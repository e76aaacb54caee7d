#include "platform/BrowserIntegration.h"

namespace quovix::platform {
namespace {

// No browser on this platform reads such entries: nothing is written and
// every call says so.
class LinuxBrowserIntegration : public IBrowserIntegration {
 public:
  bool Offered() const override { return false; }
  bool WriteString(const std::string&, const std::string&, const std::string&,
                   const std::string&) override {
    return false;
  }
  bool DeleteKey(const std::string&, const std::string&) override { return false; }
  bool DeleteValue(const std::string&, const std::string&, const std::string&) override {
    return false;
  }
};

}  // namespace

IBrowserIntegration& BrowserIntegration() {
  return SeamGet<IBrowserIntegration, LinuxBrowserIntegration>();
}

}  // namespace quovix::platform
