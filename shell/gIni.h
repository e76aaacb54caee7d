// Settings store: process-wide settings values, the INI file that keeps them
// with the input histories, and the INI access layer.
#pragma once

#include <string>
#include <unordered_map>
#include <vector>

namespace quovix {

class TfrmMain;

extern int MaxRecentItems;      // 5–100, default 25
extern int NameResTimeout;      // ms, 100–10000, default 2000
extern int TimeSetLimit;        // s, the largest clock step set unasked, default 1000
extern int TimeSamples;         // NTP exchanges per time query, 1–16, default 4
extern std::string ActiveDnsServerIP;
extern std::string ExtIpUrl;
extern bool HttpProxyUseProxy;
extern std::string HttpProxyServerName;
extern int HttpProxyServerPort;  // 0–65535
extern std::string HttpProxyUsername;
extern std::string HttpProxyPassword;
extern std::string OutputFontName;  // default "": the desktop's fixed-width font
extern int OutputFontSize;          // default 0: the desktop's size
extern int OutputFontCharset;       // default 0

// Puts the memory values back to their built-in defaults (LanguageName
// included), as before any settings file was read.
void ResetSettingsValues();

// Reads everything into the memory values and the window's controls; a
// missing or unreadable file gives the defaults. False when the file is
// there but cannot be read.
bool LoadSettings(TfrmMain& form);
// Writes everything back in one step: the new file replaces the old one only
// once it is complete. False when the file could not be written (the old file
// is then unchanged).
bool SaveSettings(TfrmMain& form);

// A history list of the file (list format, prefix "Item") read and written
// as the window's histories are: entries unquoted, trimmed, empty ones
// dropped, at most MaxRecentItems; written quoted where needed. The write
// changes only that section of the file.
std::vector<std::string> ReadHistoryList(const std::string& file, const std::string& section);
bool WriteHistoryList(const std::string& file, const std::string& section,
                      const std::vector<std::string>& items);

// Proxy password as stored: four upper-case hex digits per byte.
std::string ScramblePassword(const std::string& password);
std::string UnscramblePassword(const std::string& text);

// The servers a history holds when the stored one is empty.
const std::vector<std::string>& DefaultWhoisServers();
const std::vector<std::string>& DefaultTimeServers();

// ---- Where the settings live -------------------------------------------------

// The name of the settings file, the same for both front ends.
inline constexpr const char* kSettingsFileName = "Quovix.ini";

// The environment the choice depends on (XDG base directories).
struct TSettingsEnvironment {
  std::string XdgConfigHome;  // $XDG_CONFIG_HOME; ignored unless absolute
  std::string Home;           // $HOME, or the home folder of the user's account
  std::string XdgConfigDirs;  // $XDG_CONFIG_DIRS; empty means /etc/xdg
};
TSettingsEnvironment SettingsEnvironment();

struct TSettingsLocation {
  std::string ProgramFolder;  // the data packs, lists and Language/, ending with "/"
  std::string IniFilePath;    // the settings file read and written
  // A Quovix.ini that starts the user's file when that does not exist yet
  // (a site default beside the program or in $XDG_CONFIG_DIRS/quovix/);
  // empty when there is none or the settings stay beside the program.
  std::string SiteDefault;
  bool Installed = false;   // <prefix>/bin/ beside <prefix>/share/quovix/
  bool UserConfig = false;  // IniFilePath is in the user's config folder
};

// programFile: the running program's full path. Installed, the data live in
// <prefix>/share/quovix/ and the settings in the user's config folder; in a
// build or portable folder both stay beside the program, unless that folder
// is not writable: then the settings go to the user's config folder too.
TSettingsLocation ChooseSettingsLocation(const std::string& programFile,
                                         const TSettingsEnvironment& env);

// The window's first start in the user's config folder: creates the folder
// (mode 0700) and starts the file as a copy of the site default (mode 0600).
// Empty when all is well, otherwise the path that could not be made.
std::string PrepareSettingsFile(const TSettingsLocation& location);

// The file a reader that writes nothing (the console) takes: the user's file,
// or before the window's first start there the site default.
std::string SettingsFileToRead(const TSettingsLocation& location);

// True when the settings file can be replaced: its folder (or the nearest
// existing one above it, for a folder still to be made) is writable and the
// path is not taken by anything but a regular file.
bool SettingsFileWritable(const std::string& iniFile);

// Tells the user once per process that the settings file cannot be written
// or read (a message box in the window, a line on stderr in the console).
// Later calls do nothing; ResetSettingsReport() is for tests.
void ReportSettingsProblem(bool reading, const std::string& iniFile);
void ResetSettingsReport();

// ---- INI access layer ------------------------------------------------------
// Semantics of the classic profile functions: section and key names compare
// without regard to ASCII case; a read gives the value without the blanks
// around it and without one pair of surrounding double or single quotes, cut
// at kIniMaxValue bytes (and at a zero byte); a write changes only its own
// line and keeps every other line, comment and section; a missing file or
// section is created by the write. Of duplicate keys the first one counts.

constexpr size_t kIniMaxValue = 10239;
// A list longer than this is read only this far.
constexpr int kIniMaxListItems = 10000;
// A real settings file has a few hundred keys in a handful of sections; a
// file with more is read this far (its memory stays a small multiple of the
// file's size) and is then never saved over, so nothing of it is lost.
constexpr size_t kIniMaxSections = 1000;
constexpr size_t kIniMaxKeys = 20000;
constexpr size_t kIniMaxLines = 100000;

// What a document left unread: the bound the file went beyond ("sections",
// "keys" or "lines") and the first line not read (1-based); Bound empty when
// the whole file was read.
struct TIniDropped {
  std::string Bound;
  size_t FromLine = 0;
};

// What LoadSettings left unread of the settings file (see TIniDropped).
extern TIniDropped SettingsDropped;
// Names that on stderr, in the user's language (so once the language file
// is read); nothing when the whole file was read.
void ReportSettingsDropped(const std::string& iniFile);

// One INI file in memory: many reads and writes, one file access each way.
class TIniDocument {
 public:
  enum class LoadResult { Ok, Missing, Failed };
  // Failed: the file exists but cannot be read (or is too large); the
  // document is then empty and must not be saved over the file.
  LoadResult Load(const std::string& path);
  void Parse(const std::string& text);
  // The file's text: unchanged lines byte for byte.
  std::string Text() const;
  // Writes the text beside the file and renames it into place (through a
  // symbolic link to its target), so the file is always either the old or the
  // new one. False when that failed, or when the document was not read
  // whole (Dropped); the old file is then untouched.
  bool Save(const std::string& path) const;
  const TIniDropped& Dropped() const { return dropped_; }

  bool Has(const std::string& section, const std::string& key) const;
  std::string ReadString(const std::string& section, const std::string& key,
                         const std::string& def) const;
  int ReadInt(const std::string& section, const std::string& key, int def) const;
  bool ReadBool(const std::string& section, const std::string& key, bool def) const;
  // False when the names or the value cannot be stored in an INI line (line
  // breaks, zero bytes, "]" in a section name, "=" in a key).
  bool WriteString(const std::string& section, const std::string& key, const std::string& value);
  bool WriteInt(const std::string& section, const std::string& key, int value);
  bool WriteBool(const std::string& section, const std::string& key, bool value);

  // List format: prefix = N, prefix1 … prefixN.
  std::vector<std::string> ReadListItems(const std::string& section, const std::string& prefix) const;
  bool WriteListItems(const std::string& section, const std::string& prefix,
                      const std::vector<std::string>& items);

 private:
  struct Line {
    std::string Text, Eol;
  };
  struct Section {
    std::vector<Line> Lines;  // the header first (none for the part before any section)
    std::unordered_map<std::string, size_t> Keys;  // lower-case key → line
  };
  const Line* Find(const std::string& section, const std::string& key) const;
  void AddSection(const std::string& lowerName);

  std::string bom_;
  std::string eol_ = "\n";
  TIniDropped dropped_;
  std::vector<Section> sections_;
  std::unordered_map<std::string, std::vector<size_t>> byName_;
};

std::string IniReadString(const std::string& file, const std::string& section,
                          const std::string& key, const std::string& def);
int IniReadInt(const std::string& file, const std::string& section, const std::string& key, int def);
bool IniReadBool(const std::string& file, const std::string& section, const std::string& key,
                 bool def);
bool IniWriteString(const std::string& file, const std::string& section, const std::string& key,
                    const std::string& value);
bool IniWriteInt(const std::string& file, const std::string& section, const std::string& key,
                 int value);
bool IniWriteBool(const std::string& file, const std::string& section, const std::string& key,
                  bool value);
// The list's entries joined with separator.
std::string IniReadList(const std::string& file, const std::string& section,
                        const std::string& prefix, const std::string& separator);
// Writes the fields of joined (split at separator) as a list.
bool IniWriteList(const std::string& file, const std::string& section, const std::string& prefix,
                  const std::string& joined, const std::string& separator);

}  // namespace quovix
