// Settings store: process-wide settings values and the INI file that keeps
// them with the input histories.
#pragma once

#include <string>

namespace quovix {

class TfrmMain;

extern int MaxRecentItems;      // 5–100, default 25
extern int NameResTimeout;      // ms, 100–10000, default 2000
extern std::string ActiveDnsServerIP;
extern std::string ExtIpUrl;
extern bool HttpProxyUseProxy;
extern std::string HttpProxyServerName;
extern int HttpProxyServerPort;  // 0–32767
extern std::string HttpProxyUsername;
extern std::string HttpProxyPassword;
extern std::string OutputFontName;  // default "Courier New"
extern int OutputFontSize;          // default 9
extern int OutputFontCharset;       // default 0

// Reads everything into the memory values and the window's controls.
void LoadSettings(TfrmMain& form);
// Writes everything back.
void SaveSettings(TfrmMain& form);

}  // namespace quovix
