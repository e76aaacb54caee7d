// Small operations shared by the main window, the dialogs and the tools:
// the privilege test, the program's version values, mail-link encoding and
// opening web pages or mail links with the message boxes on failure.
#pragma once

#include <string>

namespace quovix {

// Endpoints of the Help menu and the about dialog.
inline constexpr const char* kProductUrl = "https://quovix.example.org/";
inline constexpr const char* kDonateUrl = "https://quovix.example.org/donate";
inline constexpr const char* kAuthorUrl = "https://quovix.example.org/";
inline constexpr const char* kAuthorMail = "author@quovix.example.org";
inline constexpr const char* kAuthorName = "Die Quovix-Entwickler";

// True when the process may do what needs an administrator: on Linux an
// effective user id of 0. Goes through the privilege seam, so tests can fake it.
bool IsUserAdmin();

// A version value compiled into the program: "ProductName", "ProductVersion",
// "FileVersion", "FileDescription", "LegalCopyright", "CompanyName",
// "InternalName", "OriginalFilename". Empty text for any other key. The file
// name is accepted for the familiar call shape; every binary of this program
// carries the same values, so it is not read.
std::string GetVersionInfoValue(const std::string& fileName, const std::string& key);

// ASCII letters and digits kept; every other byte becomes "%" and two
// upper-case hex digits.
std::string EncodeMailtoText(const std::string& text);

// "mailto:" link with an encoded address and subject.
std::string MailtoLink(const std::string& address, const std::string& subject);

// Opens a web page with the default browser; on failure shows the
// "no default browser" message box. Returns whether it opened.
bool OpenWebPage(const std::string& url);
// Opens a mailto link with the default mail program; on failure shows the
// "no default mail client" message box. Returns whether it opened.
bool OpenMailLink(const std::string& link);

}  // namespace quovix
