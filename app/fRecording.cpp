#include "app/fRecording.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <istream>
#include <limits>
#include <nlohmann/json.hpp>

#include "app/fConsole.h"
#include "app/fJsonLines.h"

namespace quovix {

namespace {

constexpr const char* kToolNames[] = {"dns",  "ping", "trace", "whois", "email",
                                      "head", "time", "prank", "list",  "own"};

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

void AppendEscapedHtml(std::string& out, const std::string& text) {
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
}

using nlohmann::ordered_json;

// The JSON value as a line value; false where it nests too deep.
bool ToLineValue(const ordered_json& j, int depth, TLineValue& v) {
  if (depth > kRecordingMaxDepth) return false;
  switch (j.type()) {
    case ordered_json::value_t::null: v = TLineValue(); return true;
    case ordered_json::value_t::boolean: v = TLineValue(j.get<bool>()); return true;
    case ordered_json::value_t::number_integer: v = TLineValue(j.get<long long>()); return true;
    case ordered_json::value_t::number_unsigned: {
      const auto u = j.get<unsigned long long>();
      if (u <= static_cast<unsigned long long>(std::numeric_limits<long long>::max()))
        v = TLineValue(static_cast<long long>(u));
      else
        v = TLineValue(static_cast<double>(u));
      return true;
    }
    case ordered_json::value_t::number_float: v = TLineValue(j.get<double>()); return true;
    case ordered_json::value_t::string: v = TLineValue(j.get<std::string>()); return true;
    case ordered_json::value_t::object: {
      TLineFields fields;
      for (auto it = j.begin(); it != j.end(); ++it) {
        TLineValue item;
        if (!ToLineValue(it.value(), depth + 1, item)) return false;
        fields.push_back({it.key(), std::move(item)});
      }
      v = TLineValue(std::move(fields));
      return true;
    }
    case ordered_json::value_t::array: {
      std::vector<TLineValue> items;
      for (const auto& e : j) {
        TLineValue item;
        if (!ToLineValue(e, depth + 1, item)) return false;
        items.push_back(std::move(item));
      }
      v = TLineValue::List(std::move(items));
      return true;
    }
    default: return false;  // binary values and the parser's discarded ones
  }
}

// The object's members beside those named, as fields.
bool OtherFields(const ordered_json& o, std::initializer_list<const char*> own, TLineFields& fields) {
  for (auto it = o.begin(); it != o.end(); ++it) {
    bool isOwn = false;
    for (const char* n : own) isOwn = isOwn || it.key() == n;
    if (isOwn) continue;
    TLineValue v;
    if (!ToLineValue(it.value(), 1, v)) return false;
    fields.push_back({it.key(), std::move(v)});
  }
  return true;
}

bool IsBlank(const std::string& s) {
  for (char c : s)
    if (c != ' ' && c != '\t' && c != '\r') return false;
  return true;
}

}  // namespace

const char* ToolName(int page) {
  return page >= 0 && page < static_cast<int>(std::size(kToolNames)) ? kToolNames[page] : "";
}

int PageOfToolName(const std::string& name) {
  for (int i = 0; i < static_cast<int>(std::size(kToolNames)); ++i)
    if (name == kToolNames[i]) return i;
  return -1;
}

bool ColorOfLineKind(const std::string& kind, TColor& color) {
  for (TColor c : {clBlack, clBlue, clNavy, clGreen, clRed, clMaroon}) {
    if (kind == LineKind(c)) {
      color = c;
      return true;
    }
  }
  return false;
}

TSaveFormat SaveFormatOf(const std::string& path) {
  const size_t dot = path.find_last_of("./");
  const std::string ext =
      dot != std::string::npos && path[dot] == '.' ? Lower(path.substr(dot + 1)) : std::string();
  if (ext == "html" || ext == "htm") return TSaveFormat::Html;
  if (ext == "jsonl" || ext == "json") return TSaveFormat::JsonLines;
  return TSaveFormat::Text;
}

std::string OutputAsText(const std::vector<TOutputLine>& lines) {
  std::string out;
  for (const TOutputLine& l : lines) out += ConsoleLine(l.Text, l.Color, false) + "\n";
  return out;
}

std::string OutputAsHtml(const std::string& title, const std::vector<TOutputLine>& lines) {
  std::string out =
      "<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n<title>";
  AppendEscapedHtml(out, ConsoleLine(title, clBlack, false));
  out += "</title>\n</head>\n<body style=\"background:#ffffff\">\n<pre>\n";
  for (const TOutputLine& l : lines) {
    char colour[8];
    std::snprintf(colour, sizeof colour, "#%06x", static_cast<unsigned>(l.Color & 0xFFFFFF));
    out += "<span style=\"color:";
    out += colour;
    out += "\">";
    AppendEscapedHtml(out, ConsoleLine(l.Text, l.Color, false));
    out += "</span>\n";
  }
  out += "</pre>\n</body>\n</html>\n";
  return out;
}

std::string OutputAsJsonLines(const std::string& tool, const std::vector<TOutputLine>& lines,
                              const std::string& status, const TLineFields& result) {
  std::string out;
  for (const TOutputLine& l : lines) out += JsonLine(tool, l) + "\n";
  out += JsonResult(tool, status, result) + "\n";
  return out;
}

bool WriteFileAtomically(const std::string& path, const std::string& content, std::string& error) {
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  std::string temp = path + ".XXXXXX";
  const int fd = mkstemp(temp.data());
  if (fd < 0) {
    error = std::strerror(errno);
    return false;
  }
  auto fail = [&](int e) {
    close(fd);
    unlink(temp.c_str());
    error = std::strerror(e);
    return false;
  };
  // mkstemp makes the file for its owner alone: a file saved over keeps
  // its mode, a new one is an ordinary document (the umask cannot be read
  // without changing it, which other threads would see).
  struct stat old {};
  const mode_t mode = stat(path.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0644;
  if (fchmod(fd, mode) != 0) return fail(errno);
  for (size_t done = 0; done < content.size();) {
    const ssize_t n = write(fd, content.data() + done, content.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return fail(n < 0 ? errno : EIO);
    done += static_cast<size_t>(n);
  }
  if (fsync(fd) != 0) return fail(errno);
  if (close(fd) != 0) {
    const int e = errno;
    unlink(temp.c_str());
    error = std::strerror(e);
    return false;
  }
  if (rename(temp.c_str(), path.c_str()) != 0) {
    const int e = errno;
    unlink(temp.c_str());
    error = std::strerror(e);
    return false;
  }
  // The rename itself is on the disk once the folder is.
  if (const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
    fsync(dir);
    close(dir);
  }
  return true;
}

bool ParseRecordLine(const std::string& text, TRecordedLine& line, TRecordedResult& result,
                     bool& isResult) {
  if (text.size() > kRecordingMaxLineLength) return false;
  const ordered_json o = ordered_json::parse(text, nullptr, false);
  if (!o.is_object()) return false;
  const auto tool = o.find("tool");
  const auto kind = o.find("kind");
  if (tool == o.end() || kind == o.end() || !tool->is_string() || !kind->is_string()) return false;
  const int page = PageOfToolName(tool->get<std::string>());
  if (page < 0) return false;
  const std::string k = kind->get<std::string>();
  if (k == "result") {
    const auto status = o.find("status");
    TRecordedResult r;
    r.Page = page;
    if (status != o.end() && status->is_string()) r.Status = status->get<std::string>();
    if (!OtherFields(o, {"tool", "kind", "status"}, r.Fields)) return false;
    result = std::move(r);
    isResult = true;
    return true;
  }
  TColor color = clBlack;
  const auto lineText = o.find("text");
  if (!ColorOfLineKind(k, color) || lineText == o.end() || !lineText->is_string()) return false;
  TRecordedLine l;
  l.Page = page;
  l.Line.Color = color;
  l.Line.Text = lineText->get<std::string>();
  if (!OtherFields(o, {"tool", "kind", "text"}, l.Line.Fields)) return false;
  line = std::move(l);
  isResult = false;
  return true;
}

TRecording ReadRecording(std::istream& in) {
  TRecording rec;
  size_t number = 0, kept = 0, bytes = 0;
  std::string text;
  bool tooLong = false;
  auto bad = [&] {
    ++rec.BadLines;
    if (rec.FirstBadLine == 0) rec.FirstBadLine = number;
  };
  auto finish = [&] {
    ++number;
    const bool blank = !tooLong && IsBlank(text);
    if (!blank && (kept >= kRecordingMaxLines || bytes >= kRecordingMaxBytes)) {
      rec.Capped = true;  // this line and what follows stay unread
    } else if (tooLong) {
      bad();
      ++kept;
    } else if (!blank) {
      bytes += text.size();
      TRecordedLine line;
      TRecordedResult result;
      bool isResult = false;
      if (!ParseRecordLine(text, line, result, isResult)) {
        bad();
      } else if (isResult) {
        rec.Results.push_back(std::move(result));
      } else {
        rec.Lines.push_back(std::move(line));
      }
      ++kept;
    }
    text.clear();
    tooLong = false;
  };
  char buf[16384];
  while (!rec.Capped && in) {
    in.read(buf, sizeof buf);
    const size_t n = static_cast<size_t>(in.gcount());
    for (size_t i = 0; i < n && !rec.Capped; ++i) {
      if (buf[i] == '\n') {
        finish();
      } else if (!tooLong) {
        if (text.size() >= kRecordingMaxLineLength) {
          tooLong = true;
          text.clear();
          text.shrink_to_fit();
        } else {
          text += buf[i];
        }
      }
    }
  }
  // A last line without its line end (a run cut short).
  if (!rec.Capped && (tooLong || !text.empty())) finish();
  return rec;
}

}  // namespace quovix
