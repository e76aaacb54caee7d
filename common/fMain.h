// Shared helpers: text and URL helpers, host names and addresses, data packs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "common/IpAddress.h"

namespace quovix {

// ---- Text and URL helpers ----------------------------------------------------

// Number of non-overlapping occurrences of search in text; 0 for an empty search.
int CountOccurrences(const std::string& text, const std::string& search);
// The n-th (1-based) field of text split at separator; empty when out of range.
std::string GetField(const std::string& text, const std::string& separator, int n);
// Characters after the last "." (the whole name without one).
std::string LastLabel(const std::string& name);
// The text without its ":port" part, and the port (-1 when none or not a number).
// An IPv6 literal takes a port only in brackets ("[::1]:5353" gives "[::1]"
// and 5353); an unbracketed one ("::1", "fe80::1%eth0") has none.
std::pair<std::string, int> SplitUrlPort(const std::string& text);
// Decodes bytes that should be UTF-8 into display text (UTF-8); never fails.
std::string DecodeUtf8(const std::string& bytes);

// Blanks, tabs and line ends (space, TAB, LF, VT, FF, CR) removed from both
// ends; other control characters stay, to be shown (see MaskControls).
std::string Trim(const std::string& s);
std::string TrimLeft(const std::string& s);
std::string TrimRight(const std::string& s);
// Text fit for a terminal or an output line: every control character (C0
// other than TAB, DEL, C1 whether UTF-8 encoded or a stray 8-bit byte) and
// every bidirectional embedding, override and isolate (U+202A-U+202E,
// U+2066-U+2069) becomes "?". Everything else passes unchanged.
std::string MaskControls(const std::string& text);
// ASCII-only case changes.
std::string LowerAscii(std::string s);
std::string UpperAscii(std::string s);
bool SameTextAscii(const std::string& a, const std::string& b);
// Lower case of ASCII letters and of the Latin-1 letters (À–Þ, UTF-8 encoded),
// so that "Ä" and "ä" compare equal; other bytes unchanged.
std::string LowerLatin(std::string s);
// Comparison without regard to letter case in the sense of LowerLatin.
bool SameText(const std::string& a, const std::string& b);
// Every occurrence of from replaced by to (case-sensitive).
std::string ReplaceAll(std::string s, const std::string& from, const std::string& to);
// Whole-text integer parse like the platform's StrToIntDef: optional sign,
// decimal digits (or $/0x hex); anything else gives the default.
int StrToIntDef(const std::string& s, int def);
// The bytes in base 64 (RFC 4648, with padding).
std::string Base64(const std::string& bytes);
// Text cut to at most n bytes.
std::string Cut(const std::string& s, size_t n);
// At most n bytes without splitting a UTF-8 character (for text that is
// shown: a half character would reach the terminal).
std::string CutUtf8(const std::string& s, size_t n);
// A measured value with one decimal and a point ("12.3"), as the figures of
// the Ping and Trace tools show their round trips and shares.
std::string FormatDecimal1(double value);
// The host name, address (either family, with its zone) or hardware address
// around byte offset at of a line of UTF-8 text, as [first, first + length):
// what a double click on it selects. Points, hyphens and a colon that end a
// sentence or a label are not part of it. Length 0 where there is none.
std::pair<size_t, size_t> HostSpanAt(const std::string& line, size_t at);

// ---- Host names, addresses, IDN --------------------------------------------

// False exactly when text is an address: a dotted IPv4 address or an IPv6
// literal (with or without "[ ]", with or without "%zone"; see IpAddress).
bool IsHostName(const std::string& text);
std::uint32_t IpToNumber(const std::string& address);
// Dotted text of a 32-bit address.
std::string NumberToIp(std::uint32_t address);
// The first IPv4 address of a name (the empty name: this computer's own
// address); empty when none or the limit passed. IPv4 only.
std::string ResolveHostToIp(const std::string& name, int limitMs);
// The address of each of several names, looked up in parallel under one
// time limit for all of them: its first IPv4 address, or its first IPv6 one
// when it has no IPv4 address (empty for a name not answered in time, and
// for the empty name); the wait lets the window's messages run between
// slices.
std::vector<std::string> ResolveHostsToIp(const std::vector<std::string>& names, int limitMs);
// The host name of an address of either family (IPv6 by its ip6.arpa
// entry); empty when none or the limit passed.
std::string ResolveIpToHost(const std::string& address, int limitMs);
// Every address of a name, both families, in the order the system resolver
// gives them (the empty name: this computer's own IPv4 address); empty when
// none, on failure or when the limit passed. One worker, one limit, as
// ResolveHostToIp.
std::vector<IpAddress> ResolveHostAddresses(const std::string& name, int limitMs);
// The address to use of a name's addresses: the first IPv4 one, else the
// first IPv6 one; with preferIPv6 the other way round. Empty when none.
IpAddress ChooseAddress(const std::vector<IpAddress>& addresses, bool preferIPv6);
// ChooseAddress of ResolveHostAddresses, as text (RFC 5952 for IPv6).
std::string ResolveHostToAddress(const std::string& name, int limitMs, bool preferIPv6);
std::string EncodeIdn(const std::string& name);
// The IDN form of a name into idn; false (idn empty) when the encoder refuses
// it. The empty name stays empty and counts as encoded. A refused name must
// never go on as the empty text, which means this computer to the look-ups.
bool TryEncodeIdn(const std::string& name, std::string& idn);
// The lengths DNS allows a name (in its IDN form, a final dot aside) and each
// of its labels.
constexpr std::size_t kMaxDnsName = 253;
constexpr std::size_t kMaxDnsLabel = 63;
// A name as the look-ups ask for it: its IDN form into idn, or why it cannot
// be asked for at all: "idn_not_encodable", or "name_too_long" when the IDN
// form is longer than DNS allows (a name is never cut and asked for under
// another one). nullptr when it can be asked for.
const char* EncodeHostName(const std::string& name, std::string& idn);

// ---- Data packs ----------------------------------------------------------------

// Largest pack accepted, packed or inflated; a larger one counts as damaged.
constexpr std::size_t kMaxPakBytes = std::size_t{256} << 20;

// Opens a regular file for reading (close it with close()); -1 for anything
// else — a FIFO, a device, a folder — without waiting or touching it.
int OpenRegularFile(const std::string& path);
std::string ReadWholeFile(const std::string& path);
std::string InflateText(const std::string& bytes);
// The same with a smaller limit for the inflated size.
std::string InflateText(const std::string& bytes, std::size_t maxBytes);
std::string LoadPak(const std::string& path);
// The rows of a pack's text: split at CR, LF or CR LF, a final row without a
// line end included, the text ending at a zero byte.
std::vector<std::string> SplitPakRows(const std::string& text);
// Forgets the loaded Whois.pak, IPCountry and ASN pack rows so that the next
// look-up reads them again (tests, or after ProgramFolder changed).
void ResetDataPackCache();

struct TldInfo {
  std::string CountryEn, CountryDe, Kind, Target, QueryPrefix, QuerySuffix;
};
TldInfo LookupTld(const std::string& tld);

struct NetworkRegistry {
  std::string Server, QueryPrefix, QuerySuffix;
};
void LookupNetworkRegistry(const std::string& handle, NetworkRegistry& record);

std::string LookupIpCountry(const std::string& address);
// The registrable domain of a host name or URL: its public suffix by the
// rules in sldList (public suffix list rows: "co.uk", "*.ck", "!www.ck") plus
// one label; empty when the name is itself a public suffix. An IPv4 address
// comes back as it is.
std::string RegisteredDomain(const std::string& text, const std::vector<std::string>& sldList);
int ListDataFiles(const std::string& folder, const std::string& mask,
                  std::vector<std::string>& list);

// Folder of the program file, ending with "/" (set at start).
extern std::string ProgramFolder;
// The program file's name with its extension replaced by ".ini".
extern std::string IniFilePath;

}  // namespace quovix
