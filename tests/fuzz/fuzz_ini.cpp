// Settings files and resolver files are read from disk and may be damaged or
// hostile: parsing, reading, writing and list reading must stay defined.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/DnsConfig.h"
#include "shell/gIni.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  quovix::platform::ParseResolvConfServers(text);

  quovix::TIniDocument doc;
  doc.Parse(text);
  if (doc.Text() != text) __builtin_trap();  // an untouched file is kept byte for byte
  doc.ReadString("Settings", "MaxRecentItems", "25");
  doc.ReadListItems("HistDnsHost", "Item");
  doc.WriteString("Settings", "Language", "x");
  doc.WriteString("New Section", "Key", "value");
  doc.WriteListItems("HistDnsHost", "Item", {"a", "\"b c\""});
  quovix::TIniDocument again;
  again.Parse(doc.Text());
  if (again.ReadString("Settings", "Language", "") != "x") __builtin_trap();
  if (again.ReadString("New Section", "Key", "") != "value") __builtin_trap();
  if (again.ReadString("HistDnsHost", "Item2", "") != "b c") __builtin_trap();
  return 0;
}
