// The INI access layer.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string_view>

#include "common/fMain.h"
#include "shell/gIni.h"

namespace quovix {
namespace {

// A settings file is a few kilobytes; anything beyond this is not one.
constexpr off_t kMaxIniFileBytes = 64 * 1024 * 1024;

bool IsComment(const std::string& trimmed) {
  return !trimmed.empty() && (trimmed[0] == ';' || trimmed[0] == '#');
}

// "[name]" → name (trimmed, lower case); false for any other line.
bool SectionHeader(const std::string& trimmed, std::string& lowerName) {
  if (trimmed.empty() || trimmed[0] != '[') return false;
  size_t close = trimmed.find(']');
  if (close == std::string::npos) return false;
  lowerName = LowerAscii(Trim(trimmed.substr(1, close - 1)));
  return true;
}

bool HasLineBreakOrZero(const std::string& s) {
  return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos;
}

// The value of a "key=value" line as a reader sees it.
std::string LineValue(const std::string& line) {
  std::string v = Trim(line.substr(line.find('=') + 1));
  if (v.size() >= 2 && (v[0] == '"' || v[0] == '\'') && v.back() == v[0])
    v = v.substr(1, v.size() - 2);
  if (size_t z = v.find('\0'); z != std::string::npos) v.resize(z);
  v = CutUtf8(v, kIniMaxValue);
  return v;
}

bool WriteAll(int fd, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

// ---- TIniDocument ------------------------------------------------------------

TIniDocument::LoadResult TIniDocument::Load(const std::string& path) {
  Parse({});
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return errno == ENOENT || errno == ENOTDIR ? LoadResult::Missing : LoadResult::Failed;
  struct stat st {};
  std::string text;
  bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= kMaxIniFileBytes;
  if (ok) {
    text.resize(static_cast<size_t>(st.st_size));
    size_t done = 0;
    while (done < text.size()) {
      ssize_t n = read(fd, text.data() + done, text.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) ok = false;
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    text.resize(done);
  }
  close(fd);
  if (!ok) return LoadResult::Failed;
  Parse(text);
  return LoadResult::Ok;
}

void TIniDocument::Parse(const std::string& text) {
  bom_.clear();
  eol_ = "\n";
  sections_.clear();
  byName_.clear();
  dropped_ = {};
  sections_.emplace_back();  // lines before the first section
  size_t pos = 0, lines = 0, keys = 0;
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) {
    bom_ = text.substr(0, 3);
    pos = 3;
  }
  bool eolSeen = false;
  while (pos < text.size()) {
    if (lines == kIniMaxLines) {
      dropped_ = {"lines", lines + 1};
      break;
    }
    size_t end = text.find_first_of("\r\n", pos);
    Line line;
    if (end == std::string::npos) {
      line.Text = text.substr(pos);
      pos = text.size();
    } else {
      line.Text = text.substr(pos, end - pos);
      size_t eolLen = text.compare(end, 2, "\r\n") == 0 ? 2 : 1;
      line.Eol = text.substr(end, eolLen);
      pos = end + eolLen;
      if (!eolSeen) eol_ = line.Eol;
      eolSeen = true;
    }
    const std::string trimmed = Trim(line.Text);
    std::string name;
    if (SectionHeader(trimmed, name)) {
      if (sections_.size() > kIniMaxSections) {
        dropped_ = {"sections", lines + 1};
        break;
      }
      AddSection(name);
    } else if (sections_.size() > 1 && !IsComment(trimmed)) {
      if (size_t eq = line.Text.find('='); eq != std::string::npos) {
        std::string key = LowerAscii(Trim(line.Text.substr(0, eq)));
        if (!key.empty() && ++keys > kIniMaxKeys) {
          dropped_ = {"keys", lines + 1};
          break;
        }
        if (!key.empty()) sections_.back().Keys.emplace(key, sections_.back().Lines.size());
      }
    }
    sections_.back().Lines.push_back(std::move(line));
    ++lines;
  }
}

void TIniDocument::AddSection(const std::string& lowerName) {
  byName_[lowerName].push_back(sections_.size());
  sections_.emplace_back();
}

std::string TIniDocument::Text() const {
  std::string out = bom_;
  for (const Section& s : sections_)
    for (const Line& l : s.Lines) {
      out += l.Text;
      out += l.Eol;
    }
  return out;
}

const TIniDocument::Line* TIniDocument::Find(const std::string& section,
                                             const std::string& key) const {
  auto it = byName_.find(LowerAscii(Trim(section)));
  if (it == byName_.end()) return nullptr;
  const std::string lowerKey = LowerAscii(Trim(key));
  for (size_t si : it->second) {
    const Section& s = sections_[si];
    if (auto k = s.Keys.find(lowerKey); k != s.Keys.end()) return &s.Lines[k->second];
  }
  return nullptr;
}

bool TIniDocument::Has(const std::string& section, const std::string& key) const {
  return Find(section, key) != nullptr;
}

std::string TIniDocument::ReadString(const std::string& section, const std::string& key,
                                     const std::string& def) const {
  const Line* l = Find(section, key);
  return l ? LineValue(l->Text) : CutUtf8(def, kIniMaxValue);
}

int TIniDocument::ReadInt(const std::string& section, const std::string& key, int def) const {
  return StrToIntDef(ReadString(section, key, std::to_string(def)), def);
}

bool TIniDocument::ReadBool(const std::string& section, const std::string& key, bool def) const {
  return ReadString(section, key, def ? "1" : "0") == "1";
}

bool TIniDocument::WriteString(const std::string& section, const std::string& key,
                               const std::string& value) {
  const std::string sec = Trim(section), k = Trim(key);
  if (HasLineBreakOrZero(sec) || sec.find(']') != std::string::npos || HasLineBreakOrZero(k) ||
      k.empty() || k.find('=') != std::string::npos || k[0] == '[' || IsComment(k) ||
      HasLineBreakOrZero(value))
    return false;
  const std::string lowerSec = LowerAscii(sec), lowerKey = LowerAscii(k);

  auto it = byName_.find(lowerSec);
  if (it != byName_.end()) {
    for (size_t si : it->second) {
      Section& s = sections_[si];
      if (auto kl = s.Keys.find(lowerKey); kl != s.Keys.end()) {
        std::string& text = s.Lines[kl->second].Text;
        text = text.substr(0, text.find('=') + 1) + value;
        return true;
      }
    }
    // A new key goes after the last line of the section's first occurrence
    // that is not blank, so the blank lines between sections stay where they are.
    Section& s = sections_[it->second.front()];
    size_t at = s.Lines.size();
    while (at > 1 && Trim(s.Lines[at - 1].Text).empty()) --at;
    if (s.Lines[at - 1].Eol.empty()) s.Lines[at - 1].Eol = eol_;
    s.Lines.insert(s.Lines.begin() + static_cast<std::ptrdiff_t>(at), Line{k + "=" + value, eol_});
    s.Keys.emplace(lowerKey, at);
    return true;
  }

  // A new section at the end, after a blank line.
  for (auto s = sections_.rbegin(); s != sections_.rend(); ++s) {
    if (s->Lines.empty()) continue;
    Line& last = s->Lines.back();
    if (last.Eol.empty()) last.Eol = eol_;
    if (!Trim(last.Text).empty()) s->Lines.push_back(Line{"", eol_});
    break;
  }
  AddSection(lowerSec);
  Section& s = sections_.back();
  s.Lines.push_back(Line{"[" + sec + "]", eol_});
  s.Lines.push_back(Line{k + "=" + value, eol_});
  s.Keys.emplace(lowerKey, 1);
  return true;
}

bool TIniDocument::WriteInt(const std::string& section, const std::string& key, int value) {
  return WriteString(section, key, std::to_string(value));
}

bool TIniDocument::WriteBool(const std::string& section, const std::string& key, bool value) {
  return WriteString(section, key, value ? "1" : "0");
}

std::vector<std::string> TIniDocument::ReadListItems(const std::string& section,
                                                     const std::string& prefix) const {
  int n = ReadInt(section, prefix, 0);
  if (n < 0) n = 0;
  if (n > kIniMaxListItems) n = kIniMaxListItems;
  std::vector<std::string> items;
  items.reserve(static_cast<size_t>(n));
  for (int i = 1; i <= n; ++i) items.push_back(ReadString(section, prefix + std::to_string(i), ""));
  return items;
}

bool TIniDocument::WriteListItems(const std::string& section, const std::string& prefix,
                                  const std::vector<std::string>& items) {
  if (items.size() > static_cast<size_t>(INT_MAX)) return false;
  if (!WriteInt(section, prefix, static_cast<int>(items.size()))) return false;
  for (size_t i = 0; i < items.size(); ++i)
    if (!WriteString(section, prefix + std::to_string(i + 1), items[i])) return false;
  return true;
}

bool TIniDocument::Save(const std::string& path) const {
  // Saved, a document read only in part would lose the rest of the file.
  if (!dropped_.Bound.empty()) return false;
  // Through a symbolic link the file it points to is replaced, not the link.
  std::string target = path;
  struct stat st {};
  bool exists = lstat(path.c_str(), &st) == 0;
  if (exists && S_ISLNK(st.st_mode)) {
    char* real = realpath(path.c_str(), nullptr);
    if (!real) return false;
    target = real;
    std::free(real);
    exists = stat(target.c_str(), &st) == 0;
  }
  if (exists && !S_ISREG(st.st_mode)) return false;

  const std::string dir = target.find('/') == std::string::npos
                              ? std::string(".")
                              : target.substr(0, target.find_last_of('/') + 1);
  std::string tmp = target + ".XXXXXX";
  int fd = mkostemp(tmp.data(), O_CLOEXEC);
  if (fd < 0) return false;
  // The new file keeps the old one's owner and mode; a new file is private
  // to the user (it may hold the proxy password).
  if (exists) {
    if (fchown(fd, st.st_uid, st.st_gid) != 0) {
      // Only root may give a file away; the user's own file needs no change.
    }
    fchmod(fd, st.st_mode & 07777);
  }
  bool ok = WriteAll(fd, Text()) && fsync(fd) == 0;
  ok = close(fd) == 0 && ok;
  if (ok) ok = rename(tmp.c_str(), target.c_str()) == 0;
  if (!ok) {
    unlink(tmp.c_str());
    return false;
  }
  // Make the rename itself durable.
  int dfd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    fsync(dfd);
    close(dfd);
  }
  return true;
}

// ---- File-level operations -----------------------------------------------------

namespace {

// Loads the file, applies change, saves it; a file that exists but cannot
// be read is never replaced.
template <class Change>
bool ChangeIniFile(const std::string& file, Change change) {
  TIniDocument doc;
  if (doc.Load(file) == TIniDocument::LoadResult::Failed) return false;
  return change(doc) && doc.Save(file);
}

std::vector<std::string> SplitAt(const std::string& text, const std::string& separator) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (;;) {
    size_t p = separator.empty() ? std::string::npos : text.find(separator, start);
    fields.push_back(text.substr(start, p == std::string::npos ? std::string::npos : p - start));
    if (p == std::string::npos) return fields;
    start = p + separator.size();
  }
}

}  // namespace

std::string IniReadString(const std::string& file, const std::string& section,
                          const std::string& key, const std::string& def) {
  TIniDocument doc;
  doc.Load(file);
  return doc.ReadString(section, key, def);
}

int IniReadInt(const std::string& file, const std::string& section, const std::string& key, int def) {
  TIniDocument doc;
  doc.Load(file);
  return doc.ReadInt(section, key, def);
}

bool IniReadBool(const std::string& file, const std::string& section, const std::string& key,
                 bool def) {
  TIniDocument doc;
  doc.Load(file);
  return doc.ReadBool(section, key, def);
}

bool IniWriteString(const std::string& file, const std::string& section, const std::string& key,
                    const std::string& value) {
  return ChangeIniFile(file, [&](TIniDocument& d) { return d.WriteString(section, key, value); });
}

bool IniWriteInt(const std::string& file, const std::string& section, const std::string& key,
                 int value) {
  return IniWriteString(file, section, key, std::to_string(value));
}

bool IniWriteBool(const std::string& file, const std::string& section, const std::string& key,
                  bool value) {
  return IniWriteString(file, section, key, value ? "1" : "0");
}

std::string IniReadList(const std::string& file, const std::string& section,
                        const std::string& prefix, const std::string& separator) {
  TIniDocument doc;
  doc.Load(file);
  std::string joined;
  std::vector<std::string> items = doc.ReadListItems(section, prefix);
  for (size_t i = 0; i < items.size(); ++i) {
    if (i > 0) joined += separator;
    joined += items[i];
  }
  return joined;
}

bool IniWriteList(const std::string& file, const std::string& section, const std::string& prefix,
                  const std::string& joined, const std::string& separator) {
  return ChangeIniFile(file, [&](TIniDocument& d) {
    return d.WriteListItems(section, prefix, SplitAt(joined, separator));
  });
}

}  // namespace quovix
