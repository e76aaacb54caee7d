// Language texts: every visible text comes from LangText with a key and a
// German default; a language file may replace it.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace quovix {

class TMenuItem;

extern std::string LanguageName;
extern std::vector<std::string> LanguageTable;

// The text for key (or the default), placeholders %s1%, %s2%, … filled from
// args and escapes (%w% %r% %n% %t% %_% $%$) expanded; at most
// kMaxExpandedText bytes beyond the arguments' own length.
constexpr std::size_t kMaxExpandedText = 64 * 1024;
std::string LangText(const std::string& key, const std::string& def);
std::string LangText(const std::string& key, const std::string& def,
                     const std::vector<std::string>& args);
// Arguments joined with 0x01 (one text: one argument).
std::string LangTextJoined(const std::string& key, const std::string& def,
                           const std::string& joinedArgs);

// Replaces LanguageTable with the kept lines of the file; -1 when missing or
// not a regular file.
int LoadLanguageFile(const std::string& path);
// The file of the language name in the folder "Language/" beside the
// program, with the extension (".lng", ".bmp"); empty when the name could
// reach outside that folder (a path separator, a leading "."), is empty, or
// is a symbolic link to a file outside it.
std::string LanguageFile(const std::string& name, const std::string& extension);

// Name of the built-in German texts in the language menu.
constexpr const char* kBuiltinLanguage = "Deutsch (intern)";

// Fills the language submenu from folder/*.lng; click is set on every item.
void BuildLanguageMenu(TMenuItem& menu, const std::string& folder,
                       const std::function<void(TMenuItem&)>& click);

}  // namespace quovix
