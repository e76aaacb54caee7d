// DNS message client: one query of one or more questions over UDP to a chosen
// server, one reply, the decoded resource records of that reply. The DNS and
// Mail-Check tools share the window's instance and set it up before each use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace quovix {

// The record types a query can ask for, in the order their questions are
// written.
enum TQueryRecordType {
  qtA, qtNS, qtMD, qtMF, qtName, qtSOA, qtMB, qtMG, qtMR, qtNull, qtWKS, qtPTR, qtHINFO,
  qtMINFO, qtMX, qtTXT, qtRT, qtNSAP, qtNSAP_PTR, qtSIG, qtAAAA, qtService, qtNAPTR, qtCERT,
  qtV6Addr, qtDName, qtR40, qtOptional, qtIXFR, qtAXFR, qtSTAR,
};
using TQueryType = std::set<TQueryRecordType>;

// Wire type code of a query type.
std::uint16_t QueryTypeCode(TQueryRecordType t);

// Type codes of the records that are decoded beyond their common fields.
constexpr std::uint16_t kTypeA = 1, kTypeNS = 2, kTypeCNAME = 5, kTypeSOA = 6, kTypePTR = 12,
                        kTypeMX = 15, kTypeTXT = 16;

enum class TRecordSection { Answer, Authority, Additional };

// Which fields of a record are decoded.
enum class TRecordKind {
  Other,  // common fields only
  A,      // TARecord: IPAddress
  NS,     // TNSRecord: HostName
  Name,   // TNAMERecord (CNAME): HostName
  PTR,    // TPTRRecord: HostName
  MX,     // TMXRecord: Preference, HostName (the exchange)
  Text,   // TTextRecord: Text
  SOA,    // TSOARecord: Primary, Responsible, Serial … MinimumTTL
};

struct TResultRecord {
  TRecordSection Section = TRecordSection::Answer;
  std::uint16_t TypeCode = 0;
  TRecordKind Kind = TRecordKind::Other;
  std::uint16_t Class = 0;
  std::string Name;  // owner name
  std::uint32_t TTL = 0;
  std::uint16_t RDataLength = 0;
  std::string RData;  // raw bytes

  std::string IPAddress;            // A
  std::string HostName;             // NS, CNAME, PTR; the exchange of MX
  std::uint16_t Preference = 0;     // MX
  std::vector<std::string> Text;    // TXT: one entry (strings joined), none when empty
  std::string Primary, Responsible; // SOA
  std::uint32_t Serial = 0, Refresh = 0, Retry = 0, Expire = 0, MinimumTTL = 0;
};

// The records of the last reply in the order answer, authority, additional,
// plus the reply's question when it carried exactly one.
class TQueryResult {
 public:
  int Count() const { return static_cast<int>(records_.size()); }
  const TResultRecord& operator[](int i) const { return records_.at(static_cast<size_t>(i)); }
  std::vector<TResultRecord>::const_iterator begin() const { return records_.begin(); }
  std::vector<TResultRecord>::const_iterator end() const { return records_.end(); }
  void Clear();

  bool HasQuestion = false;
  std::string QName;
  std::uint16_t QType = 0;
  std::uint16_t QClass = 0;

 private:
  friend class TIdDNSResolver;
  std::vector<TResultRecord> records_;
};

// Every failure of a query: no question, a malformed reply, a server error
// code, a socket failure. Rcode is the server's code for server errors, else -1.
class EIdDnsResolverError : public std::runtime_error {
 public:
  explicit EIdDnsResolverError(const std::string& what, int rcode = -1)
      : std::runtime_error(what), Rcode(rcode) {}
  int Rcode;
};

enum class TIdIPVersion { Id_IPv4, Id_IPv6 };

class TIdDNSResolver {
 public:
  // The server: an address literal, or a host name looked up (bounded by
  // WaitingTime) before each send.
  std::string Host;
  std::uint16_t Port = 53;
  int WaitingTime = 5000;  // ms one query waits for its reply
  bool AllowRecursiveQueries = true;
  TQueryType QueryType;
  TIdIPVersion IPVersion = TIdIPVersion::Id_IPv4;

  TQueryResult QueryResult;

  // Builds the query for QueryType and name, sends it, waits for the reply
  // and fills QueryResult. No reply in time leaves QueryResult untouched and
  // is no error; every other failure raises EIdDnsResolverError.
  void SendQuery(const std::string& name, std::uint16_t qclass = 1);

  // The query message for QueryType, name and class with the given
  // identifier (raises for an empty QueryType or a name that cannot be
  // encoded).
  std::string BuildQuery(const std::string& name, std::uint16_t qclass, std::uint16_t id) const;

  // Reads a reply to the query with the given identifier into QueryResult.
  // A malformed reply, a wrong identifier or a server error code raises;
  // QueryResult is then left as it was.
  void ReadReply(const unsigned char* data, size_t size, std::uint16_t id);

  // Identifier of the last query sent.
  std::uint16_t LastQueryId() const { return lastId_; }
  // Response code of the last reply read (0 no error, 3 no such name …);
  // -1 when the last query got no reply.
  int LastRcode() const { return lastRcode_; }

 private:
  std::uint16_t lastId_ = 0;
  int lastRcode_ = -1;
};

// Decodes the domain name at pos of the message. On return pos is just after
// the name's bytes in place (after its first pointer when one was followed).
// Raises EIdDnsResolverError for a name that runs past the end, a pointer
// chain that does not end, or a name longer than 255 bytes.
std::string DecodeDnsName(const unsigned char* msg, size_t size, size_t& pos);

// The reverse name a PTR question asks for: names already under in-addr.arpa,
// ip6.arpa or ip6.int stay as they are, anything else is taken as an IPv4
// address and turned into its in-addr.arpa name.
std::string PtrQueryName(const std::string& name);

}  // namespace quovix
