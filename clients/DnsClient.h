// DNS message client: one query of one or more questions to a chosen server,
// over UDP and, when the reply is truncated, again over TCP; one reply, the
// decoded resource records of that reply. The DNS and Mail-Check tools share
// the window's instance and set it up before each use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <variant>
#include <vector>

namespace quovix {

// The record types a query can ask for, in the order their questions are
// written.
enum TQueryRecordType {
  qtA, qtNS, qtMD, qtMF, qtName, qtSOA, qtMB, qtMG, qtMR, qtNull, qtWKS, qtPTR, qtHINFO,
  qtMINFO, qtMX, qtTXT, qtRT, qtNSAP, qtNSAP_PTR, qtSIG, qtAAAA, qtService, qtNAPTR, qtCERT,
  qtV6Addr, qtDName, qtR40, qtOptional, qtIXFR, qtAXFR, qtSTAR, qtCAA,
};
using TQueryType = std::set<TQueryRecordType>;

// Wire type code of a query type.
std::uint16_t QueryTypeCode(TQueryRecordType t);

// Type codes of the records that are decoded beyond their common fields.
constexpr std::uint16_t kTypeA = 1, kTypeNS = 2, kTypeCNAME = 5, kTypeSOA = 6, kTypePTR = 12,
                        kTypeMX = 15, kTypeTXT = 16, kTypeAAAA = 28, kTypeSRV = 33,
                        kTypeNAPTR = 35, kTypeDNAME = 39, kTypeDS = 43, kTypeSSHFP = 44,
                        kTypeRRSIG = 46, kTypeNSEC = 47, kTypeDNSKEY = 48, kTypeNSEC3 = 50,
                        kTypeNSEC3PARAM = 51, kTypeTLSA = 52, kTypeCDS = 59, kTypeCDNSKEY = 60,
                        kTypeSVCB = 64, kTypeHTTPS = 65, kTypeSPF = 99, kTypeCAA = 257;
// The EDNS pseudo-record (never listed as a record of the reply).
constexpr std::uint16_t kTypeOPT = 41;
// The UDP payload size a query advertises: the value that avoids IP
// fragmentation on practically every path (DNS flag day 2020).
constexpr std::uint16_t kEdnsPayloadSize = 1232;

enum class TRecordSection { Answer, Authority, Additional };

// Which fields of a record are decoded.
enum class TRecordKind {
  Other,  // common fields only; RData as received
  A,      // TARecord: IPAddress
  NS,     // TNSRecord: HostName
  Name,   // TNAMERecord (CNAME): HostName
  PTR,    // TPTRRecord: HostName
  MX,     // TMXRecord: Preference, HostName (the exchange)
  Text,   // TTextRecord (TXT, SPF): Text, Strings
  SOA,    // TSOARecord: Primary, Responsible, Serial … MinimumTTL
  CAA,    // TCAARecord: CaaFlags, CaaTag, CaaValue
  AAAA,   // an IPv6 address record: IPAddress (RFC 5952 form)
  DNAME,  // HostName (the target of the redirection)
  // The kinds below keep their fields in Data (the type named beside each).
  SRV,         // TSrvData
  NAPTR,       // TNaptrData
  TLSA,        // TTlsaData
  SSHFP,       // TSshfpData
  DS,          // TDsData (DS, CDS)
  DNSKEY,      // TDnskeyData (DNSKEY, CDNSKEY)
  RRSIG,       // TRrsigData
  NSEC,        // TNsecData
  NSEC3,       // TNsec3Data
  NSEC3PARAM,  // TNsec3Data without next owner and types
  SVCB,        // TSvcbData (SVCB, HTTPS)
};

struct TSrvData {
  std::uint16_t Priority = 0, Weight = 0, Port = 0;
  std::string Target;
};
struct TNaptrData {
  std::uint16_t Order = 0, Preference = 0;
  std::string Flags, Services, Regexp;  // raw bytes as received
  std::string Replacement;
};
struct TTlsaData {
  std::uint8_t Usage = 0, Selector = 0, MatchingType = 0;
  std::string Data;  // the certificate association data, raw bytes
};
struct TSshfpData {
  std::uint8_t Algorithm = 0, FingerprintType = 0;
  std::string Fingerprint;  // raw bytes
};
struct TDsData {
  std::uint16_t KeyTag = 0;
  std::uint8_t Algorithm = 0, DigestType = 0;
  std::string Digest;  // raw bytes
};
struct TDnskeyData {
  std::uint16_t Flags = 0;  // 0x0100 zone key, 0x0001 secure entry point, 0x0080 revoked
  std::uint8_t Protocol = 0, Algorithm = 0;
  std::string PublicKey;  // raw bytes
};
struct TRrsigData {
  std::uint16_t TypeCovered = 0;
  std::uint8_t Algorithm = 0, Labels = 0;
  // Expiration and Inception: seconds since 1970 (UTC) modulo 2^32.
  std::uint32_t OriginalTTL = 0, Expiration = 0, Inception = 0;
  std::uint16_t KeyTag = 0;
  std::string SignerName;
  std::string Signature;  // raw bytes
};
struct TNsecData {
  std::string NextName;
  std::vector<std::uint16_t> Types;  // of the type bitmap, ascending
};
struct TNsec3Data {
  std::uint8_t HashAlgorithm = 0, Flags = 0;
  std::uint16_t Iterations = 0;
  std::string Salt;             // raw bytes
  std::string NextHashedOwner;  // raw bytes (NSEC3 only)
  std::vector<std::uint16_t> Types;  // NSEC3 only, ascending
};
// SvcParamKeys of service bindings.
constexpr std::uint16_t kSvcMandatory = 0, kSvcAlpn = 1, kSvcNoDefaultAlpn = 2, kSvcPort = 3,
                        kSvcIpv4Hint = 4, kSvcEch = 5, kSvcIpv6Hint = 6;
struct TSvcParam {
  std::uint16_t Key = 0;
  std::string Value;  // raw bytes
};
// A service binding (SVCB, HTTPS): the parameters as received, in their
// (strictly ascending) order, and the well-known ones decoded.
struct TSvcbData {
  std::uint16_t Priority = 0;  // 0: alias mode
  std::string Target;          // "" for the root ("." : the owner itself)
  std::vector<TSvcParam> Params;
  std::vector<std::uint16_t> Mandatory;
  std::vector<std::string> Alpn;  // protocol identifiers, raw bytes
  bool NoDefaultAlpn = false;
  int Port = -1;  // -1: none given
  std::vector<std::string> Ipv4Hints, Ipv6Hints;  // address texts (RFC 5952 for IPv6)
  bool HasEch = false;
  std::string Ech;  // the ECHConfigList, raw bytes
};

struct TResultRecord {
  TRecordSection Section = TRecordSection::Answer;
  std::uint16_t TypeCode = 0;
  TRecordKind Kind = TRecordKind::Other;
  std::uint16_t Class = 0;
  std::string Name;  // owner name
  std::string OwnerWire;  // the owner name in wire form, uncompressed
  std::uint32_t TTL = 0;
  std::uint16_t RDataLength = 0;  // as on the wire
  // The record data: as received, except that the names in the data of the
  // types decoded here are written out in full (no compression pointers), so
  // the data stands on its own.
  std::string RData;

  std::string IPAddress;            // A; AAAA in RFC 5952 form
  std::string HostName;             // NS, CNAME, DNAME, PTR; the exchange of MX
  std::uint16_t Preference = 0;     // MX
  std::vector<std::string> Text;    // TXT, SPF: one entry (strings joined), none when empty
  std::vector<std::string> Strings; // TXT, SPF: the character-strings as received
  std::string Primary, Responsible; // SOA
  std::uint32_t Serial = 0, Refresh = 0, Retry = 0, Expire = 0, MinimumTTL = 0;
  std::uint8_t CaaFlags = 0;        // CAA
  std::string CaaTag, CaaValue;     // CAA: raw bytes as received
  std::variant<std::monostate, TSrvData, TNaptrData, TTlsaData, TSshfpData, TDsData,
               TDnskeyData, TRrsigData, TNsecData, TNsec3Data, TSvcbData>
      Data;
  // The typed fields of the kind, or null for a record of another kind.
  template <class T>
  const T* Get() const { return std::get_if<T>(&Data); }
};

// The mnemonic of a record type ("A", "HTTPS"; "TYPE65534" for one without a
// name here) and of a class ("IN", "CH", "HS"; "CLASS7").
std::string TypeName(std::uint16_t type);
std::string ClassName(std::uint16_t qclass);
// The type code of a mnemonic or of "TYPEnnn" (letter case ignored); -1 for
// anything else.
int TypeCodeOf(const std::string& text);
// The record data in presentation format ("10 mx.example.org.", "1 . alpn=\"h2\"");
// RFC 3597's "\# length hex" for types without a form of their own here.
std::string RDataText(const TResultRecord& rec);
// The whole record in presentation format: owner, TTL, class, type, data.
std::string RecordText(const TResultRecord& rec);
// A name in presentation format from its wire form: absolute (ending in a
// dot), special and unprintable bytes escaped.
std::string WireNameText(const std::string& wire);
// The record uncompressed in wire form (owner, type, class, TTL, length, data),
// as DNSSEC checks take it.
std::string RecordWire(const TResultRecord& rec);
// Decodes the typed fields of rec from its TypeCode and RData (RData with
// names written out, as the reader leaves it). Raises EIdDnsResolverError
// (Malformed) for data that does not fit its type.
void DecodeRecordData(TResultRecord& rec);

// The records of the last reply in the order answer, authority, additional,
// plus the reply's question when it carried exactly one, its header flags and
// what its EDNS record said.
class TQueryResult {
 public:
  int Count() const { return static_cast<int>(records_.size()); }
  const TResultRecord& operator[](int i) const { return records_.at(static_cast<size_t>(i)); }
  std::vector<TResultRecord>::const_iterator begin() const { return records_.begin(); }
  std::vector<TResultRecord>::const_iterator end() const { return records_.end(); }
  void Clear();

  bool HasQuestion = false;
  std::string QName;
  std::string QNameWire;  // the question's name in wire form
  std::uint16_t QType = 0;
  std::uint16_t QClass = 0;

  std::uint16_t Flags = 0;  // the reply's header flags word
  bool Truncated() const { return (Flags & 0x0200) != 0; }
  // The server says it validated the answer by DNSSEC (meaningful only when
  // the query set the DO bit).
  bool AuthenticData() const { return (Flags & 0x0020) != 0; }

  bool HasOpt = false;  // the reply carried an OPT record
  std::uint16_t OptPayloadSize = 0;
  std::uint8_t OptVersion = 0;
  bool OptDnssecOk = false;
  // The whole response code when the OPT record extends it, else 0.
  int ExtendedRcode = 0;
  // The server's name server identifier (EDNS option NSID), raw bytes, when
  // the reply carried one.
  bool HasNsid = false;
  std::string Nsid;
  // The reply's response code, extended by its OPT record.
  int Rcode() const { return ExtendedRcode != 0 ? ExtendedRcode : Flags & 0x0F; }

 private:
  friend class TIdDNSResolver;
  std::vector<TResultRecord> records_;
};

// What went wrong with a query, so that a caller can tell the user why.
enum class TDnsFailure {
  Other,
  NoQuestion,  // no query type, nothing to ask
  BadName,     // a name that cannot be written as a question
  NoServer,    // the server's name has no address
  BadZone,     // the server's address names a zone that is no interface here
  Network,     // a socket failure (SystemError holds errno)
  Refused,     // the server's port refused the datagram or the connection
  Closed,      // the TCP connection ended before a reply
  Malformed,   // a reply that does not add up
  Mismatch,    // only replies that did not belong to the query came
  ServerCode,  // the server answered with an error code (Rcode)
  Tls,         // DNS over TLS or HTTPS: the handshake failed or the certificate
               // did not verify for the server's name
  Http,        // DNS over HTTPS: the server answered with an HTTP error status
               // (HttpStatus) or not with a DNS message
};

// Every failure of a query. Rcode is the server's code (the extended code
// when the reply's OPT record carried one) for server errors, else -1.
class EIdDnsResolverError : public std::runtime_error {
 public:
  explicit EIdDnsResolverError(const std::string& what, int rcode = -1)
      : std::runtime_error(what),
        Rcode(rcode),
        Kind(rcode >= 0 ? TDnsFailure::ServerCode : TDnsFailure::Other) {}
  EIdDnsResolverError(TDnsFailure kind, const std::string& what, bool overTcp = false,
                      int systemError = 0)
      : std::runtime_error(what), Kind(kind), OverTcp(overTcp), SystemError(systemError) {}
  int Rcode = -1;
  TDnsFailure Kind;
  bool OverTcp = false;   // the failure was on the TCP exchange
  int SystemError = 0;    // errno of a socket failure
  int HttpStatus = 0;     // the HTTP status of a Http failure (0: none)
  // A server error whose answer section still held records (a name error
  // behind an alias says the alias's target is missing, not the name).
  bool AnswerHasRecords = false;
};

// The mnemonic of a response code ("SERVFAIL", "REFUSED", …; "RCODE n" for
// codes without one).
std::string RcodeName(int rcode);

enum class TIdIPVersion { Id_IPv4, Id_IPv6 };

// How a query travels: plain DNS over UDP (TCP after a truncated reply),
// DNS over TLS (RFC 7858), DNS over HTTPS (RFC 8484).
enum class TDnsTransport { Udp, Tcp, Tls, Https };
// "udp", "tcp", "tls", "https".
std::string TransportName(TDnsTransport t);

// A DNS server setting taken apart (see TIdDNSResolver::Host).
struct TDnsServer {
  TDnsTransport Transport = TDnsTransport::Udp;  // Udp: plain DNS (TCP after truncation)
  std::string Host;  // name or address literal (an IPv6 one without brackets for TLS, HTTPS)
  int Port = -1;     // as given; -1: none given (the transport's default)
  std::string Url;   // DNS over HTTPS: the whole URL
};
TDnsServer ParseDnsServer(const std::string& text);

// How the last query went on the wire.
struct TDnsExchange {
  bool Answered = false;  // a reply was read (false: none came in time, or an error)
  TDnsTransport Transport = TDnsTransport::Udp;  // of the last attempt
  bool Edns = false;      // the last attempt carried an OPT record
  bool DnssecOk = false;  // … with the DO bit set
  bool EdnsDropped = false;  // the server answered FORMERR to EDNS and was asked without it
};

class TIdDNSResolver {
 public:
  // The server: an address literal of either family ("192.0.2.53",
  // "2001:db8::53", "[2001:db8::53]"), or a host name looked up (bounded by
  // WaitingTime) before each send, its first IPv4 address taken, else its
  // first IPv6 one (IPv6 first with IPVersion Id_IPv6). A ":port" after it
  // ("[::1]:5353", "127.0.0.1:5353") is the port asked instead of Port.
  // "tls://host[:port]": DNS over TLS to that server (port 853 unless
  // given), the certificate checked against host. "https://host[:port]/path":
  // DNS over HTTPS, each query POSTed to that URL as application/dns-message
  // over the shared HTTP client (certificate checked, the proxy of the
  // options). WaitingTime bounds each such exchange as a whole.
  std::string Host;
  std::uint16_t Port = 53;
  // ms one exchange waits for its reply: the UDP one, and again the TCP one
  // after a truncated reply, each bounded as a whole.
  int WaitingTime = 5000;
  bool AllowRecursiveQueries = true;
  TQueryType QueryType;
  // Nonzero: the one question asks this type code, and QueryType is not used.
  std::uint16_t QuestionType = 0;
  TIdIPVersion IPVersion = TIdIPVersion::Id_IPv4;
  // EDNS(0): an OPT record advertising EdnsPayloadSize; a server that answers
  // FORMERR to it is asked once more without it.
  bool UseEdns = true;
  std::uint16_t EdnsPayloadSize = kEdnsPayloadSize;
  bool DnssecOk = false;  // the DO bit: ask for DNSSEC records and validation
  // The CD bit: the server is to hand out the records also when it cannot
  // validate them.
  bool CheckingDisabled = false;
  // Ask for the server's identifier (the empty NSID option in the OPT record).
  bool RequestNsid = false;
  // Every reply read into QueryResult as it is, an empty one and one with an
  // error code included (QueryResult.Rcode()), instead of a server error
  // raising and an empty reply leaving the result as it was.
  bool WholeReply = false;

  TQueryResult QueryResult;

  // Builds the query for QueryType and name, sends it, waits for the reply
  // and fills QueryResult. A reply with the TC bit is asked again over TCP
  // (same server and port). No reply in time leaves QueryResult untouched and
  // is no error (LastExchange().Answered is false); every other failure
  // raises EIdDnsResolverError.
  void SendQuery(const std::string& name, std::uint16_t qclass = 1);

  // The query message for QueryType, name and class with the given
  // identifier, without EDNS (raises for an empty QueryType or a name that
  // cannot be encoded).
  std::string BuildQuery(const std::string& name, std::uint16_t qclass, std::uint16_t id) const;
  // The message as SendQuery sends it first: BuildQuery plus the OPT record
  // when UseEdns is set.
  std::string QueryMessage(const std::string& name, std::uint16_t qclass, std::uint16_t id) const;

  // Reads a reply to the query with the given identifier into QueryResult.
  // A malformed reply, a wrong identifier or a server error code raises;
  // QueryResult is then left as it was.
  void ReadReply(const unsigned char* data, size_t size, std::uint16_t id);

  // Identifier of the last query sent.
  std::uint16_t LastQueryId() const { return lastId_; }
  const TDnsExchange& LastExchange() const { return exchange_; }

 private:
  static TQueryResult ParseMessage(const unsigned char* msg, size_t size);
  std::uint16_t lastId_ = 0;
  TDnsExchange exchange_;
};

// One query on a worker of its own, so that several queries can be under way
// at once. The job works on its own copy of the resolver's settings; every
// exchange it makes is bounded in time, so it always ends.
class TDnsQueryJob {
 public:
  TDnsQueryJob(TIdDNSResolver resolver, std::string name, std::uint16_t qclass = 1);
  // Joins a worker that has finished its query, so that nothing of it (its
  // TLS library state, say) outlives the job; one still running after an
  // abort is left to end alone.
  ~TDnsQueryJob();
  TDnsQueryJob(const TDnsQueryJob&) = delete;
  TDnsQueryJob& operator=(const TDnsQueryJob&) = delete;
  // Waits for the end of the query, letting pending window messages run
  // between slices, and gives the resolver with its result; raises the
  // query's error. An abort request ends the wait at once with no answer
  // (the worker finishes alone; its result goes nowhere).
  TIdDNSResolver& Wait();

 private:
  struct State;
  TIdDNSResolver resolver_;
  std::string name_;
  std::uint16_t qclass_;
  std::shared_ptr<State> state_;  // shared with the worker; null: none started
  std::thread worker_;
  bool ran_ = false;
};

// The answer records of a type and class that belong to name: those owned by
// the name itself or by a name of the CNAME chain that starts at it, followed
// within the reply (a bounded number of links; a loop ends it). Names are
// compared without regard to ASCII letter case. In the order of the reply.
std::vector<const TResultRecord*> AnswerRecords(const TQueryResult& result,
                                                const std::string& name, std::uint16_t type,
                                                std::uint16_t qclass = 1);

// Whether a reply asks the query's questions (same count, and for each the
// same name without regard to letter case, type and class). Raises
// EIdDnsResolverError for a reply whose question section cannot be read.
bool ReplyMatchesQuery(const unsigned char* reply, size_t size, const std::string& query);

// Takes the first whole message off a TCP byte stream (two-byte length, then
// the message); false while the stream holds no whole message yet.
bool NextTcpMessage(std::string& stream, std::string& message);

// Decodes the domain name at pos of the message. On return pos is just after
// the name's bytes in place (after its first pointer when one was followed).
// Raises EIdDnsResolverError for a name that runs past the end, a pointer
// chain that does not end, or a name longer than 255 bytes.
std::string DecodeDnsName(const unsigned char* msg, size_t size, size_t& pos);
// The same name in wire form, uncompressed (labels and the terminating zero).
std::string DecodeDnsNameWire(const unsigned char* msg, size_t size, size_t& pos);
// The data of a record of the given type at msg[start, end), the names in it
// written out in full (decoded against the whole message); other data as it
// is. Raises EIdDnsResolverError (Malformed) when a name does not fit.
std::string ExpandRecordData(std::uint16_t type, const unsigned char* msg, size_t size,
                             size_t start, size_t end);

// A mail exchanger of an MX answer.
struct TMailExchanger {
  std::string Host;
  unsigned Preference = 0;
};
// The exchangers of an answer in the order a sending server tries them:
// lowest preference first, equals in the order of the answer. A record
// without an exchange (a "null MX", which says the domain takes no mail)
// and preference 65535 are left out.
std::vector<TMailExchanger> MailExchangers(const TQueryResult& answer);

// The reverse name a PTR question asks for: names already under in-addr.arpa,
// ip6.arpa or ip6.int stay as they are, an IPv6 address becomes its ip6.arpa
// name, anything else is taken as an IPv4 address and turned into its
// in-addr.arpa name.
std::string PtrQueryName(const std::string& name);

}  // namespace quovix
