// The English language file against the program: every text key the sources
// ask for has an English text, no key is there twice, the file describes
// itself, and its flag picture is readable.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "app/DialogControls.h"
#include "common/fMain.h"
#include "support/TestFiles.h"

namespace fs = std::filesystem;

namespace {

const fs::path kSource = QUOVIX_SOURCE_DIR;

using quovix::test::ReadFile;

struct Literal {
  std::string Text;
  int Line;
};

// The string literals of a C++ source, comments skipped (a key named in a
// comment as an example is not one the program asks for). Escapes are kept
// as written; keys contain none.
std::vector<Literal> StringLiterals(const std::string& src) {
  std::vector<Literal> out;
  int line = 1;
  size_t i = 0;
  const size_t n = src.size();
  while (i < n) {
    char c = src[i];
    if (c == '\n') {
      ++line;
      ++i;
    } else if (c == '/' && i + 1 < n && src[i + 1] == '/') {
      while (i < n && src[i] != '\n') ++i;
    } else if (c == '/' && i + 1 < n && src[i + 1] == '*') {
      i += 2;
      while (i + 1 < n && !(src[i] == '*' && src[i + 1] == '/')) line += src[i++] == '\n';
      i += 2;
    } else if (c == 'R' && i + 1 < n && src[i + 1] == '"' &&
               (i == 0 || !(std::isalnum(static_cast<unsigned char>(src[i - 1])) || src[i - 1] == '_'))) {
      // Raw string: R"delim( ... )delim"
      size_t open = src.find('(', i + 2);
      if (open == std::string::npos) break;
      std::string close = ")" + src.substr(i + 2, open - i - 2) + "\"";
      size_t end = src.find(close, open + 1);
      if (end == std::string::npos) break;
      out.push_back({src.substr(open + 1, end - open - 1), line});
      for (size_t k = i; k < end; ++k) line += src[k] == '\n';
      i = end + close.size();
    } else if (c == '"' || c == '\'') {
      const int start = line;
      std::string text;
      ++i;
      while (i < n && src[i] != c && src[i] != '\n') {
        if (src[i] == '\\' && i + 1 < n) text += src[i++];
        text += src[i++];
      }
      ++i;
      if (c == '"') out.push_back({text, start});
    } else {
      ++i;
    }
  }
  return out;
}

// Keys of the file in order of appearance (lower case, as the look-up
// compares them), with the line each one is on.
std::multimap<std::string, int> FileKeys(const std::string& text) {
  std::multimap<std::string, int> keys;
  std::istringstream in(text);
  std::string line;
  for (int no = 1; std::getline(in, line); ++no) {
    std::string t = quovix::Trim(line);
    if (t.empty() || t[0] == '#') continue;
    size_t eq = t.find('=');
    keys.emplace(quovix::LowerLatin(quovix::Trim(t.substr(0, eq))), no);
  }
  return keys;
}

}  // namespace

TEST(EnglishLanguageFile, HasATextForEveryKeyTheProgramUses) {
  const auto fileKeys = FileKeys(ReadFile(kSource / "lang/English.lng"));
  ASSERT_FALSE(fileKeys.empty()) << "lang/English.lng missing or empty";

  // A key is a literal "Section|Name" of one of the program's sections; that
  // finds keys passed to LangText as well as those kept in tables.
  static const std::regex kKey("(Main|Opt|Info|General|Lang|Font)\\|[A-Za-z0-9_]+");
  std::map<std::string, std::string> missing;  // key → first place used
  int used = 0;
  for (const char* dir : {"app", "shell", "common", "clients", "tools", "cli", "ui"}) {
    if (!fs::is_directory(kSource / dir)) continue;
    for (const auto& e : fs::recursive_directory_iterator(kSource / dir)) {
      const std::string ext = e.path().extension().string();
      if (!e.is_regular_file() || (ext != ".cpp" && ext != ".h")) continue;
      for (const Literal& lit : StringLiterals(ReadFile(e.path()))) {
        if (!std::regex_match(lit.Text, kKey)) continue;
        ++used;
        if (fileKeys.count(quovix::LowerLatin(lit.Text))) continue;
        const std::string where =
            fs::relative(e.path(), kSource).string() + ":" + std::to_string(lit.Line);
        missing.emplace(lit.Text, where);
      }
    }
  }
  EXPECT_GT(used, 50) << "the scan found hardly any keys; is QUOVIX_SOURCE_DIR right?";
  std::string list;
  for (const auto& [key, where] : missing) list += "  " + key + "  (" + where + ")\n";
  EXPECT_TRUE(missing.empty()) << missing.size()
                               << " key(s) used by the program have no English text in "
                                  "lang/English.lng:\n"
                               << list;
}

TEST(EnglishLanguageFile, HasEachKeyOnceAndDescribesItself) {
  const std::string text = ReadFile(kSource / "lang/English.lng");
  const auto keys = FileKeys(text);
  std::string twice;
  for (auto it = keys.begin(); it != keys.end(); it = keys.upper_bound(it->first))
    if (keys.count(it->first) > 1)
      twice += "  " + it->first + " (lines " + std::to_string(it->second) + ", " +
               std::to_string(std::next(it)->second) + ")\n";
  EXPECT_TRUE(twice.empty()) << "keys given more than once (only the first counts):\n" << twice;

  for (const char* key : {"lang|language", "lang|authorname", "lang|authorsite", "lang|authormail"})
    EXPECT_EQ(keys.count(key), 1u) << key;
  EXPECT_NE(text.find("\nLang|Language=English"), std::string::npos);

  int w = 0, h = 0;
  ASSERT_TRUE(quovix::ReadBitmapSize((kSource / "lang/English.bmp").string(), w, h))
      << "lang/English.bmp missing or not a bitmap";
  EXPECT_LE(w, 80) << "the flag must fit left of the language texts";
}

TEST(EnglishLanguageFile, ScannerSeesTablesAndSkipsComments) {
  const auto lits = StringLiterals(
      "// \"Main|InComment\"\n"
      "/* \"Main|InBlock\" */ x = LangText(\"Main|Called\", \"Text \\\"q\\\"\");\n"
      "{\"Opt|InTable\", 'x'}, R\"(Info|Raw)\"\n");
  std::vector<std::string> texts;
  for (const auto& l : lits) texts.push_back(l.Text);
  EXPECT_EQ(texts, (std::vector<std::string>{"Main|Called", "Text \\\"q\\\"", "Opt|InTable",
                                             "Info|Raw"}));
  EXPECT_EQ(lits[2].Line, 3);
}
