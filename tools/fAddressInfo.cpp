#include "tools/fAddressInfo.h"

#include "app/formMain.h"
#include "common/AsLookup.h"
#include "common/IpAddress.h"
#include "common/fMain.h"
#include "shell/fLanguage.h"

namespace quovix {

std::string SpecialRangeText(SpecialRange kind) {
  switch (kind) {
    case SpecialRange::None: return {};
    case SpecialRange::ThisNetwork: return LangText("Main|OutRangeThisNetwork", "(dieses Netz)");
    case SpecialRange::Unspecified: return LangText("Main|OutRangeUnspecified", "(unbestimmt)");
    case SpecialRange::Private: return LangText("Main|OutRangePrivate", "(privat)");
    case SpecialRange::Shared:
      return LangText("Main|OutRangeShared", "(gemeinsamer Adressraum, Carrier-NAT)");
    case SpecialRange::Loopback: return LangText("Main|OutRangeLoopback", "(Loopback)");
    case SpecialRange::LinkLocal: return LangText("Main|OutRangeLinkLocal", "(link-lokal)");
    case SpecialRange::Protocol:
      return LangText("Main|OutRangeProtocol", "(IETF-Protokollzuweisung)");
    case SpecialRange::Documentation:
      return LangText("Main|OutRangeDocumentation", "(Dokumentation)");
    case SpecialRange::Benchmarking: return LangText("Main|OutRangeBenchmarking", "(Benchmarking)");
    case SpecialRange::Relay6to4: return LangText("Main|OutRangeRelay6to4", "(6to4-Relay)");
    case SpecialRange::SixToFour: return LangText("Main|OutRangeSixToFour", "(6to4)");
    case SpecialRange::Teredo: return LangText("Main|OutRangeTeredo", "(Teredo)");
    case SpecialRange::UniqueLocal:
      return LangText("Main|OutRangeUniqueLocal", "(eindeutig lokal, ULA)");
    case SpecialRange::Discard: return LangText("Main|OutRangeDiscard", "(nur zum Verwerfen)");
    case SpecialRange::Multicast: return LangText("Main|OutRangeMulticast", "(Multicast)");
    case SpecialRange::Broadcast: return LangText("Main|OutRangeBroadcast", "(Broadcast)");
    case SpecialRange::Reserved: return LangText("Main|OutRangeReserved", "(reserviert)");
  }
  return {};
}

void AppendCountryLine(TfrmMain& form, TRichEdit& pane, const std::string& address) {
  if (!IsIpAddress(address)) return;  // no address, no country (and no pack to load for it)
  const std::string country = LookupIpCountry(address);
  if (country.empty()) return;
  const SpecialRangeMatch special = FindSpecialRange(address);
  if (special.Kind != SpecialRange::None) {
    form.AppendOutput(pane,
                      LangText("Main|OutInfoCountry", "  Land:        %s1%",
                               {SpecialRangeText(special.Kind)}),
                      clNavy,
                      {{"special_range", SpecialRangeName(special.Kind)}, {"range", special.Prefix}});
    return;
  }
  form.AppendOutput(pane, LangText("Main|OutInfoCountry", "  Land:        %s1%", {country}), clNavy);
}

void AppendAsLine(TfrmMain& form, TRichEdit& pane, const std::string& address) {
  const std::optional<AsInfo> as = LookupAs(address);
  if (!as) return;
  std::string text = "AS" + std::to_string(as->Asn);
  if (!as->Name.empty()) text += " " + as->Name;
  form.AppendOutput(pane, LangText("Main|OutInfoNetwork", "  Netz (AS):   %s1%", {text}), clNavy,
                    {{"asn", static_cast<long long>(as->Asn)}, {"as_name", as->Name}});
}

void AppendPlaceLines(TfrmMain& form, TRichEdit& pane, const std::string& address) {
  AppendCountryLine(form, pane, address);
  AppendAsLine(form, pane, address);
}

}  // namespace quovix
