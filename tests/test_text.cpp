// Text and URL helpers, mail-link encoding, version values.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>

#include "app/fShared.h"
#include "common/fMain.h"
#include "platform/Privilege.h"

using namespace quovix;

TEST(TextFields, GetFieldCountsEmptyFieldsAndOutOfRange) {
  EXPECT_EQ(GetField("DE|Germany|Deutschland", "|", 3), "Deutschland");
  EXPECT_EQ(GetField("DE|Germany|Deutschland", "|", 1), "DE");
  EXPECT_EQ(GetField("DE|Germany|Deutschland", "|", 4), "");
  EXPECT_EQ(GetField("DE|Germany|Deutschland", "|", 0), "");
  EXPECT_EQ(GetField("DE|Germany|Deutschland", "|", -3), "");
  EXPECT_EQ(GetField("a||b", "|", 2), "");
  EXPECT_EQ(GetField("a||b", "|", 3), "b");
  EXPECT_EQ(GetField("a|b|", "|", 2), "b");
  EXPECT_EQ(GetField("a|b|", "|", 3), "");
  EXPECT_EQ(GetField("a|b|", "|", 4), "");
  EXPECT_EQ(GetField("", "|", 1), "");
  EXPECT_EQ(GetField("", "|", 2), "");
}

TEST(TextFields, GetFieldSplitsOnTheWholeSeparatorOnly) {
  const std::string row = "a:b::c:d::e";
  EXPECT_EQ(GetField(row, "::", 1), "a:b");
  EXPECT_EQ(GetField(row, "::", 2), "c:d");
  EXPECT_EQ(GetField(row, "::", 3), "e");
  EXPECT_EQ(GetField(row, "::", 4), "");
  // An odd run of separator characters: the pair is found first.
  EXPECT_EQ(GetField("x:::y", "::", 2), ":y");
}

TEST(TextFields, CountOccurrencesDoesNotOverlap) {
  EXPECT_EQ(CountOccurrences("mail.example.com", "."), 2);
  EXPECT_EQ(CountOccurrences("aaa", "aa"), 1);
  EXPECT_EQ(CountOccurrences("aaaa", "aa"), 2);
  EXPECT_EQ(CountOccurrences("abc", ""), 0);
  EXPECT_EQ(CountOccurrences("", "a"), 0);
}

TEST(TextFields, LastLabel) {
  EXPECT_EQ(LastLabel("mail.example.com"), "com");
  EXPECT_EQ(LastLabel("localhost"), "localhost");
  EXPECT_EQ(LastLabel("example.com."), "");
  EXPECT_EQ(LastLabel(""), "");
}

TEST(TextUrl, SplitUrlPortOnlyInTheHostPart) {
  using R = std::pair<std::string, int>;
  EXPECT_EQ(SplitUrlPort("whois.example.net:4343"), R("whois.example.net", 4343));
  EXPECT_EQ(SplitUrlPort("whois.example.net"), R("whois.example.net", -1));
  EXPECT_EQ(SplitUrlPort("host:"), R("host", -1));
  EXPECT_EQ(SplitUrlPort("host:abc"), R("host", -1));
  EXPECT_EQ(SplitUrlPort("scheme://host:8080/path"), R("scheme://host/path", 8080));
  EXPECT_EQ(SplitUrlPort("scheme://host/path"), R("scheme://host/path", -1));
  // A ":" in the path is not a port separator.
  EXPECT_EQ(SplitUrlPort("http://host/a:80"), R("http://host/a:80", -1));
  EXPECT_EQ(SplitUrlPort("file:///srv:21/x"), R("file:///srv/x", 21));
  EXPECT_EQ(SplitUrlPort(""), R("", -1));
  // A port too large for an integer is not a number.
  EXPECT_EQ(SplitUrlPort("h:99999999999").second, -1);
}

TEST(TextUtf8, DecodeKeepsValidTextAndNeverLosesStrayBytes) {
  EXPECT_EQ(DecodeUtf8("\xC3\xBC"), "ü");
  EXPECT_EQ(DecodeUtf8("plain ASCII: a=b"), "plain ASCII: a=b");
  EXPECT_EQ(DecodeUtf8(""), "");
  // Latin-1 bytes without any valid sequence: read as Latin-1.
  EXPECT_EQ(DecodeUtf8("M\xFCller"), "Müller");
  // Mixed: valid sequences stay, the stray byte becomes its Latin-1 letter.
  EXPECT_EQ(DecodeUtf8("\xC3\xA4 \xE9"), "ä é");
  // Truncated sequence at the end and an overlong encoding.
  EXPECT_EQ(DecodeUtf8("ab\xE2\x82"), "abâ\xC2\x82");
  EXPECT_EQ(DecodeUtf8("\xC0\xAF"), "À¯");
}

TEST(TextControls, TrimKeepsControlCharactersAndMaskShowsThem) {
  // Blanks, tabs and line ends go; an ESC stays, to be shown, not hidden.
  EXPECT_EQ(Trim(" \t\r\n\x1b[2J text \v\f"), "\x1b[2J text");
  EXPECT_EQ(Trim(std::string("\0a\x01", 3)), std::string("\0a\x01", 3));
  EXPECT_EQ(MaskControls(Trim("\x1b[2Jcleared")), "?[2Jcleared");
  // C0, DEL, C1 (UTF-8 encoded and as a stray 8-bit byte), the bidi
  // embeddings, overrides and isolates: each one "?". TAB, letters, other
  // stray bytes and the characters around the bidi block stay.
  EXPECT_EQ(MaskControls("a\x01" "b\x7f" "c\tä"), "a?b?c\tä");
  EXPECT_EQ(MaskControls("x\x9b" "31m\xc2\x9b" "y\xc2\x85z"), "x?31m?y?z");
  EXPECT_EQ(MaskControls("\xe2\x80\xaa\xe2\x80\xab\xe2\x80\xac\xe2\x80\xad\xe2\x80\xae"), "?????");
  EXPECT_EQ(MaskControls("\xe2\x81\xa6\xe2\x81\xa7\xe2\x81\xa8\xe2\x81\xa9"), "????");
  EXPECT_EQ(MaskControls("\xe2\x80\xa9\xe2\x80\xaf\xe2\x81\xa5\xe2\x81\xaa"),
            "\xe2\x80\xa9\xe2\x80\xaf\xe2\x81\xa5\xe2\x81\xaa");
  EXPECT_EQ(MaskControls("M\xfcller \xa0"), "M\xfcller \xa0");
  EXPECT_EQ(MaskControls("€ \xf0\x9f\x98\x80"), "€ \xf0\x9f\x98\x80");
}

TEST(TextReplace, ReplaceAllIsOnePassWithoutOverlaps) {
  EXPECT_EQ(ReplaceAll("aaa", "a", "aa"), "aaaaaa");
  EXPECT_EQ(ReplaceAll("aaaa", "aa", "b"), "bb");
  EXPECT_EQ(ReplaceAll("x", "", "y"), "x");
  EXPECT_EQ(ReplaceAll("a\nb\n", "\n", "\r\n"), "a\r\nb\r\n");
  std::string big;
  while (big.size() < (1u << 20)) big += "line\n";
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(ReplaceAll(big, "\n", "\r\n").size(), big.size() / 5 * 6);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
}

TEST(TextCase, LatinLettersMatchTheirOtherCase) {
  EXPECT_TRUE(SameText("ÄÖÜ Straße", "äöü straße"));
  EXPECT_TRUE(SameText("Main|TabDns", "main|tabdns"));
  EXPECT_FALSE(SameText("a", "ab"));
  // The multiplication sign has no lower case; the division sign differs.
  EXPECT_FALSE(SameText("×", "÷"));
  EXPECT_EQ(LowerLatin("ÀÉÎ×Þ"), "àéî×þ");
}

TEST(TextNumbers, StrToIntDefTakesOnlyWholeNumbers) {
  EXPECT_EQ(StrToIntDef("2000", 7), 2000);
  EXPECT_EQ(StrToIntDef("-1", 7), -1);
  EXPECT_EQ(StrToIntDef("$10", 7), 16);
  EXPECT_EQ(StrToIntDef("12pt", 7), 7);
  EXPECT_EQ(StrToIntDef("", 7), 7);
  EXPECT_EQ(StrToIntDef("-", 7), 7);
  EXPECT_EQ(StrToIntDef("2147483647", 7), 2147483647);
  EXPECT_EQ(StrToIntDef("2147483648", 7), 7);
  EXPECT_EQ(StrToIntDef("-2147483648", 7), -2147483647 - 1);
}

TEST(SharedOps, EncodeMailtoTextKeepsOnlyLettersAndDigits) {
  EXPECT_EQ(EncodeMailtoText("Quovix 1.0"), "Quovix%201%2E0");
  EXPECT_EQ(EncodeMailtoText("a&b@c"), "a%26b%40c");
  EXPECT_EQ(EncodeMailtoText("ä"), "%C3%A4");
  EXPECT_EQ(EncodeMailtoText(std::string("\x00\xFF", 2)), "%00%FF");
  EXPECT_EQ(EncodeMailtoText(""), "");
  EXPECT_EQ(MailtoLink("x@y.z", "Hi there"), "mailto:x%40y%2Ez?subject=Hi%20there");
}

TEST(SharedOps, VersionValuesCompiledIn) {
  EXPECT_EQ(GetVersionInfoValue("Quovix", "ProductName"), "Quovix");
  EXPECT_EQ(GetVersionInfoValue("Quovix", "ProductVersion"), QUOVIX_VERSION);
  EXPECT_EQ(GetVersionInfoValue("Quovix", "productversion"), QUOVIX_VERSION);
  EXPECT_FALSE(GetVersionInfoValue("Quovix", "FileDescription").empty());
  EXPECT_FALSE(GetVersionInfoValue("Quovix", "LegalCopyright").empty());
  EXPECT_EQ(GetVersionInfoValue("Quovix", "NoSuchKey"), "");
}

namespace {
struct FakePrivilege : platform::IPrivilege {
  bool admin = false;
  bool IsAdministrator() override { return admin; }
};
}  // namespace

TEST(SharedOps, IsUserAdminFollowsThePrivilegeTest) {
  EXPECT_EQ(IsUserAdmin(), geteuid() == 0);
  FakePrivilege fake;
  platform::ScopedSeam<platform::IPrivilege> seam(&fake);
  EXPECT_FALSE(IsUserAdmin());
  fake.admin = true;
  EXPECT_TRUE(IsUserAdmin());
}

TEST(TextHostSpan, DoubleClickTakesTheWholeNameOrAddress) {
  struct Case {
    std::string line, clickedOn, selected;  // clickedOn: the text at the click
  };
  const std::vector<Case> cases = {
      {"  Hostname:   www.example.org", "example", "www.example.org"},
      {"Die Domain \"sub.beispiel.de\" existiert nicht.", "beispiel", "sub.beispiel.de"},
      {"Antwort von 192.0.2.7: Bytes=32", "0.2", "192.0.2.7"},
      {"Antwort von ::1: Bytes=32", "::1", "::1"},
      {"  fe80::21b:21ff:feaa:bb02%enp5s0 (link-lokal)", "feaa", "fe80::21b:21ff:feaa:bb02%enp5s0"},
      {"[2001:db8::1]:443", "db8", "2001:db8::1"},
      {"Netz 2001:db8::/32", "2001", "2001:db8::"},
      {"  52:54:00:12:34:56 (eth0)", "12", "52:54:00:12:34:56"},
      {"Gefunden: bücher.example…", "cher", "bücher.example"},
      {"  Hostname:   www.example.org", "Hostname", "Hostname"},
      {"ping www.example.org.", "org", "www.example.org"},
  };
  for (const Case& c : cases) {
    const size_t at = c.line.find(c.clickedOn);
    ASSERT_NE(at, std::string::npos) << c.line;
    const auto [first, length] = HostSpanAt(c.line, at + 1);
    EXPECT_EQ(c.line.substr(first, length), c.selected) << c.line;
  }
  // Just behind a name still takes it; between blanks there is nothing.
  EXPECT_EQ(HostSpanAt("a.example  x", 9), (std::pair<size_t, size_t>{0, 9}));
  EXPECT_EQ(HostSpanAt("a.example  x", 10).second, 0u);
  EXPECT_EQ(HostSpanAt("", 0).second, 0u);
  EXPECT_EQ(HostSpanAt("x\xC3", 5), (std::pair<size_t, size_t>{0, 1}));  // stray byte, offset past the end
}
