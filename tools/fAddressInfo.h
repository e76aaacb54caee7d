// Lines about an address that the host blocks of several tools share.
#pragma once

#include <string>

#include "app/Controls.h"
#include "common/SpecialRanges.h"

namespace quovix {

class TfrmMain;

// The name of a special-purpose range as the output shows it: "(privat)",
// "(Dokumentation)" …; empty for none.
std::string SpecialRangeText(SpecialRange kind);

// The navy "  Land:" line: the country of the address from the packs; for
// an address of a special-purpose range, which belongs to no country, the
// range's name in its place whatever the packs say. Nothing when the packs
// know no country.
void AppendCountryLine(TfrmMain& form, TRichEdit& pane, const std::string& address);

// The navy "  Netz (AS):" line with the AS that announces the address
// (fields asn, as_name); nothing when the AS packs know none.
void AppendAsLine(TfrmMain& form, TRichEdit& pane, const std::string& address);

// Both: the country line, then the network line.
void AppendPlaceLines(TfrmMain& form, TRichEdit& pane, const std::string& address);

}  // namespace quovix
