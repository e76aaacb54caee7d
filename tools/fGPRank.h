// The ranking service's query: the checksum of a page URL, its check digit,
// the query URL and the reading of the answer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quovix {

// Hash of the page URL's bytes that the service expects in "ch=".
std::uint32_t UrlChecksum(const std::string& text);
// One digit "0"–"9" computed from the checksum's decimal digits.
char ChecksumCheckDigit(std::uint32_t value);
// The rank in an answer ("Rank_1:1:5" → 5); -1 when there is none or it
// lies outside 0..10.
int ParseRankAnswer(const std::string& body);
// "http://" server "/tbr?client=navclient-auto&ch=7…&features=Rank&q=info:" page.
std::string GPRankQueryUrl(const std::string& server, const std::string& pageUrl);
// The built-in server list: the service's host name, then 34 addresses.
std::vector<std::string> GPRankBuiltinServers();

}  // namespace quovix
