#include "shell/gIni.h"

namespace quovix {

int MaxRecentItems = 25;
int NameResTimeout = 2000;
std::string ActiveDnsServerIP;
std::string ExtIpUrl;
bool HttpProxyUseProxy = false;
std::string HttpProxyServerName;
int HttpProxyServerPort = 0;
std::string HttpProxyUsername;
std::string HttpProxyPassword;
std::string OutputFontName = "Courier New";
int OutputFontSize = 9;
int OutputFontCharset = 0;

// The INI file layer comes with the settings store; until then nothing is
// read or written.
void LoadSettings(TfrmMain&) {}
void SaveSettings(TfrmMain&) {}

}  // namespace quovix
