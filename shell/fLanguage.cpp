#include "shell/fLanguage.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "common/fMain.h"

namespace quovix {

std::string LanguageName;
std::vector<std::string> LanguageTable;

namespace {

std::string Lookup(const std::string& key, const std::string& def) {
  const std::string want = LowerLatin(key) + "=";
  for (const auto& line : LanguageTable) {
    size_t eq = line.find('=');
    std::string k = Trim(eq == std::string::npos ? line : line.substr(0, eq)) + "=";
    if (LowerLatin(k) == want) {
      std::string v = eq == std::string::npos ? std::string() : line.substr(eq + 1);
      return v.empty() ? def : v;
    }
  }
  return def;
}

// One pass over the language text: its escapes are expanded and its
// placeholders replaced by the arguments, which are put in as they are and
// never looked at again. So a server's text that holds "%w%" or "%s2%"
// stays that text and cannot forge a line break or another argument. A
// language file's text that puts an argument in over and over would grow
// without end: the result is cut (at a character) once it is
// kMaxExpandedText longer than the arguments all put in once.
std::string Expand(const std::string& s, const std::vector<std::string>* args) {
  size_t budget = kMaxExpandedText;
  if (args)
    for (const std::string& a : *args) budget += a.size();
  static const struct {
    const char* marker;
    const char* text;
  } kEscapes[] = {{"$%$", "%"}, {"%w%", "\r\n"}, {"%r%", "\r"}, {"%n%", "\n"},
                  {"%t%", "\t"}, {"%_%", " "}};
  std::string out;
  out.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    if (out.size() >= budget) return CutUtf8(out, budget);
    bool matched = false;
    for (const auto& e : kEscapes) {
      const size_t len = std::char_traits<char>::length(e.marker);
      if (s.compare(i, len, e.marker) == 0) {
        out += e.text;
        i += len;
        matched = true;
        break;
      }
    }
    if (matched) continue;
    // "%s" digits "%": the argument of that number, when there is one.
    if (args && s.compare(i, 2, "%s") == 0) {
      size_t j = i + 2;
      size_t n = 0;
      while (j < s.size() && j - i < 8 && s[j] >= '0' && s[j] <= '9') n = n * 10 + (s[j++] - '0');
      if (j > i + 2 && j < s.size() && s[j] == '%' && n >= 1 && n <= args->size()) {
        out += (*args)[n - 1];
        i = j + 1;
        continue;
      }
    }
    out += s[i++];
  }
  return out.size() > budget ? CutUtf8(out, budget) : out;
}

// False when path is a symbolic link that leads out of folder: a language
// file is one of the folder's own.
bool StaysInside(const std::string& folder, const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return true;
  char dir[PATH_MAX], target[PATH_MAX];
  if (!::realpath(folder.c_str(), dir) || !::realpath(path.c_str(), target)) return false;
  const std::string d = std::string(dir) + "/";
  return std::string(target).compare(0, d.size(), d) == 0;
}

}  // namespace

std::string LangText(const std::string& key, const std::string& def) {
  return Expand(Lookup(key, def), nullptr);
}

std::string LangText(const std::string& key, const std::string& def,
                     const std::vector<std::string>& args) {
  return Expand(Lookup(key, def), &args);
}

std::string LangTextJoined(const std::string& key, const std::string& def,
                           const std::string& joinedArgs) {
  if (joinedArgs == std::string(1, '\0')) return LangText(key, def);
  std::vector<std::string> args;
  size_t start = 0;
  for (;;) {
    size_t p = joinedArgs.find('\x01', start);
    args.push_back(joinedArgs.substr(start, p == std::string::npos ? p : p - start));
    if (p == std::string::npos) break;
    start = p + 1;
  }
  return LangText(key, def, args);
}

std::string LanguageFile(const std::string& name, const std::string& extension) {
  // The name comes from the settings file: whatever it says, the file is
  // one of the folder's own (no path separator, no "..", nothing hidden).
  static const std::string kSeparators("/\\\0", 3);
  if (name.empty() || name[0] == '.' || name.find_first_of(kSeparators) != std::string::npos)
    return {};
  const std::string folder = ProgramFolder + "Language/";
  const std::string path = folder + name + extension;
  return StaysInside(folder, path) ? path : std::string();
}

int LoadLanguageFile(const std::string& path) {
  LanguageTable.clear();
  // Only a regular file: a FIFO or a device named here must not hang or
  // touch anything.
  const int fd = OpenRegularFile(path);
  if (fd < 0) return -1;
  // A language file holds a few hundred lines; anything beyond the cap is
  // not a language file's text and is left unread.
  constexpr size_t kMaxLanguageFileBytes = 4u << 20;
  std::string data(kMaxLanguageFileBytes, '\0');
  size_t got = 0;
  while (got < data.size()) {
    const ssize_t n = ::read(fd, data.data() + got, data.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      // A read error half-way is treated like a missing file: defaults stand.
      ::close(fd);
      return -1;
    }
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  ::close(fd);
  data.resize(got);
  // Editors on this platform may save UTF-8 with a byte-order mark.
  if (data.compare(0, 3, "\xEF\xBB\xBF") == 0) data.erase(0, 3);
  int n = 0;
  size_t start = 0;
  while (start < data.size()) {
    // Lines end with LF, CR LF or a lone CR.
    size_t end = data.find_first_of("\r\n", start);
    if (end == std::string::npos) end = data.size();
    std::string t = Trim(data.substr(start, end - start));
    start = end + 1;
    if (end < data.size() && data[end] == '\r' && start < data.size() && data[start] == '\n')
      ++start;
    if (t.empty() || t[0] == '#') continue;
    LanguageTable.push_back(std::move(t));
    ++n;
  }
  return n;
}

}  // namespace quovix

#include <algorithm>
#include <filesystem>

#include "app/Controls.h"

namespace quovix {

void BuildLanguageMenu(TMenuItem& menu, const std::string& folder,
                       const std::function<void(TMenuItem&)>& click) {
  menu.ClearOwned();
  auto wire = [&](TMenuItem* item) {
    item->RadioItem = true;
    item->OnClick = [click, item] { if (click) click(*item); };
  };
  TMenuItem* builtin = menu.AddOwned("mnuLanguageBuiltin", kBuiltinLanguage);
  wire(builtin);
  bool anyChecked = false;
  std::error_code ec;
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(folder, ec)) {
    std::string file = e.path().filename().string();
    if (file.empty() || file[0] == '.') continue;  // hidden
    if (!e.is_regular_file(ec) || !StaysInside(folder, e.path().string())) continue;
    // Exactly ".lng": the loader builds the path with that extension.
    if (file.size() <= 4 || file.compare(file.size() - 4, 4, ".lng") != 0) continue;
    names.push_back(file.substr(0, file.size() - 4));
  }
  // Directory order is arbitrary on Linux; alphabetical is what users expect.
  std::sort(names.begin(), names.end());
  for (const auto& name : names) {
    TMenuItem* item = menu.AddOwned("mnuLanguage_" + name, name);
    wire(item);
    if (!anyChecked && SameText(name, LanguageName)) {
      item->SetChecked(true);
      anyChecked = true;
    }
  }
  if (!anyChecked) builtin->SetChecked(true);
}

}  // namespace quovix
