#include "app/DialogControls.h"

#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>

#include "common/fMain.h"

namespace quovix {

void TEdit::SetText(const std::string& t) {
  if (text_ == t) return;
  text_ = t;
  Changed();
}

int TUpDown::Position() {
  if (Associate) {
    const std::string t = Trim(Associate->Text());
    // A whole number only: "12abc" or "1.000" are no position.
    constexpr int kNoNumber = -2147483647 - 1;
    int v = StrToIntDef(t, kNoNumber);
    if (v != kNoNumber) position_ = v < Min ? Min : v > Max ? Max : v;
  }
  return position_;
}

void TUpDown::SetPosition(int v) {
  v = v < Min ? Min : v > Max ? Max : v;
  position_ = v;
  if (Associate) Associate->SetText(std::to_string(v));
  Changed();
}

void TRadioButton::Select() {
  if (!Enabled()) return;
  for (TRadioButton* other : Group)
    if (other != this) other->SetCheckedSilently(false);
  SetChecked(true);
}

bool ReadBitmapSize(const std::string& path, int& width, int& height) {
  // The file header (14 bytes) and the start of the info header: the
  // 12-byte core header of old files or one of the later, longer headers.
  unsigned char h[26] = {};
  // A regular file only: the path comes from the settings.
  const int fd = OpenRegularFile(path);
  if (fd < 0) return false;
  size_t got = 0;
  while (got < sizeof h) {
    const ssize_t n = ::read(fd, h + got, sizeof h - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  ::close(fd);
  if (got < 22 || h[0] != 'B' || h[1] != 'M') return false;
  auto u16 = [&](int at) { return static_cast<std::uint32_t>(h[at] | h[at + 1] << 8); };
  auto u32 = [&](int at) { return u16(at) | u16(at + 2) << 16; };
  const std::uint32_t infoSize = u32(14);
  std::int64_t w, hgt;
  if (infoSize == 12) {
    w = u16(18);
    hgt = u16(20);
  } else if (infoSize >= 40 && infoSize <= 1024 && got == sizeof h) {
    w = static_cast<std::int32_t>(u32(18));
    hgt = std::llabs(static_cast<std::int32_t>(u32(22)));  // negative: stored top-down
  } else {
    return false;
  }
  // A flag is a small picture; anything beyond this is a damaged header.
  constexpr std::int64_t kMaxSide = 4096;
  if (w <= 0 || hgt <= 0 || w > kMaxSide || hgt > kMaxSide) return false;
  width = static_cast<int>(w);
  height = static_cast<int>(hgt);
  return true;
}

}  // namespace quovix
