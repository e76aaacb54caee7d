#include "clients/RdapAnswer.h"

#include <algorithm>
#include <array>
#include <cstdint>

#include "clients/RdapShared.h"
#include "common/fMain.h"
#include "shell/fLanguage.h"

namespace quovix {

namespace {

using rdap::Json;
using rdap::Member;
using rdap::ScalarText;
using rdap::StringMember;

// Bounds on what one answer can make us do.
constexpr size_t kMaxText = 1024;        // bytes of one value shown
constexpr size_t kMaxItems = 500;        // items of one array looked at
constexpr size_t kMaxEntities = 100;     // entities shown
constexpr int kMaxEntityDepth = 4;       // entities inside entities
constexpr size_t kMaxCidrs = 16;         // prefixes computed for one range
constexpr size_t kMaxLinkLength = kMaxText;  // the registrar link followed

// A value as it may be shown: control characters of every kind and the
// characters that reorder text are replaced, the text is cut at a character
// boundary and trimmed.
std::string Clean(const std::string& in) {
  std::string out;
  out.reserve(std::min(in.size(), kMaxText));
  size_t i = 0;
  while (i < in.size() && out.size() < kMaxText) {
    const unsigned char c = static_cast<unsigned char>(in[i]);
    size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 1;
    if (i + len > in.size()) len = 1;
    if (out.size() + len > kMaxText) break;
    unsigned cp = c;
    if (len == 2) cp = ((c & 0x1Fu) << 6) | (static_cast<unsigned char>(in[i + 1]) & 0x3Fu);
    if (len == 3)
      cp = ((c & 0x0Fu) << 12) | ((static_cast<unsigned char>(in[i + 1]) & 0x3Fu) << 6) |
           (static_cast<unsigned char>(in[i + 2]) & 0x3Fu);
    if (c == '\t' || c == '\n' || c == '\r') {
      out += ' ';
    } else if (cp < 0x20 || cp == 0x7F || (cp >= 0x80 && cp <= 0x9F) || cp == 0x200E ||
               cp == 0x200F || (cp >= 0x202A && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069) ||
               (len == 1 && c >= 0x80)) {
      out += '?';
    } else {
      out.append(in, i, len);
    }
    i += len;
  }
  return Trim(out);
}

std::string CleanScalar(const Json* v) { return Clean(ScalarText(v)); }

// The items of an array member, at most kMaxItems of them.
template <class F>
void ForEachItem(const Json* arr, F&& f) {
  if (!arr || !arr->is_array()) return;
  size_t n = 0;
  for (const Json& item : *arr) {
    if (++n > kMaxItems) break;
    f(item);
  }
}

bool HasRole(const Json& entity, const char* role) {
  bool found = false;
  ForEachItem(Member(entity, "roles"), [&](const Json& r) {
    if (r.is_string() && LowerAscii(r.get_ref<const std::string&>()) == role) found = true;
  });
  return found;
}

std::vector<std::string> Roles(const Json& entity) {
  std::vector<std::string> roles;
  ForEachItem(Member(entity, "roles"), [&](const Json& r) {
    if (r.is_string() && roles.size() < 16) roles.push_back(LowerAscii(Clean(r.get_ref<const std::string&>())));
  });
  return roles;
}

std::string JoinedRoles(const Json& entity) {
  std::string joined;
  for (const std::string& r : Roles(entity)) joined += (joined.empty() ? "" : ", ") + r;
  return joined;
}

bool IsRdapMediaType(const std::string& type) {
  return LowerAscii(Trim(type)).rfind("application/rdap+json", 0) == 0;
}

// ---- jCard (RFC 7095) ---------------------------------------------------------------

// A jCard value: a text, or the parts of a structured value joined.
std::string CardText(const Json& v) {
  if (!v.is_array()) return CleanScalar(&v);
  std::string out;
  ForEachItem(&v, [&](const Json& part) {
    const std::string t = CardText(part.is_array() ? Json() : part);
    if (!t.empty()) out += (out.empty() ? "" : ", ") + t;
  });
  return Clean(out);
}

// The fields a contact shows; Has* tells that the card carries the
// property at all (it may be there with an empty value).
struct Card {
  std::string Fn, Org, Email, Phone, Country;
  bool HasFn = false, HasOrg = false, HasEmail = false, HasPhone = false, HasCountry = false;
};

Card ReadCard(const Json& entity) {
  Card card;
  const Json* vcard = Member(entity, "vcardArray");
  if (!vcard || !vcard->is_array() || vcard->size() < 2 || !(*vcard)[1].is_array()) return card;
  ForEachItem(&(*vcard)[1], [&](const Json& prop) {
    // [name, parameters, type, value, …]
    if (!prop.is_array() || prop.size() < 4 || !prop[0].is_string()) return;
    const std::string name = LowerAscii(prop[0].get_ref<const std::string&>());
    const Json& params = prop[1];
    const Json& value = prop[3];
    if (name == "fn" && !card.HasFn) {
      card.HasFn = true;
      card.Fn = CardText(value);
    } else if (name == "org" && !card.HasOrg) {
      card.HasOrg = true;
      card.Org = CardText(value);
    } else if (name == "email" && !card.HasEmail) {
      card.HasEmail = true;
      card.Email = CardText(value);
    } else if (name == "tel") {
      bool fax = false;
      const Json* type = Member(params, "type");
      if (type && type->is_string()) fax = LowerAscii(type->get_ref<const std::string&>()) == "fax";
      ForEachItem(type, [&](const Json& t) {
        if (t.is_string() && LowerAscii(t.get_ref<const std::string&>()) == "fax") fax = true;
      });
      if (fax || card.HasPhone) return;
      card.HasPhone = true;
      card.Phone = CardText(value);
      if (LowerAscii(card.Phone).rfind("tel:", 0) == 0) card.Phone.erase(0, 4);
    } else if (name == "adr" && !card.HasCountry) {
      // The country: the "cc" parameter (RFC 8605) and the last of the
      // seven parts of the structured address.
      card.HasCountry = true;
      const std::string cc = CleanScalar(Member(params, "cc"));
      std::string country;
      if (value.is_array() && value.size() >= 7) country = CardText(value[6]);
      if (!country.empty() && !cc.empty() && !SameTextAscii(country, cc))
        card.Country = country + " (" + cc + ")";
      else
        card.Country = country.empty() ? cc : country;
    }
  });
  return card;
}

// ---- Redactions (RFC 9537) --------------------------------------------------------

// One entry of the "redacted" member, mapped onto the contact role and the
// field it hides where that can be told.
struct Redaction {
  std::string Role;   // "registrant", "technical", …; empty: the object itself
  std::string Field;  // "fn", "org", "email", "tel", "fax", "adr", "country", "handle"
  std::string Label;  // name and reason as shown in the list
  bool Partial = false;  // the value is still there, partly or replaced
  bool Shown = false;
};

std::string RoleFromWord(const std::string& w) {
  if (w == "registrant") return "registrant";
  if (w == "admin" || w == "administrative") return "administrative";
  if (w == "tech" || w == "technical") return "technical";
  if (w == "billing") return "billing";
  if (w == "abuse") return "abuse";
  if (w == "registrar") return "registrar";
  return {};
}

std::string FieldFromWords(const std::string& w) {
  if (w == "name") return "fn";
  if (w == "organization" || w == "organisation") return "org";
  if (w == "email" || w == "e-mail") return "email";
  if (w == "phone" || w == "phone ext") return "tel";
  if (w == "fax" || w == "fax ext") return "fax";
  if (w == "street" || w == "city" || w == "postal code" || w == "state/province") return "adr";
  if (w == "country" || w == "country code") return "country";
  if (w == "id") return "handle";
  return {};
}

// The text between the quotes that follow marker in a JSONPath expression.
std::string QuotedAfter(const std::string& path, const std::string& marker) {
  const size_t m = path.find(marker);
  if (m == std::string::npos) return {};
  size_t q = path.find_first_of("'\"", m + marker.size());
  if (q == std::string::npos || q > m + marker.size() + 8) return {};
  const size_t end = path.find(path[q], q + 1);
  if (end == std::string::npos) return {};
  return LowerAscii(path.substr(q + 1, end - q - 1));
}

Redaction ReadRedaction(const Json& r) {
  Redaction red;
  const Json* name = Member(r, "name");
  std::string type = name ? Clean(StringMember(*name, "type")) : std::string();
  std::string label = !type.empty() ? type : name ? Clean(StringMember(*name, "description")) : "";
  const Json* reason = Member(r, "reason");
  std::string why = reason ? Clean(StringMember(*reason, "type")) : std::string();
  if (why.empty() && reason) why = Clean(StringMember(*reason, "description"));
  std::string method = LowerAscii(StringMember(r, "method"));
  red.Partial = method == "partialvalue" || method == "replacementvalue";

  // Registered names ("Registrant Email", "Tech Phone", "Registry Domain ID").
  const std::string lower = LowerAscii(type);
  if (lower == "registry domain id") {
    red.Field = "handle";
  } else if (lower.rfind("registry ", 0) == 0 && lower.size() > 12 &&
             lower.compare(lower.size() - 3, 3, " id") == 0) {
    red.Role = RoleFromWord(lower.substr(9, lower.size() - 12));
    if (!red.Role.empty()) red.Field = "handle";
  } else if (const size_t sp = lower.find(' '); sp != std::string::npos) {
    red.Role = RoleFromWord(lower.substr(0, sp));
    red.Field = red.Role.empty() ? std::string() : FieldFromWords(lower.substr(sp + 1));
    if (red.Field.empty()) red.Role.clear();
  }
  // Otherwise the path tells: the role a filter names and the jCard
  // property it picks.
  if (red.Field.empty()) {
    std::string path = StringMember(r, "postPath");
    if (path.empty()) path = StringMember(r, "prePath");
    if (path.empty()) path = StringMember(r, "replacementPath");
    path = Cut(path, 4096);
    const std::string role = RoleFromWord(QuotedAfter(path, "roles"));
    std::string field = QuotedAfter(path, "@[0]");
    if (field != "fn" && field != "org" && field != "email" && field != "tel" && field != "adr")
      field.clear();
    if (field.empty() && path.size() >= 7 && path.compare(path.size() - 7, 7, ".handle") == 0)
      field = "handle";
    if (!field.empty()) {
      red.Role = role;
      red.Field = field;
    }
  }
  if (label.empty()) label = LangText("Main|OutRdapRedactedUnnamed", "(ohne Namen)");
  red.Label = why.empty() ? label : label + " (" + why + ")";
  return red;
}

// ---- The renderer ---------------------------------------------------------------------

class Renderer {
 public:
  Renderer(const RdapRenderOptions& o, RdapAnswer& a) : opt_(o), a_(a) {}

  void Object(const Json& obj) {
    ForEachItem(Member(obj, "redacted"), [&](const Json& r) {
      if (r.is_object()) redactions_.push_back(ReadRedaction(r));
    });
    const std::string cls = LowerAscii(StringMember(obj, "objectClassName"));
    a_.ObjectClass = Clean(StringMember(obj, "objectClassName"));

    if (const Json* code = Member(obj, "errorCode"); code && code->is_number()) {
      const double c = code->get<double>();
      a_.ErrorCode = c >= 100 && c <= 999 ? static_cast<int>(c) : 0;
      std::string title = Clean(StringMember(obj, "title"));
      Put("error", "Main|OutRdapError", "Fehler:           %s1%",
          Trim(std::to_string(a_.ErrorCode) + " " + title));
      ForEachItem(Member(obj, "description"), [&](const Json& d) {
        if (const std::string t = CleanScalar(&d); !t.empty()) Line("error_description", t, "  " + t);
      });
      Notices(obj);
      return;
    }

    if (cls == "ip network") {
      Network(obj);
    } else if (cls == "autnum") {
      Autnum(obj);
    } else if (cls == "entity") {
      Put("contact", "Main|OutRdapContact", "Kontakt:          %s1%", JoinedRoles(obj));
      ContactFields(obj, Roles(obj));
      Statuses(obj);
      Events(obj);
    } else {
      // Domains, nameservers and objects of classes not known here.
      const std::string ldh = Clean(StringMember(obj, "ldhName"));
      const std::string uni = Clean(StringMember(obj, "unicodeName"));
      const std::string name =
          !ldh.empty() ? ldh : !uni.empty() ? uni : Clean(StringMember(obj, "name"));
      if (!name.empty()) Put("name", "Main|OutRdapName", "Name:             %s1%", name);
      if (!ldh.empty() && !uni.empty() && !SameTextAscii(ldh, uni))
        Put("unicode_name", "Main|OutRdapUnicodeName", "Unicode-Name:     %s1%", uni);
      Handle(obj);
      Statuses(obj);
      Events(obj);
    }

    if (cls == "nameserver") {
      const Json* ips = Member(obj, "ipAddresses");
      for (const char* family : {"v4", "v6"})
        ForEachItem(ips ? Member(*ips, family) : nullptr, [&](const Json& ip) {
          if (const std::string t = CleanScalar(&ip); !t.empty())
            Put("ip_address", "Main|OutRdapIpAddress", "IP-Adresse:       %s1%", t);
        });
    }
    Registrar(obj);
    ForEachItem(Member(obj, "nameservers"), [&](const Json& ns) {
      std::string n = Clean(StringMember(ns, "ldhName"));
      if (n.empty()) n = Clean(StringMember(ns, "unicodeName"));
      if (!n.empty()) Put("nameserver", "Main|OutRdapNameserver", "Nameserver:       %s1%", n);
    });
    Dnssec(obj);
    Contacts(obj, 0);
    LeftoverRedactions();
    if (opt_.WithNotices) {
      Remarks(obj);
      Notices(obj);
    }
  }

  bool Full() const { return full_; }

 private:
  // Every line of the answer is made here: its text and the field it shows.
  void Line(const char* field, const std::string& value, std::string text) {
    if (full_) return;
    if (a_.Lines.size() >= kRdapMaxLines) {
      full_ = true;
      a_.Lines.push_back({LangText("Main|OutRdapLinesCut",
                                   "Die Antwort ergibt mehr als %s1% Zeilen; der Rest wurde "
                                   "weggelassen.",
                                   {std::to_string(kRdapMaxLines)}),
                          "lines_cut", std::to_string(kRdapMaxLines)});
      return;
    }
    a_.Lines.push_back({std::move(text), field, value});
  }
  // A line of one value in the text of a language key.
  void Put(const char* field, const std::string& key, const std::string& def,
           const std::string& value) {
    Line(field, value, LangText(key, def, {value}));
  }

  Redaction* FindRedaction(const std::vector<std::string>& roles, const std::string& field) {
    for (Redaction& r : redactions_) {
      if (r.Field != field) continue;
      if (roles.empty() ? r.Role.empty()
                        : std::find(roles.begin(), roles.end(), r.Role) != roles.end())
        return &r;
    }
    return nullptr;
  }

  // A field's value, marked when a redaction names it; empty when there is
  // nothing to show.
  std::string Shown(const std::string& value, const std::vector<std::string>& roles,
                    const std::string& field) {
    Redaction* r = FindRedaction(roles, field);
    if (!r) return value;
    r->Shown = true;
    const std::string mark = LangText("Main|OutRdapRedacted", "[redigiert]");
    return value.empty() ? mark : value + " " + mark;
  }

  void Handle(const Json& obj) {
    const std::string h = Shown(CleanScalar(Member(obj, "handle")), {}, "handle");
    if (!h.empty()) Put("handle", "Main|OutRdapHandle", "Handle:           %s1%", h);
  }

  void Statuses(const Json& obj) {
    ForEachItem(Member(obj, "status"), [&](const Json& s) {
      if (const std::string t = CleanScalar(&s); !t.empty())
        Put("status", "Main|OutRdapStatus", "Status:           %s1%", t);
    });
  }

  void Events(const Json& obj) {
    ForEachItem(Member(obj, "events"), [&](const Json& e) {
      const std::string action = Clean(StringMember(e, "eventAction"));
      const std::string date = CleanScalar(Member(e, "eventDate"));
      if (action.empty() && date.empty()) return;
      const std::string a = LowerAscii(action);
      if (a == "registration")
        Put("registration", "Main|OutRdapRegistered", "Registriert:      %s1%", date);
      else if (a == "last changed")
        Put("last_changed", "Main|OutRdapChanged", "Geändert:         %s1%", date);
      else if (a == "expiration")
        Put("expiration", "Main|OutRdapExpires", "Läuft ab:         %s1%", date);
      else
        Line("event", action + " " + date,
             LangText("Main|OutRdapEvent", "Ereignis:         %s1%: %s2%", {action, date}));
    });
  }

  void Network(const Json& obj) {
    Handle(obj);
    const std::string first = CleanScalar(Member(obj, "startAddress"));
    const std::string last = CleanScalar(Member(obj, "endAddress"));
    if (!first.empty() || !last.empty())
      Line("range", first + " - " + last,
           LangText("Main|OutRdapRange", "Bereich:          %s1% - %s2%", {first, last}));
    std::vector<std::string> cidrs;
    ForEachItem(Member(obj, "cidr0_cidrs"), [&](const Json& c) {
      std::string prefix = CleanScalar(Member(c, "v4prefix"));
      if (prefix.empty()) prefix = CleanScalar(Member(c, "v6prefix"));
      const std::string len = CleanScalar(Member(c, "length"));
      if (!prefix.empty() && cidrs.size() < kMaxCidrs)
        cidrs.push_back(len.empty() ? prefix : prefix + "/" + len);
    });
    if (cidrs.empty()) cidrs = RangeCidrs(first, last);
    for (const std::string& c : cidrs) Put("cidr", "Main|OutRdapCidr", "CIDR:             %s1%", c);
    Common(obj);
    const std::string parent = CleanScalar(Member(obj, "parentHandle"));
    if (!parent.empty())
      Put("parent_handle", "Main|OutRdapParent", "Übergeordnet:     %s1%", parent);
    Statuses(obj);
    Events(obj);
  }

  void Autnum(const Json& obj) {
    Handle(obj);
    const std::string first = CleanScalar(Member(obj, "startAutnum"));
    const std::string last = CleanScalar(Member(obj, "endAutnum"));
    std::string range = first.empty() ? std::string() : "AS" + first;
    if (!last.empty() && last != first) range += (range.empty() ? "AS" : " - AS") + last;
    if (!range.empty()) Put("autnum_range", "Main|OutRdapAsRange", "AS-Nummern:       %s1%", range);
    Common(obj);
    Statuses(obj);
    Events(obj);
  }

  // Name, type and country of a network or an AS number.
  void Common(const Json& obj) {
    if (const std::string n = CleanScalar(Member(obj, "name")); !n.empty())
      Put("name", "Main|OutRdapName", "Name:             %s1%", n);
    if (const std::string t = CleanScalar(Member(obj, "type")); !t.empty())
      Put("type", "Main|OutRdapType", "Typ:              %s1%", t);
    if (const std::string c = CleanScalar(Member(obj, "country")); !c.empty())
      Put("country", "Main|OutRdapCountry", "Land:             %s1%", c);
  }

  // The prefixes that make up a range, when it is made of a few.
  static std::vector<std::string> RangeCidrs(const std::string& first, const std::string& last) {
    std::vector<std::string> out;
    const IpAddress lo = IpAddress::Parse(first), hi = IpAddress::Parse(last);
    if (lo.Empty() || lo.Family() != hi.Family() || !lo.Zone().empty() || !hi.Zone().empty())
      return out;
    using U = unsigned __int128;
    const int bits = static_cast<int>(8 * lo.Size());
    auto toNum = [](const IpAddress& a) {
      U v = 0;
      for (size_t i = 0; i < a.Size(); ++i) v = (v << 8) | a.Data()[i];
      return v;
    };
    U a = toNum(lo);
    const U b = toNum(hi);
    if (a > b) return out;
    // The last address of the block of 2^k addresses that starts at a.
    auto blockEnd = [&a](int k) { return a + (k >= 128 ? ~U(0) : (U(1) << k) - 1); };
    for (;;) {
      // The largest aligned block that starts at a and ends at b or before.
      int size = 0;  // log2 of the block length
      while (size < bits && ((a >> size) & 1) == 0 && blockEnd(size + 1) >= a &&
             blockEnd(size + 1) <= b)
        ++size;
      if (out.size() >= kMaxCidrs) return {};  // too scattered to be worth listing
      IpAddress start;
      if (lo.IsV4()) {
        start = IpAddress::FromV4(static_cast<std::uint32_t>(a));
      } else {
        std::array<std::uint8_t, 16> bytes{};
        for (int i = 0; i < 16; ++i) bytes[i] = static_cast<std::uint8_t>(a >> (8 * (15 - i)));
        start = IpAddress::FromV6(bytes);
      }
      out.push_back(start.ToString() + "/" + std::to_string(bits - size));
      if (size >= bits) break;
      const U next = a + (U(1) << size);
      if (next == 0 || next > b) break;
      a = next;
    }
    return out;
  }

  void Registrar(const Json& obj) {
    const Json* registrar = nullptr;
    ForEachItem(Member(obj, "entities"), [&](const Json& e) {
      if (!registrar && e.is_object() && HasRole(e, "registrar")) registrar = &e;
    });
    if (registrar) {
      const std::vector<std::string> roles{"registrar"};
      const Card card = ReadCard(*registrar);
      std::string name = Shown(card.Fn, roles, "fn");
      if (name.empty()) name = CleanScalar(Member(*registrar, "handle"));
      Put("registrar", "Main|OutRdapRegistrar", "Registrar:        %s1%", name);
      ForEachItem(Member(*registrar, "publicIds"), [&](const Json& id) {
        if (LowerAscii(StringMember(id, "type")) == "iana registrar id")
          if (const std::string n = CleanScalar(Member(id, "identifier")); !n.empty())
            Put("registrar_iana_id", "Main|OutRdapIanaId", "  IANA-ID:        %s1%", n);
      });
      bool abuseShown = false;
      ForEachItem(Member(*registrar, "entities"), [&](const Json& e) {
        if (abuseShown || !e.is_object() || !HasRole(e, "abuse")) return;
        abuseShown = true;
        const Card abuse = ReadCard(e);
        const std::vector<std::string> abuseRoles{"abuse"};
        const std::string mail = abuse.HasEmail ? Shown(abuse.Email, abuseRoles, "email") : "";
        const std::string phone = abuse.HasPhone ? Shown(abuse.Phone, abuseRoles, "tel") : "";
        if (!mail.empty())
          Put("abuse_email", "Main|OutRdapAbuseMail", "  Abuse-E-Mail:   %s1%", mail);
        if (!phone.empty())
          Put("abuse_phone", "Main|OutRdapAbusePhone", "  Abuse-Telefon:  %s1%", phone);
      });
    }
    // The registrar's own RDAP service: the registry's "related" link, at
    // the top or in the registrar entity.
    auto findRelated = [&](const Json* links) {
      ForEachItem(links, [&](const Json& l) {
        if (!a_.RelatedUrl.empty() || LowerAscii(StringMember(l, "rel")) != "related" ||
            !IsRdapMediaType(StringMember(l, "type")))
          return;
        const std::string href = Trim(StringMember(l, "href"));
        const std::string scheme = LowerAscii(href.substr(0, 8));
        // Only a link that is shown as it is may be followed.
        if (href.size() > kMaxLinkLength || Clean(href) != href || href.find(' ') != std::string::npos)
          return;
        if (scheme.rfind("https://", 0) == 0 || scheme.rfind("http://", 0) == 0) a_.RelatedUrl = href;
      });
    };
    findRelated(Member(obj, "links"));
    if (a_.RelatedUrl.empty() && registrar) findRelated(Member(*registrar, "links"));
    if (!a_.RelatedUrl.empty())
      Put("related", "Main|OutRdapRelated", "  RDAP-Link:      %s1%", a_.RelatedUrl);
  }

  void Dnssec(const Json& obj) {
    const Json* sec = Member(obj, "secureDNS");
    if (!sec) return;
    const Json* signedFlag = Member(*sec, "delegationSigned");
    if (signedFlag && signedFlag->is_boolean())
      Line("dnssec", signedFlag->get<bool>() ? "signed" : "unsigned",
           signedFlag->get<bool>()
               ? LangText("Main|OutRdapDnssecSigned", "DNSSEC:           signiert")
               : LangText("Main|OutRdapDnssecUnsigned", "DNSSEC:           nicht signiert"));
    ForEachItem(Member(*sec, "dsData"), [&](const Json& ds) {
      std::string t;
      for (const char* k : {"keyTag", "algorithm", "digestType", "digest"}) {
        const std::string v = CleanScalar(Member(ds, k));
        if (!v.empty()) t += (t.empty() ? "" : " ") + v;
      }
      if (!t.empty()) Put("ds", "Main|OutRdapDsRecord", "  DS:             %s1%", t);
    });
  }

  // Name, organisation, e-mail and country of a contact.
  void ContactFields(const Json& e, const std::vector<std::string>& roles) {
    const std::string handle = Shown(CleanScalar(Member(e, "handle")), roles, "handle");
    if (!handle.empty())
      Put("contact_handle", "Main|OutRdapContactHandle", "  Handle:         %s1%", handle);
    const Card c = ReadCard(e);
    auto field = [&](bool has, const std::string& value, const char* id, const char* name,
                     const std::string& key, const std::string& def) {
      // A field is shown when it has a value or a redaction names it (a
      // removed field is absent, an emptied one is empty: both read
      // "redacted", never blank).
      const std::string shown = Shown(has ? value : std::string(), roles, id);
      if (!shown.empty()) Put(name, key, def, shown);
    };
    field(c.HasFn, c.Fn, "fn", "contact_name", "Main|OutRdapContactName", "  Name:           %s1%");
    field(c.HasOrg, c.Org, "org", "contact_org", "Main|OutRdapContactOrg",
          "  Organisation:   %s1%");
    field(c.HasEmail, c.Email, "email", "contact_email", "Main|OutRdapContactMail",
          "  E-Mail:         %s1%");
    field(c.HasCountry, c.Country, "country", "contact_country", "Main|OutRdapContactCountry",
          "  Land:           %s1%");
  }

  void Contacts(const Json& parent, int depth) {
    if (depth >= kMaxEntityDepth) return;
    ForEachItem(Member(parent, "entities"), [&](const Json& e) {
      if (!e.is_object() || entities_ >= kMaxEntities || full_) return;
      if (HasRole(e, "registrar")) return;  // shown above
      ++entities_;
      Put("contact", "Main|OutRdapContact", "Kontakt:          %s1%", JoinedRoles(e));
      ContactFields(e, Roles(e));
      Contacts(e, depth + 1);
    });
  }

  void LeftoverRedactions() {
    for (const Redaction& r : redactions_)
      if (!r.Shown)
        Put("redacted", "Main|OutRdapRedactedField", "Redigiert:        %s1%", r.Label);
  }

  // Title and description lines of notices or remarks, each line indented.
  void Texts(const Json* list, const char* field, const std::string& key, const std::string& def) {
    const std::string text = std::string(field) + "_text", link = std::string(field) + "_link";
    ForEachItem(list, [&](const Json& n) {
      const std::string title = Clean(StringMember(n, "title"));
      Put(field, key, def, title);
      ForEachItem(Member(n, "description"), [&](const Json& d) {
        if (const std::string t = CleanScalar(&d); !t.empty()) Line(text.c_str(), t, "  " + t);
      });
      ForEachItem(Member(n, "links"), [&](const Json& l) {
        if (const std::string h = Clean(StringMember(l, "href")); !h.empty())
          Line(link.c_str(), h, "  " + h);
      });
    });
  }
  void Remarks(const Json& obj) {
    Texts(Member(obj, "remarks"), "remark", "Main|OutRdapRemark", "Bemerkung:        %s1%");
  }
  void Notices(const Json& obj) {
    if (opt_.WithNotices)
      Texts(Member(obj, "notices"), "notice", "Main|OutRdapNotice", "Hinweis:          %s1%");
  }

  const RdapRenderOptions& opt_;
  RdapAnswer& a_;
  std::vector<Redaction> redactions_;
  size_t entities_ = 0;
  bool full_ = false;
};

}  // namespace

RdapAnswer RenderRdapAnswer(const std::string& json, const RdapRenderOptions& options) {
  RdapAnswer a;
  Json doc;
  switch (rdap::ParseBoundedJson(json, kRdapMaxAnswer, kRdapMaxNesting, doc)) {
    case rdap::JsonRefusal::None:
      break;
    case rdap::JsonRefusal::TooLarge:
      a.Refusal = LangText("Main|OutRdapTooLarge", "Die RDAP-Antwort ist länger als %s1% Bytes.",
                           {std::to_string(kRdapMaxAnswer)});
      return a;
    case rdap::JsonRefusal::TooDeep:
      a.Refusal = LangText("Main|OutRdapTooDeep", "Die RDAP-Antwort ist zu tief verschachtelt.");
      return a;
    case rdap::JsonRefusal::NotJson:
      a.Refusal = LangText("Main|OutRdapNotJson", "Die RDAP-Antwort ist kein gültiges JSON.");
      return a;
  }
  if (!doc.is_object()) {
    a.Refusal = LangText("Main|OutRdapNoObject", "Die RDAP-Antwort enthält kein RDAP-Objekt.");
    return a;
  }
  try {
    Renderer r(options, a);
    r.Object(doc);
    a.Ok = true;
  } catch (...) {
    // Nothing above throws on purpose; should the library still do so, what
    // was read so far stands and the answer counts as unreadable.
    a.Ok = false;
    a.Refusal = LangText("Main|OutRdapNotJson", "Die RDAP-Antwort ist kein gültiges JSON.");
  }
  return a;
}

}  // namespace quovix
