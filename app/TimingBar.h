// The bar the window draws beside an HTTP exchange's timing heading: its
// phases one after another, each as a share of the whole exchange, made
// from the figures the line carries, so the view needs no knowledge of the
// client and the console has nothing extra to leave out.
#pragma once

#include <vector>

#include "app/Controls.h"

namespace quovix {

enum class TimingPhase {
  Lookup,     // name look-up
  Connect,    // TCP connection (and proxy tunnel)
  Tls,        // TLS handshake
  FirstByte,  // from the request to the answer's first byte
  Rest,       // the rest of the exchange (request out, header block in)
};

struct TimingSegment {
  TimingPhase Phase;
  double Start = 0;  // share of the whole at which the phase begins, 0 … 1
  double Width = 0;  // its share, > 0
};

// The segments of a line with a total_ms field and the phase fields
// lookup_ms, connect_ms, tls_ms, first_byte_ms (null: not part of it); empty
// for any other line and for a total of zero. Shares never add up beyond 1.
std::vector<TimingSegment> TimingBarOf(const TLineFields& fields);

}  // namespace quovix
