#include "app/fShared.h"

#include "common/fMain.h"
#include "platform/Desktop.h"
#include "platform/Privilege.h"
#include "shell/fLanguage.h"

#ifndef QUOVIX_VERSION
#define QUOVIX_VERSION "0.0.0"
#endif

namespace quovix {

bool IsUserAdmin() { return platform::Privilege().IsAdministrator(); }

std::string GetVersionInfoValue(const std::string& /*fileName*/, const std::string& key) {
  struct Entry {
    const char* key;
    const char* value;
  };
  static const Entry kValues[] = {
      {"ProductName", "Quovix"},
      {"ProductVersion", QUOVIX_VERSION},
      {"FileVersion", QUOVIX_VERSION},
      {"FileDescription", "Internet-Diagnosewerkzeuge"},
      {"LegalCopyright", "Copyright © Die Quovix-Entwickler"},
      {"CompanyName", "Die Quovix-Entwickler"},
      {"InternalName", "Quovix"},
      {"OriginalFilename", "Quovix"},
  };
  // Keys of version resources compare without regard to case.
  for (const auto& e : kValues)
    if (SameTextAscii(key, e.key)) return Trim(e.value);
  return {};
}

std::string EncodeMailtoText(const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size() * 3);
  for (char ch : text) {
    unsigned char c = static_cast<unsigned char>(ch);
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) {
      out += ch;
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0x0F];
    }
  }
  return out;
}

std::string MailtoLink(const std::string& address, const std::string& subject) {
  return "mailto:" + EncodeMailtoText(address) + "?subject=" + EncodeMailtoText(subject);
}

namespace {
bool OpenOrComplain(const std::string& url, const std::string& title, const std::string& text) {
  if (platform::Desktop().OpenUrl(url)) return true;
  platform::Desktop().MessageBox(title, text);
  return false;
}
}  // namespace

bool OpenWebPage(const std::string& url) {
  // Without a browser the address is the help: shown to be copied.
  return OpenOrComplain(
      url, LangText("General|MsgNoStdBrowserTitle", "Kein Standard-Webbrowser gefunden"),
      LangText("General|MsgNoStdBrowserText",
               "Ihr Standard-Webbrowser konnte nicht geöffnet werden!") +
          "\n\n" + LangText("General|MsgNoStdBrowserUrl", "Die Adresse zum Kopieren: %s1%", {url}));
}

bool OpenMailLink(const std::string& link) {
  return OpenOrComplain(
      link, LangText("General|MsgNoStdMailerTitle", "Kein Standard-Mailclient gefunden"),
      LangText("General|MsgNoStdMailerText",
               "Ihr Standard-Mailclient konnte nicht geöffnet werden!"));
}

}  // namespace quovix
