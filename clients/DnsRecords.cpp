// Record data of the DNS client: the names in it written out in full, the
// typed fields of each type decoded, and the presentation format of zone
// files. The data comes from the network: every read is checked against the
// record's length, a type bitmap and a parameter list must be in ascending
// order (so a record cannot name the same thing twice), and data that does
// not fit its type is a malformed reply.
#include <array>
#include <cstring>
#include <ctime>

#include "clients/DnsClient.h"
#include "common/IpAddress.h"
#include "common/fMain.h"

namespace quovix {

namespace {

[[noreturn]] void Malformed(const std::string& what) {
  throw EIdDnsResolverError(TDnsFailure::Malformed, "Malformed DNS reply: " + what);
}

struct TypeEntry {
  std::uint16_t code;
  const char* name;
};
constexpr TypeEntry kTypeNames[] = {
    {1, "A"},        {2, "NS"},          {5, "CNAME"},     {6, "SOA"},     {12, "PTR"},
    {13, "HINFO"},   {15, "MX"},         {16, "TXT"},      {28, "AAAA"},   {33, "SRV"},
    {35, "NAPTR"},   {39, "DNAME"},      {41, "OPT"},      {43, "DS"},     {44, "SSHFP"},
    {46, "RRSIG"},   {47, "NSEC"},       {48, "DNSKEY"},   {50, "NSEC3"},  {51, "NSEC3PARAM"},
    {52, "TLSA"},    {59, "CDS"},        {60, "CDNSKEY"},  {64, "SVCB"},   {65, "HTTPS"},
    {99, "SPF"},     {252, "AXFR"},      {255, "ANY"},     {257, "CAA"},
};

// Reads record data or names in it, each step checked against the end.
class Reader {
 public:
  Reader(const unsigned char* data, size_t size, size_t pos, size_t end)
      : d_(data), size_(size), p_(pos), end_(end) {}
  size_t Left() const { return end_ - p_; }
  bool AtEnd() const { return p_ == end_; }
  size_t Pos() const { return p_; }
  void Need(size_t n, const char* what) const {
    if (Left() < n) Malformed(std::string(what) + " runs past its record data");
  }
  std::uint8_t U8(const char* what) {
    Need(1, what);
    return d_[p_++];
  }
  std::uint16_t U16(const char* what) {
    Need(2, what);
    const std::uint16_t v = static_cast<std::uint16_t>((d_[p_] << 8) | d_[p_ + 1]);
    p_ += 2;
    return v;
  }
  std::uint32_t U32(const char* what) {
    const std::uint32_t hi = U16(what);
    return (hi << 16) | U16(what);
  }
  std::string Bytes(size_t n, const char* what) {
    Need(n, what);
    std::string out(reinterpret_cast<const char*>(d_ + p_), n);
    p_ += n;
    return out;
  }
  std::string Rest() { return Bytes(Left(), "data"); }
  // A character-string: length byte and bytes.
  std::string CharString(const char* what) { return Bytes(U8(what), what); }
  // A name, decoded against the whole buffer (compression pointers may point
  // anywhere in it), in wire form; its own bytes must end within the data.
  std::string Name(const char* what) {
    std::string wire = DecodeDnsNameWire(d_, size_, p_);
    if (p_ > end_) Malformed(std::string(what) + " runs past its record data");
    return wire;
  }

 private:
  const unsigned char* d_;
  size_t size_, p_, end_;
};

// The dotted form the client's fields keep (labels joined by dots, no
// trailing dot; "" for the root).
std::string WirePlain(const std::string& wire) {
  std::string out;
  for (size_t p = 0; p < wire.size() && wire[p] != 0;) {
    const size_t len = static_cast<unsigned char>(wire[p]);
    if (!out.empty()) out += '.';
    out.append(wire, p + 1, len);
    p += 1 + len;
  }
  return out;
}

// The layout of the data of the types whose names are written out: 'N' a
// name, '2' two bytes, 'F' the fixed 18 bytes of a signature, 'S' a
// character-string; what follows the layout is copied as it is.
const char* NameLayout(std::uint16_t type) {
  switch (type) {
    case kTypeNS: case kTypeCNAME: case kTypeDNAME: case kTypePTR: case kTypeNSEC: return "N";
    case kTypeSOA: return "NN";
    case kTypeMX: case kTypeSVCB: case kTypeHTTPS: return "2N";
    case kTypeSRV: return "222N";
    case kTypeNAPTR: return "22SSSN";
    case kTypeRRSIG: return "FN";
    default: return nullptr;
  }
}

// A type bitmap (NSEC, NSEC3): windows in ascending order, each of 1 to 32
// bytes.
std::vector<std::uint16_t> TypeBitmap(Reader& r) {
  std::vector<std::uint16_t> types;
  int lastWindow = -1;
  while (!r.AtEnd()) {
    const int window = r.U8("type bitmap");
    const size_t len = r.U8("type bitmap");
    if (window <= lastWindow) Malformed("type bitmap windows out of order");
    if (len < 1 || len > 32) Malformed("type bitmap window of wrong length");
    lastWindow = window;
    const std::string bits = r.Bytes(len, "type bitmap");
    for (size_t i = 0; i < len; ++i)
      for (int b = 0; b < 8; ++b)
        if (static_cast<unsigned char>(bits[i]) & (0x80 >> b))
          types.push_back(static_cast<std::uint16_t>(window * 256 + i * 8 + static_cast<size_t>(b)));
  }
  return types;
}

std::string Ipv4Text(const unsigned char* p) {
  return std::to_string(p[0]) + "." + std::to_string(p[1]) + "." + std::to_string(p[2]) + "." +
         std::to_string(p[3]);
}
std::string Ipv6Text(const unsigned char* p) {
  std::array<std::uint8_t, 16> bytes;
  std::memcpy(bytes.data(), p, 16);
  return IpAddress::FromV6(bytes).ToString();
}
const unsigned char* U(const std::string& s) {
  return reinterpret_cast<const unsigned char*>(s.data());
}

// A list of addresses of the given size each (4 or 16) in a parameter value.
std::vector<std::string> AddressHints(const std::string& value, size_t each) {
  if (value.empty() || value.size() % each != 0) Malformed("address hint of wrong length");
  std::vector<std::string> out;
  for (size_t i = 0; i < value.size(); i += each)
    out.push_back(each == 4 ? Ipv4Text(U(value) + i) : Ipv6Text(U(value) + i));
  return out;
}

TSvcbData DecodeSvcb(Reader& r) {
  TSvcbData s;
  s.Priority = r.U16("service priority");
  s.Target = WirePlain(r.Name("service target"));
  int lastKey = -1;
  while (!r.AtEnd()) {
    TSvcParam param;
    param.Key = r.U16("service parameter");
    param.Value = r.Bytes(r.U16("service parameter"), "service parameter");
    if (static_cast<int>(param.Key) <= lastKey) Malformed("service parameters out of order");
    lastKey = param.Key;
    const std::string& v = param.Value;
    switch (param.Key) {
      case kSvcMandatory:
        if (v.empty() || v.size() % 2 != 0) Malformed("mandatory keys of wrong length");
        for (size_t i = 0; i < v.size(); i += 2)
          s.Mandatory.push_back(static_cast<std::uint16_t>((U(v)[i] << 8) | U(v)[i + 1]));
        break;
      case kSvcAlpn: {
        Reader ids(U(v), v.size(), 0, v.size());
        while (!ids.AtEnd()) {
          std::string id = ids.CharString("protocol identifier");
          if (id.empty()) Malformed("empty protocol identifier");
          s.Alpn.push_back(std::move(id));
        }
        if (s.Alpn.empty()) Malformed("empty protocol list");
        break;
      }
      case kSvcNoDefaultAlpn:
        if (!v.empty()) Malformed("no-default-alpn with a value");
        s.NoDefaultAlpn = true;
        break;
      case kSvcPort:
        if (v.size() != 2) Malformed("port of wrong length");
        s.Port = (U(v)[0] << 8) | U(v)[1];
        break;
      case kSvcIpv4Hint: s.Ipv4Hints = AddressHints(v, 4); break;
      case kSvcIpv6Hint: s.Ipv6Hints = AddressHints(v, 16); break;
      case kSvcEch:
        s.HasEch = true;
        s.Ech = v;
        break;
      default:
        break;
    }
    s.Params.push_back(std::move(param));
  }
  return s;
}

// ---- Presentation -------------------------------------------------------------

std::string Decimal3(unsigned char c) {
  char buf[5];
  std::snprintf(buf, sizeof buf, "\\%03u", static_cast<unsigned>(c));
  return buf;
}

// A character-string in quotes, quote and backslash escaped, unprintable
// bytes as \DDD.
std::string Quoted(const std::string& bytes) {
  std::string out = "\"";
  for (unsigned char c : bytes) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c > 0x7E) {
      out += Decimal3(c);
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string Hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) {
    out += kDigits[c >> 4];
    out += kDigits[c & 0x0F];
  }
  return out;
}

// Base 32 with the extended hex alphabet, without padding (NSEC3 hashes).
std::string Base32Hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789ABCDEFGHIJKLMNOPQRSTUV";
  std::string out;
  unsigned buffer = 0;
  int bits = 0;
  for (unsigned char c : bytes) {
    buffer = (buffer << 8) | c;
    bits += 8;
    while (bits >= 5) {
      bits -= 5;
      out += kDigits[(buffer >> bits) & 0x1F];
    }
  }
  if (bits > 0) out += kDigits[(buffer << (5 - bits)) & 0x1F];
  return out;
}

std::string TypeList(const std::vector<std::uint16_t>& types) {
  std::string out;
  for (std::uint16_t t : types) out += " " + TypeName(t);
  return out;
}

// A signature time as YYYYMMDDHHmmSS (UTC).
std::string SignatureTime(std::uint32_t seconds) {
  const std::time_t t = static_cast<std::time_t>(seconds);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d%02d%02d%02d%02d%02d", tm.tm_year + 1900, tm.tm_mon + 1,
                tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
  return buf;
}

std::string SvcKeyName(std::uint16_t key) {
  static const char* const kNames[] = {"mandatory", "alpn", "no-default-alpn", "port",
                                       "ipv4hint",  "ech",  "ipv6hint"};
  if (key < std::size(kNames)) return kNames[key];
  return "key" + std::to_string(key);
}

std::string Joined(const std::vector<std::string>& items) {
  std::string out;
  for (const std::string& item : items) out += (out.empty() ? "" : ",") + item;
  return out;
}

std::string SvcParamsText(const TSvcbData& s) {
  std::string out;
  for (const TSvcParam& p : s.Params) {
    out += " " + SvcKeyName(p.Key);
    switch (p.Key) {
      case kSvcMandatory: {
        std::vector<std::string> names;
        for (std::uint16_t k : s.Mandatory) names.push_back(SvcKeyName(k));
        out += "=" + Joined(names);
        break;
      }
      case kSvcAlpn: {
        // A value list: commas and backslashes inside an identifier escaped,
        // then the whole as a character-string.
        std::vector<std::string> ids;
        for (const std::string& id : s.Alpn)
          ids.push_back(ReplaceAll(ReplaceAll(id, "\\", "\\\\"), ",", "\\,"));
        out += "=" + Quoted(Joined(ids));
        break;
      }
      case kSvcNoDefaultAlpn: break;
      case kSvcPort: out += "=" + std::to_string(s.Port); break;
      case kSvcIpv4Hint: out += "=" + Joined(s.Ipv4Hints); break;
      case kSvcIpv6Hint: out += "=" + Joined(s.Ipv6Hints); break;
      case kSvcEch: out += "=" + Base64(s.Ech); break;
      default:
        if (!p.Value.empty()) out += "=" + Quoted(p.Value);
        break;
    }
  }
  return out;
}

// The names of the data in wire form, in the order of the type's layout.
std::vector<std::string> DataNames(const TResultRecord& rec) {
  std::vector<std::string> names;
  const char* layout = NameLayout(rec.TypeCode);
  if (!layout) return names;
  Reader r(U(rec.RData), rec.RData.size(), 0, rec.RData.size());
  for (const char* l = layout; *l; ++l) {
    switch (*l) {
      case 'N': names.push_back(r.Name("name")); break;
      case '2': r.U16("data"); break;
      case 'F': r.Bytes(18, "signature"); break;
      case 'S': r.CharString("character-string"); break;
    }
  }
  return names;
}

std::string Unknown(const TResultRecord& rec) {
  std::string out = "\\# " + std::to_string(rec.RData.size());
  if (!rec.RData.empty()) out += " " + Hex(rec.RData);
  return out;
}

}  // namespace

std::string TypeName(std::uint16_t type) {
  for (const TypeEntry& e : kTypeNames)
    if (e.code == type) return e.name;
  return "TYPE" + std::to_string(type);
}

std::string ClassName(std::uint16_t qclass) {
  switch (qclass) {
    case 1: return "IN";
    case 3: return "CH";
    case 4: return "HS";
    case 254: return "NONE";
    case 255: return "ANY";
    default: return "CLASS" + std::to_string(qclass);
  }
}

int TypeCodeOf(const std::string& text) {
  const std::string upper = UpperAscii(text);
  for (const TypeEntry& e : kTypeNames)
    if (upper == e.name) return e.code;
  if (upper.size() > 4 && upper.size() <= 9 && upper.compare(0, 4, "TYPE") == 0) {
    long value = 0;
    for (size_t i = 4; i < upper.size(); ++i) {
      if (upper[i] < '0' || upper[i] > '9') return -1;
      value = value * 10 + (upper[i] - '0');
    }
    if (value <= 65535) return static_cast<int>(value);
  }
  return -1;
}

std::string WireNameText(const std::string& wire) {
  std::string out;
  for (size_t p = 0; p < wire.size() && wire[p] != 0;) {
    const size_t len = static_cast<unsigned char>(wire[p]);
    for (size_t i = p + 1; i <= p + len && i < wire.size(); ++i) {
      const unsigned char c = static_cast<unsigned char>(wire[i]);
      if (c <= 0x20 || c > 0x7E) {
        out += Decimal3(c);
      } else {
        if (std::strchr(".\\\"();@$", c)) out += '\\';
        out += static_cast<char>(c);
      }
    }
    out += '.';
    p += 1 + len;
  }
  return out.empty() ? "." : out;
}

std::string ExpandRecordData(std::uint16_t type, const unsigned char* msg, size_t size,
                             size_t start, size_t end) {
  const char* layout = NameLayout(type);
  Reader r(msg, size, start, end);
  if (!layout) return r.Rest();
  std::string out;
  for (const char* l = layout; *l; ++l) {
    switch (*l) {
      case 'N': out += r.Name("name"); break;
      case '2': out += r.Bytes(2, "data"); break;
      case 'F': out += r.Bytes(18, "signature"); break;
      case 'S': {
        const std::string s = r.CharString("character-string");
        out += static_cast<char>(s.size());
        out += s;
        break;
      }
    }
  }
  out += r.Rest();
  // Names written out may make the data longer than a record can carry.
  if (out.size() > 65535) Malformed("record data too long once its names are written out");
  return out;
}

void DecodeRecordData(TResultRecord& rec) {
  const std::string& d = rec.RData;
  Reader r(U(d), d.size(), 0, d.size());
  auto name = [&](const char* what) { return WirePlain(r.Name(what)); };
  switch (rec.TypeCode) {
    case kTypeA:
      rec.Kind = TRecordKind::A;
      if (d.size() != 4) Malformed("address record of wrong length");
      rec.IPAddress = Ipv4Text(U(d));
      return;
    case kTypeAAAA:
      rec.Kind = TRecordKind::AAAA;
      if (d.size() != 16) Malformed("IPv6 address record of wrong length");
      rec.IPAddress = Ipv6Text(U(d));
      return;
    case kTypeNS:
    case kTypeCNAME:
    case kTypeDNAME:
    case kTypePTR:
      rec.Kind = rec.TypeCode == kTypeNS      ? TRecordKind::NS
                 : rec.TypeCode == kTypeCNAME ? TRecordKind::Name
                 : rec.TypeCode == kTypePTR   ? TRecordKind::PTR
                                              : TRecordKind::DNAME;
      rec.HostName = name("name");
      return;
    case kTypeMX:
      rec.Kind = TRecordKind::MX;
      if (d.size() < 3) Malformed("mail exchanger record too short");
      rec.Preference = r.U16("preference");
      rec.HostName = name("exchange");
      return;
    case kTypeTXT:
    case kTypeSPF: {
      rec.Kind = TRecordKind::Text;
      std::string joined;
      while (!r.AtEnd()) {
        rec.Strings.push_back(r.CharString("character-string"));
        joined += rec.Strings.back();
      }
      if (!joined.empty()) rec.Text.push_back(std::move(joined));
      return;
    }
    case kTypeSOA:
      rec.Kind = TRecordKind::SOA;
      rec.Primary = name("primary name");
      rec.Responsible = name("responsible name");
      if (r.Left() < 20) Malformed("start-of-authority record too short");
      rec.Serial = r.U32("serial");
      rec.Refresh = r.U32("refresh");
      rec.Retry = r.U32("retry");
      rec.Expire = r.U32("expire");
      rec.MinimumTTL = r.U32("minimum");
      return;
    case kTypeCAA:
      rec.Kind = TRecordKind::CAA;
      if (d.size() < 2) Malformed("CAA record too short");
      rec.CaaFlags = r.U8("CAA flags");
      rec.CaaTag = r.CharString("CAA tag");
      rec.CaaValue = r.Rest();
      return;
    default:
      break;
  }
  // The kinds with fields of their own: decoded into a fresh value, taken
  // over when the whole data fitted.
  switch (rec.TypeCode) {
    case kTypeSRV: {
      TSrvData s;
      s.Priority = r.U16("priority");
      s.Weight = r.U16("weight");
      s.Port = r.U16("port");
      s.Target = name("target");
      rec.Data = std::move(s);
      rec.Kind = TRecordKind::SRV;
      break;
    }
    case kTypeNAPTR: {
      TNaptrData n;
      n.Order = r.U16("order");
      n.Preference = r.U16("preference");
      n.Flags = r.CharString("flags");
      n.Services = r.CharString("services");
      n.Regexp = r.CharString("regular expression");
      n.Replacement = name("replacement");
      rec.Data = std::move(n);
      rec.Kind = TRecordKind::NAPTR;
      break;
    }
    case kTypeTLSA: {
      TTlsaData t;
      t.Usage = r.U8("certificate usage");
      t.Selector = r.U8("selector");
      t.MatchingType = r.U8("matching type");
      t.Data = r.Rest();
      rec.Data = std::move(t);
      rec.Kind = TRecordKind::TLSA;
      break;
    }
    case kTypeSSHFP: {
      TSshfpData s;
      s.Algorithm = r.U8("algorithm");
      s.FingerprintType = r.U8("fingerprint type");
      s.Fingerprint = r.Rest();
      rec.Data = std::move(s);
      rec.Kind = TRecordKind::SSHFP;
      break;
    }
    case kTypeDS:
    case kTypeCDS: {
      TDsData s;
      s.KeyTag = r.U16("key tag");
      s.Algorithm = r.U8("algorithm");
      s.DigestType = r.U8("digest type");
      s.Digest = r.Rest();
      rec.Data = std::move(s);
      rec.Kind = TRecordKind::DS;
      break;
    }
    case kTypeDNSKEY:
    case kTypeCDNSKEY: {
      TDnskeyData k;
      k.Flags = r.U16("key flags");
      k.Protocol = r.U8("protocol");
      k.Algorithm = r.U8("algorithm");
      k.PublicKey = r.Rest();
      rec.Data = std::move(k);
      rec.Kind = TRecordKind::DNSKEY;
      break;
    }
    case kTypeRRSIG: {
      TRrsigData s;
      s.TypeCovered = r.U16("type covered");
      s.Algorithm = r.U8("algorithm");
      s.Labels = r.U8("labels");
      s.OriginalTTL = r.U32("original TTL");
      s.Expiration = r.U32("expiration");
      s.Inception = r.U32("inception");
      s.KeyTag = r.U16("key tag");
      s.SignerName = name("signer");
      s.Signature = r.Rest();
      rec.Data = std::move(s);
      rec.Kind = TRecordKind::RRSIG;
      break;
    }
    case kTypeNSEC: {
      TNsecData n;
      n.NextName = name("next name");
      n.Types = TypeBitmap(r);
      rec.Data = std::move(n);
      rec.Kind = TRecordKind::NSEC;
      break;
    }
    case kTypeNSEC3:
    case kTypeNSEC3PARAM: {
      TNsec3Data n;
      n.HashAlgorithm = r.U8("hash algorithm");
      n.Flags = r.U8("flags");
      n.Iterations = r.U16("iterations");
      n.Salt = r.CharString("salt");
      if (rec.TypeCode == kTypeNSEC3) {
        n.NextHashedOwner = r.CharString("next hashed owner");
        if (n.NextHashedOwner.empty()) Malformed("empty next hashed owner");
        n.Types = TypeBitmap(r);
        rec.Kind = TRecordKind::NSEC3;
      } else {
        if (!r.AtEnd()) Malformed("NSEC3PARAM record too long");
        rec.Kind = TRecordKind::NSEC3PARAM;
      }
      rec.Data = std::move(n);
      break;
    }
    case kTypeSVCB:
    case kTypeHTTPS:
      rec.Data = DecodeSvcb(r);
      rec.Kind = TRecordKind::SVCB;
      break;
    default:
      rec.Kind = TRecordKind::Other;
      break;
  }
}

std::string RDataText(const TResultRecord& rec) {
  if (rec.Kind == TRecordKind::Other) return Unknown(rec);
  const std::vector<std::string> names = DataNames(rec);
  auto nameAt = [&](size_t i) { return i < names.size() ? WireNameText(names[i]) : "."; };
  switch (rec.Kind) {
    case TRecordKind::A:
    case TRecordKind::AAAA: return rec.IPAddress;
    case TRecordKind::NS:
    case TRecordKind::Name:
    case TRecordKind::PTR:
    case TRecordKind::DNAME: return nameAt(0);
    case TRecordKind::MX: return std::to_string(rec.Preference) + " " + nameAt(0);
    case TRecordKind::Text: {
      if (rec.Strings.empty()) return Unknown(rec);
      std::string out;
      for (const std::string& s : rec.Strings) out += (out.empty() ? "" : " ") + Quoted(s);
      return out;
    }
    case TRecordKind::SOA:
      return nameAt(0) + " " + nameAt(1) + " " + std::to_string(rec.Serial) + " " +
             std::to_string(rec.Refresh) + " " + std::to_string(rec.Retry) + " " +
             std::to_string(rec.Expire) + " " + std::to_string(rec.MinimumTTL);
    case TRecordKind::CAA:
      return std::to_string(rec.CaaFlags) + " " + rec.CaaTag + " " + Quoted(rec.CaaValue);
    default: break;
  }
  if (const auto* s = rec.Get<TSrvData>())
    return std::to_string(s->Priority) + " " + std::to_string(s->Weight) + " " +
           std::to_string(s->Port) + " " + nameAt(0);
  if (const auto* n = rec.Get<TNaptrData>())
    return std::to_string(n->Order) + " " + std::to_string(n->Preference) + " " +
           Quoted(n->Flags) + " " + Quoted(n->Services) + " " + Quoted(n->Regexp) + " " +
           nameAt(0);
  if (const auto* t = rec.Get<TTlsaData>())
    return std::to_string(t->Usage) + " " + std::to_string(t->Selector) + " " +
           std::to_string(t->MatchingType) + " " + Hex(t->Data);
  if (const auto* s = rec.Get<TSshfpData>())
    return std::to_string(s->Algorithm) + " " + std::to_string(s->FingerprintType) + " " +
           Hex(s->Fingerprint);
  if (const auto* s = rec.Get<TDsData>())
    return std::to_string(s->KeyTag) + " " + std::to_string(s->Algorithm) + " " +
           std::to_string(s->DigestType) + " " + Hex(s->Digest);
  if (const auto* k = rec.Get<TDnskeyData>())
    return std::to_string(k->Flags) + " " + std::to_string(k->Protocol) + " " +
           std::to_string(k->Algorithm) + " " + Base64(k->PublicKey);
  if (const auto* s = rec.Get<TRrsigData>())
    return TypeName(s->TypeCovered) + " " + std::to_string(s->Algorithm) + " " +
           std::to_string(s->Labels) + " " + std::to_string(s->OriginalTTL) + " " +
           SignatureTime(s->Expiration) + " " + SignatureTime(s->Inception) + " " +
           std::to_string(s->KeyTag) + " " + nameAt(0) + " " + Base64(s->Signature);
  if (const auto* n = rec.Get<TNsecData>()) return nameAt(0) + TypeList(n->Types);
  if (const auto* n = rec.Get<TNsec3Data>()) {
    std::string out = std::to_string(n->HashAlgorithm) + " " + std::to_string(n->Flags) + " " +
                      std::to_string(n->Iterations) + " " +
                      (n->Salt.empty() ? "-" : Hex(n->Salt));
    if (rec.Kind == TRecordKind::NSEC3) out += " " + Base32Hex(n->NextHashedOwner) + TypeList(n->Types);
    return out;
  }
  if (const auto* s = rec.Get<TSvcbData>())
    return std::to_string(s->Priority) + " " + nameAt(0) + SvcParamsText(*s);
  return Unknown(rec);
}

std::string RecordText(const TResultRecord& rec) {
  return WireNameText(rec.OwnerWire) + " " + std::to_string(rec.TTL) + " " +
         ClassName(rec.Class) + " " + TypeName(rec.TypeCode) + " " + RDataText(rec);
}

std::string RecordWire(const TResultRecord& rec) {
  std::string out = rec.OwnerWire;
  auto put16 = [&](unsigned v) {
    out += static_cast<char>((v >> 8) & 0xFF);
    out += static_cast<char>(v & 0xFF);
  };
  put16(rec.TypeCode);
  put16(rec.Class);
  put16(rec.TTL >> 16);
  put16(rec.TTL & 0xFFFF);
  put16(static_cast<unsigned>(rec.RData.size()));
  return out + rec.RData;
}

}  // namespace quovix
