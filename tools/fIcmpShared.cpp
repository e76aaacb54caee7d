#include "tools/fIcmpShared.h"

#include <cerrno>
#include <cstring>

#include "app/fCommandLine.h"
#include "app/formMain.h"
#include "common/fMain.h"
#include "platform/Icmp.h"
#include "shell/fLanguage.h"
#include "shell/gIni.h"

namespace quovix {

IcmpTarget ResolveIcmpTarget(const std::string& target, const std::string& unknownName) {
  IcmpTarget t;
  if (!IsHostName(target)) {
    // The user asked for this address: it is pinged and shown even when its
    // reverse name leads to another address.
    t.Address = target;
    t.HostName = ResolveIpToHost(target, NameResTimeout);
    if (t.HostName.empty()) t.HostName = unknownName;
    return t;
  }
  t.Address = ResolveHostToIp(target, NameResTimeout);
  if (t.Address.empty()) {
    t.Found = false;
    return t;
  }
  t.HostName = ResolveIpToHost(t.Address, NameResTimeout);
  return t;
}

void ReportIcmpNoService(TfrmMain& form, TRichEdit& pane, const IcmpEchoResult& echo,
                         bool& reported) {
  if (reported || echo.Status != kIcmpNoService) return;
  reported = true;
  if (echo.OpenError == EACCES || echo.OpenError == EPERM) {
    form.AppendOutput(pane,
                      LangText("Main|OutIcmpNoPermission",
                               "Keine Berechtigung für ICMP-Sockets: net.ipv4.ping_group_range "
                               "muss die eigene Gruppe enthalten, oder das Programm braucht "
                               "CAP_NET_RAW."),
                      clRed);
  } else {
    form.AppendOutput(pane,
                      LangText("Main|OutIcmpNoSocket",
                               "ICMP-Socket konnte nicht geöffnet werden: %s1%",
                               {std::strerror(echo.OpenError)}),
                      clRed);
  }
}

void PresetFlagFromParam(TCheckBox& box, const std::string& param) {
  if (HasParam(param)) box.SetChecked(GetParamValue(param) == "1");
}

void PresetItemFromParam(TComboBox& combo, const std::string& param) {
  const std::string value = GetParamValue(param);
  if (value.empty()) return;
  for (int i = 0; i < combo.Count(); ++i)
    if (SameTextAscii(combo.Items()[i], value)) return combo.SetItemIndex(i);
}

}  // namespace quovix
