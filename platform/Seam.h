// A replaceable system service: the Linux implementation by default, a fake
// installed by tests. Usage:
//   struct IClock { virtual ~IClock() = default; ... };
//   IClock& Clock();                 // defined with QUOVIX_SEAM below
//   ScopedSeam<IClock> fake(&myFake); // in a test
#pragma once

namespace quovix::platform {

template <class I>
struct Seam {
  static I*& Override() {
    static I* p = nullptr;
    return p;
  }
};

// Installs a replacement for the lifetime of the object.
template <class I>
class ScopedSeam {
 public:
  explicit ScopedSeam(I* replacement) : previous_(Seam<I>::Override()) {
    Seam<I>::Override() = replacement;
  }
  ~ScopedSeam() { Seam<I>::Override() = previous_; }
  ScopedSeam(const ScopedSeam&) = delete;
  ScopedSeam& operator=(const ScopedSeam&) = delete;

 private:
  I* previous_;
};

// Returns the override when one is installed, else the given default.
template <class I, class Impl>
I& SeamGet() {
  if (I* p = Seam<I>::Override()) return *p;
  static Impl impl;
  return impl;
}

}  // namespace quovix::platform
