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

// The navy "  Land:" line: the country of the address from the packs, or,
// for an address of a special-purpose range, the range's name in its place
// whatever the packs say; nothing when neither is known.
void AppendCountryLine(TfrmMain& form, TRichEdit& pane, const std::string& address);

}  // namespace quovix
