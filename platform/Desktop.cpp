#include "platform/Desktop.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cstdio>

extern char** environ;

namespace quovix::platform {
namespace {

class LinuxDesktop : public IDesktop {
 public:
  void MessageBox(const std::string& title, const std::string& text) override {
    std::fprintf(stderr, "%s: %s\n", title.c_str(), text.c_str());
  }
  bool OpenUrl(const std::string& url) override {
    // xdg-open hands the link to the desktop's default program; the URL is
    // passed as one argument, never through a shell.
    const char* argv[] = {"xdg-open", url.c_str(), nullptr};
    pid_t pid;
    if (posix_spawnp(&pid, "xdg-open", nullptr, nullptr, const_cast<char**>(argv), environ) != 0)
      return false;
    int status = 0;
    if (waitpid(pid, &status, 0) < 0) return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }
};

IDesktop* installed = nullptr;

}  // namespace

IDesktop& Desktop() {
  if (IDesktop* p = Seam<IDesktop>::Override()) return *p;
  if (installed) return *installed;
  static LinuxDesktop impl;
  return impl;
}

void SetDesktop(IDesktop* d) { installed = d; }

}  // namespace quovix::platform
