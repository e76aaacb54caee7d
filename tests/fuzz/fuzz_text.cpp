// Text helpers that see server answers, language files and command lines:
// any bytes must give a defined result, never a crash or a hang.
#include <cstddef>
#include <cstdint>
#include <string>

#include "app/fCommandLine.h"
#include "app/fConsole.h"
#include "clients/WhoisClient.h"
#include "common/fMain.h"
#include "shell/fLanguage.h"

using namespace quovix;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string s(reinterpret_cast<const char*>(data), size);
  // First byte chooses a separator length, the rest is the text.
  std::string sep = s.empty() ? "|" : s.substr(0, 1 + (static_cast<unsigned char>(s[0]) % 2));
  std::string text = s.size() > 2 ? s.substr(2) : std::string();

  std::string decoded = DecodeUtf8(text);
  if (decoded.size() > text.size() * 2) __builtin_trap();
  for (int n = 0; n < 4; ++n) {
    std::string field = GetField(text, sep, n);
    if (field.size() > text.size()) __builtin_trap();
  }
  (void)CountOccurrences(text, sep);
  (void)LastLabel(text);
  if (SplitUrlPort(text).first.size() > text.size()) __builtin_trap();
  // An address read must print as text that reads back as the same address.
  const IpAddress a = IpAddress::Parse(text);
  if (!a.Empty() && IpAddress::Parse(a.ToString()) != a) __builtin_trap();
  (void)a.ReverseName();
  (void)LowerLatin(text);
  (void)StrToIntDef(text, 0);

  LanguageTable.clear();
  LanguageTable.push_back(text);
  (void)LangText(Trim(GetField(text, "=", 1)), text, {text, sep});
  LanguageTable.clear();

  (void)SplitCommandLine(text);
  ParseCommandLine({"prog", text, sep});
  (void)GetParamValue("Dns");
  (void)HasParam("Own");
  ParseCommandLine({});
  (void)ConsoleLine(text, 0xFF0000, true);
  // Shown text: one "?" at most for every byte, and nothing that steers a
  // terminal left in it.
  const std::string masked = MaskControls(text);
  if (masked.size() > text.size()) __builtin_trap();
  for (unsigned char c : masked)
    if ((c < 0x20 && c != '\t') || c == 0x7F) __builtin_trap();
  if (MaskControls(masked) != masked) __builtin_trap();
  if (WhoisNormaliseLineEnds(text).size() > 2 * text.size()) __builtin_trap();
  (void)WhoisCleanFormat(WhoisNormaliseLineEnds(text));
  return 0;
}
