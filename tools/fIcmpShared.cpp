#include "tools/fIcmpShared.h"

#include <cerrno>
#include <cstring>

#include "app/formMain.h"
#include "common/fMain.h"
#include "platform/Icmp.h"
#include "shell/fLanguage.h"
#include "shell/gIni.h"

namespace quovix {

IcmpTarget ResolveIcmpTarget(TfrmMain& form, TRichEdit& pane, const std::string& target,
                             const std::string& idn, bool preferIPv6) {
  IcmpTarget t;
  if (idn != target)
    form.AppendOutput(pane, LangText("Main|OutInfoIdnEncoded", "  IDN-kodiert: %s1%", {idn}),
                      clNavy);
  if (!IsHostName(idn)) {
    // The user asked for this address: it is the one sent to and shown, even
    // when its reverse name leads to another address.
    t.Address = CanonicalAddress(idn);
    t.HostName = ResolveIpToHost(idn, NameResTimeout);
    if (t.HostName.empty()) t.HostName = "???";
    return t;
  }
  t.Address = ResolveHostToAddress(idn, NameResTimeout, preferIPv6);
  if (t.Address.empty()) {
    t.Found = false;
    form.AppendOutput(
        pane, "\r\n" + LangText("Main|OutInfoNoIP", "Die IP-Adresse konnte nicht ermittelt werden."),
        clRed);
    return t;
  }
  t.HostName = ResolveIpToHost(t.Address, NameResTimeout);
  return t;
}

std::string UnreachableText(IcmpUnreachable reason) {
  switch (reason) {
    case IcmpUnreachable::Network: return LangText("Main|OutUnreachNet", "Netz");
    case IcmpUnreachable::Protocol: return LangText("Main|OutUnreachProtocol", "Protokoll");
    case IcmpUnreachable::Port: return LangText("Main|OutUnreachPort", "Port");
    case IcmpUnreachable::Prohibited:
      return LangText("Main|OutUnreachProhibited", "administrativ untersagt");
    case IcmpUnreachable::NoRoute: return LangText("Main|OutUnreachNoRoute", "keine Route");
    case IcmpUnreachable::BeyondScope:
      return LangText("Main|OutUnreachScope", "außerhalb des Bereichs der Absenderadresse");
    case IcmpUnreachable::SourcePolicy:
      return LangText("Main|OutUnreachPolicy", "Absenderadresse durch Richtlinie abgewiesen");
    case IcmpUnreachable::RejectRoute:
      return LangText("Main|OutUnreachReject", "Route abgewiesen");
    case IcmpUnreachable::PacketTooBig: return LangText("Main|OutUnreachTooBig", "Paket zu groß");
    case IcmpUnreachable::SourceRoute:
      return LangText("Main|OutUnreachSourceRoute", "Quellroute fehlgeschlagen");
    case IcmpUnreachable::Host:
    case IcmpUnreachable::None:
      break;
  }
  return LangText("Main|OutUnreachHost", "Host");
}

const char* UnreachableReason(IcmpUnreachable reason) {
  switch (reason) {
    case IcmpUnreachable::Network: return "network";
    case IcmpUnreachable::Protocol: return "protocol";
    case IcmpUnreachable::Port: return "port";
    case IcmpUnreachable::Prohibited: return "prohibited";
    case IcmpUnreachable::NoRoute: return "no_route";
    case IcmpUnreachable::BeyondScope: return "beyond_scope";
    case IcmpUnreachable::SourcePolicy: return "source_policy";
    case IcmpUnreachable::RejectRoute: return "reject_route";
    case IcmpUnreachable::PacketTooBig: return "packet_too_big";
    case IcmpUnreachable::SourceRoute: return "source_route";
    case IcmpUnreachable::Host:
    case IcmpUnreachable::None:
      break;
  }
  return "host";  // as the text says for these
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


}  // namespace quovix
