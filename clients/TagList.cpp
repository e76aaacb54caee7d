#include "clients/TagList.h"

#include <cctype>

namespace quovix {

namespace {
std::string_view Trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}
}  // namespace

std::vector<TTagPart> SplitTagList(std::string_view text, std::size_t max, bool* truncated) {
  std::vector<TTagPart> out;
  if (truncated) *truncated = false;
  std::string_view rest = text;
  while (!rest.empty()) {
    const std::size_t semi = rest.find(';');
    const std::string_view part = Trim(rest.substr(0, semi));
    rest = semi == std::string_view::npos ? std::string_view() : rest.substr(semi + 1);
    if (part.empty()) continue;
    if (out.size() >= max) {
      if (truncated) *truncated = true;
      break;
    }
    TTagPart p;
    p.Text = std::string(part);
    const std::size_t eq = part.find('=');
    if (eq != std::string_view::npos) {
      p.HasValue = true;
      p.Value = std::string(Trim(part.substr(eq + 1)));
      for (char c : Trim(part.substr(0, eq))) p.Name += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    out.push_back(std::move(p));
  }
  return out;
}

}  // namespace quovix
