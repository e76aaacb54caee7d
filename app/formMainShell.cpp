// Menus, edit popup, language texts, geometry and resizing of the main window.
#include <algorithm>

#include "app/fShared.h"
#include "app/formMain.h"
#include "common/fMain.h"
#include "shell/fLanguage.h"
#include "tools/fTrace.h"

namespace quovix {

// ---- Language texts ------------------------------------------------------------

namespace {
// A user-interface font size from a language file; anything that is not a
// sensible whole number of points falls back to 8.
int FontSizeFromText(const std::string& text) {
  int size = StrToIntDef(text, 8);
  return size >= 1 && size <= 96 ? size : 8;
}
}  // namespace

void TfrmMain::ApplyLanguageTexts() {
  FontName = LangText("Font|Name", "Tahoma");
  FontSize = FontSizeFromText(LangText("Font|Size", "8"));
  Caption = LangText("Main|frmTitle", "Quovix");
  ApplicationTitle = Caption;

  mnuFile.SetCaption(LangText("Main|mnuFile", "&Datei"));
  mnuFileExit.SetCaption(LangText("Main|mnuFileExit", "B&eenden"));
  mnuFileSave.SetCaption(LangText("Main|mnuFileSave", "Ausgabe &speichern..."));
  mnuFileOpen.SetCaption(LangText("Main|mnuFileOpen", "Aufzeichnung ö&ffnen..."));
  // The English word stays visible in every language, so that a user who
  // cannot read the current language still finds the way back.
  const std::string language = LangText("Main|mnuLanguage", "Sprache");
  mnuLanguage.SetCaption(language == "Language" ? "&Language" : language + " / &Language");
  mnuTools.SetCaption(LangText("Main|mnuTools", "&Tools"));
  mnuToolsDnsFlush.SetCaption(LangText("Main|mnuToolsDnsFlush", "&DNS-Cache leeren"));
  mnuExtras.SetCaption(LangText("Main|mnuExtras", "E&xtras"));
  mnuExtrasSettings.SetCaption(LangText("Main|mnuExtrasSettings", "&Optionen..."));
  mnuHelp.SetCaption(LangText("Main|mnuHelp", "&Hilfe"));
  mnuHelpWebsite.SetCaption(LangText("Main|mnuHelpWebsite", "&Produktseite im Web besuchen"));
  mnuHelpEMail.SetCaption(LangText("Main|mnuHelpEMail", "E-&Mail an den Autor senden"));
  mnuHelpDonate.SetCaption(LangText("Main|mnuHelpDonate", "%s1% &unterstützen", {"Quovix"}));
  mnuHelpInfo.SetCaption(LangText("Main|mnuHelpInfo", "&Info über %s1%", {"Quovix"}));

  pmnuEditCopy.SetCaption(LangText("Main|pmnuEditCopy", "&Kopieren"));
  pmnuEditSelectAll.SetCaption(LangText("Main|pmnuEditSelectAll", "&Alles markieren"));
  pmnuSelSendTo.SetCaption(LangText("Main|pmnuSelSendTo", "Au&swahl übernehmen in"));
  pmnuSelSendToDNS.SetCaption(LangText("Main|pmnuSelSendToDNS", "&DNS"));
  pmnuSelSendToPing.SetCaption(LangText("Main|pmnuSelSendToPing", "&Ping"));
  pmnuSelSendToTrace.SetCaption(LangText("Main|pmnuSelSendToTrace", "&Trace"));
  pmnuSelSendToWhois.SetCaption(LangText("Main|pmnuSelSendToWhois", "&Whois"));
  pmnuSelSendToEMail.SetCaption(LangText("Main|pmnuSelSendToEMail", "&Mail-Check"));
  pmnuSelSendToHead.SetCaption(LangText("Main|pmnuSelSendToHead", "&HTTP-Header"));
  pmnuSelSendToGPRank.SetCaption(LangText("Main|pmnuSelSendToGPRank", "Page&Rank"));
  pmnuSelSendToList.SetCaption(LangText("Main|pmnuSelSendToList", "&Listen (Suche)"));

  tabDns.SetCaption(LangText("Main|tabDns", "DNS"));
  tabPing.SetCaption(LangText("Main|tabPing", "Ping"));
  tabTrace.SetCaption(LangText("Main|tabTrace", "Trace"));
  tabWhois.SetCaption(LangText("Main|tabWhois", "Whois"));
  tabEMail.SetCaption(LangText("Main|tabEMail", "Mail-Check"));
  tabHead.SetCaption(LangText("Main|tabHead", "HTTP-Header"));
  tabTime.SetCaption(LangText("Main|tabTime", "Time"));
  tabList.SetCaption(LangText("Main|tabList", "Listen"));
  tabGPRank.SetCaption(LangText("Main|tabGPRank", "PageRank"));
  tabOwn.SetCaption(LangText("Main|tabOwn", "Eigener Rechner"));

  // A button whose run is going shows "Abbrechen" until the run ends; a
  // language switch in the middle of a run must not take that away.
  const std::string start = LangText("Main|btnStart", "&Start");
  const std::string abort = LangText("Main|btnAbort", "Abbrechen");
  for (TButton* b : {&btnDnsStart, &btnPingStart, &btnTraceStart, &btnWhoisStart, &btnEMailStart,
                     &btnHeadStart, &btnGPRankStart, &btnOwnStart}) {
    b->AltCaption = abort;
    b->SetCaption(b->RunState != 0 ? abort : start);
  }
  // The ready text in the language now loaded; a running tool's status
  // stays until its run ends (and then reads the new language).
  const std::string ready = " " + LangText("Main|sbMainReady", "Bereit.");
  if (ToolIdle && sbMain.SimpleText() != ready) SetStatus(ready);

  const std::string connection = LangText("Main|grpConnection", "Verbindungsdaten");
  for (TGroupBox* g : {&grpDns, &grpPing, &grpTrace, &grpWhois, &grpEMail, &grpHead, &grpTime,
                       &grpGPRank})
    g->SetCaption(connection);
  // Labels name their input's access key with "&"; letters the menu bar
  // uses (D, T, X, H; F in English) are left to it.
  const std::string hostIp = LangText("Main|lblHostIp", "Host&name / IP-Adresse:");
  for (TLabel* l : {&lblDnsHost, &lblPingHost, &lblTraceHost, &lblWhoisHost}) l->SetCaption(hostIp);
  const std::string resolve = LangText("Main|chkResolve", "Hostnamen und IP-Adressen au&flösen");
  for (TCheckBox* c : {&chkDnsExtendedResolve, &chkPingResolve, &chkTraceResolve, &chkOwnResolve})
    c->SetCaption(resolve);
  const std::string preferIPv6 = LangText("Main|chkPreferIPv6", "IPv6 bevor&zugen");
  chkPingPreferIPv6.SetCaption(preferIPv6);
  chkTracePreferIPv6.SetCaption(preferIPv6);
  chkTraceContinuous.SetCaption(LangText("Main|chkTraceContinuous", "Fortlaufend m&essen"));
  lblTraceMethod.SetCaption(LangText("Main|lblTraceMethod", "Meth&ode:"));
  lblTracePort.SetCaption(LangText("Main|lblTracePort", "&Port:"));
  chkPingChart.SetCaption(LangText("Main|chkPingChart", "Dia&gramm"));
  {
    const std::vector<std::string> captions = TraceTableCaptions();
    for (std::size_t i = 0; i < captions.size(); ++i)
      lvTraceRounds.SetColumnCaption(static_cast<int>(i), captions[i]);
  }
  const std::string direct = LangText("Main|chkDirectQuery", "Di&rekte Anfrage");
  chkDnsDirectQuery.SetCaption(direct);
  chkWhoisDirectQuery.SetCaption(direct);
  const std::string timeout = LangText("Main|lblTimeout", "Ti&meout (ms):");
  for (TLabel* l : {&lblPingTimeout, &lblTraceTimeout, &lblWhoisTimeout, &lblEMailTimeout,
                    &lblHeadTimeout, &lblGPRankTimeout})
    l->SetCaption(timeout);
  const std::string redirect = LangText("Main|chkAutoRedirect", "Automatische Um&leitung");
  chkWhoisRedirect.SetCaption(redirect);
  chkHeadRedirect.SetCaption(redirect);
  chkHeadTls.SetCaption(LangText("Main|chkHeadTls", "TLS-Deta&ils"));
  chkHeadHttp2.SetCaption(LangText("Main|chkHeadHttp2", "HTTP/&2 erlauben"));

  chkDnsExtended.SetCaption(
      LangText("Main|chkDnsExtended", "DNS-&Informationen (alle Typen)"));
  chkDnsReverse.SetCaption(LangText("Main|chkDnsReverse", "Hostname / IP-Adresse ü&berprüfen"));
  chkDnsDnssec.SetCaption(LangText("Main|chkDnsDnssec", "DNSSEC &prüfen"));
  chkDnsIterate.SetCaption(LangText("Main|chkDnsIterate", "Ab der &Wurzel auflösen"));
  lblDnsType.SetCaption(LangText("Main|lblDnsType", "T&yp:"));
  lblPingCount.SetCaption(LangText("Main|lblPingCount", "&Anzahl:"));
  lblPingByte.SetCaption(LangText("Main|lblPingByte", "&Bytes:"));
  lblPingPause.SetCaption(LangText("Main|lblPingPause", "&Pause (ms):"));
  lblTraceHops.SetCaption(LangText("Main|lblTraceHops", "&Anzahl:"));
  lblWhoisServer.SetCaption(LangText("Main|lblWhoisServer", "Whois-Ser&ver:"));
  chkWhoisCheck.SetCaption(LangText("Main|chkWhoisCheck", "Domainname / IP-Adresse ü&berprüfen"));
  chkWhoisNetwork.SetCaption(LangText("Main|chkWhoisNetwork", "Netzwerk&anfrage durchführen"));
  chkWhoisFormat.SetCaption(LangText("Main|chkWhoisFormat", "Ausgabe &formatieren"));
  chkWhoisRdap.SetCaption(LangText("Main|chkWhoisRdap", "RDAP ver&wenden"));
  lblEMailAddress.SetCaption(LangText("Main|lblEMailAddress", "&E-Mail Adresse:"));
  lblEMailSender.SetCaption(LangText("Main|lblEMailSender", "A&bsender (optional):"));
  lblEMailMXServer.SetCaption(LangText("Main|lblEMailMXServer", "MX-Se&rver (optional):"));
  chkEMailPolicy.SetCaption(LangText("Main|chkEMailPolicy", "Richtlinien &prüfen"));
  lblEMailSpfIp.SetCaption(LangText("Main|lblEMailSpfIp", "Absender-&IP (optional):"));
  lblEMailDkim.SetCaption(LangText("Main|lblEMailDkim", "DKIM-Se&lektoren (optional):"));
  chkEMailTls.SetCaption(LangText("Main|chkEMailTls", "TLS prü&fen"));
  chkEMailAllMx.SetCaption(LangText("Main|chkEMailAllMx", "&Alle Mail-Exchanger prüfen"));
  lblHeadURL.SetCaption(LangText("Main|lblHeadURL", "&URL:"));
  lblTimeServer.SetCaption(LangText("Main|lblTimeServer", "&NTP-Server:"));
  btnTimeQuery.SetCaption(LangText("Main|btnTimeQuery", "&Abfragen"));
  btnTimeUpdate.SetCaption(LangText("Main|btnTimeUpdate", "Systemzeit a&ktualisieren"));
  chkTimeNts.SetCaption(LangText("Main|chkTimeNts", "NT&S verwenden"));
  lblTimeLoc.SetCaption(LangText("Main|lblTimeLoc", "Lokale Systemzeit:"));
  lblTimeNet.SetCaption(LangText("Main|lblTimeNet", "Zeit vom NTP-Server:"));
  lblTimeDiff.SetCaption(LangText("Main|lblTimeDiff", "Differenz (Server − lokal):"));
  grpList.SetCaption(LangText("Main|grpList", "Suche"));
  lblListList.SetCaption(LangText("Main|lblListList", "&Liste:"));
  lblListSearch.SetCaption(LangText("Main|lblListSearch", "&Suchbegriff:"));
  btnListSearch.SetCaption(LangText("Main|btnListSearch", "Such&en"));
  lblGPRankURL.SetCaption(LangText("Main|lblGPRankURL", "&URL:"));
  lblGPRankCount.SetCaption(LangText("Main|lblGPRankCount", "&Anzahl:"));
  lblGPRankResult.SetCaption(LangText("Main|lblGPRankResult", "Google PageRank:"));
  lvGPRankMulti.SetColumnCaption(0, LangText("Main|lvGPRankMultiServer", "Server"));
  lvGPRankMulti.SetColumnCaption(1, LangText("Main|lvGPRankMultiRank", "PageRank"));
  ApplyHints();

  if (OnFormChanged) OnFormChanged();
}

void TfrmMain::ApplyHints() {
  // Tooltips where a caption is too short to tell what the option does; a
  // label and its input say the same.
  auto hint = [](std::initializer_list<TControl*> controls, const std::string& text) {
    for (TControl* c : controls) c->SetHint(text);
  };
  hint({&chkDnsExtended},
       LangText("Main|hintDnsExtended",
                "Den DNS-Server aus den Optionen nach den weiteren Einträgen des Namens fragen "
                "(A, AAAA, PTR, NS, MX, TXT, CAA, SOA)"));
  hint({&chkDnsExtendedResolve},
       LangText("Main|hintDnsExtendedResolve",
                "Hinter jedem Namen der DNS-Informationen seine Adresse zeigen, hinter jeder Adresse ihren Namen"));
  hint({&chkDnsDnssec},
       LangText("Main|hintDnsDnssec",
                "Die DNSSEC-Kette des Namens vom Vertrauensanker der Wurzel an prüfen: DS, DNSKEY und "
                "Signaturen jeder Zone"));
  hint({&chkDnsIterate},
       LangText("Main|hintDnsIterate",
                "Den Namen selbst von den Wurzelservern an auflösen, jeden Verweis mit Server und Zeit zeigen"));
  hint({&chkDnsReverse}, LangText("Main|hintDnsReverse",
                                  "Die Antwort in der Gegenrichtung nachschlagen: passen Name und Adresse zusammen?"));
  hint({&chkDnsDirectQuery},
       LangText("Main|hintDnsDirectQuery",
                "Den Namen so abfragen, wie er eingegeben ist, statt seiner registrierbaren Domain"));
  hint({&lblDnsType, &cmbDnsType},
       LangText("Main|hintDnsType",
                "Nur diesen Eintragstyp (oder TYPEnnn) beim DNS-Server abfragen und die ganze Antwort zeigen; leer: Nameserver-Lookup"));
  hint({&chkPingResolve, &chkTraceResolve},
       LangText("Main|hintPingResolve",
                "Zur Adresse den Namen nachschlagen (und zum Namen die Adresse) und mit ausgeben"));
  hint({&chkOwnResolve}, LangText("Main|hintOwnResolve",
                                  "Zu den Adressen dieses Rechners ihre Namen nachschlagen"));
  hint({&chkTraceContinuous},
       LangText("Main|hintTraceContinuous",
                "Jeden Knoten Runde um Runde abfragen und Verlust und Laufzeiten je Knoten in einer "
                "Tabelle zeigen"));
  hint({&chkPingChart},
       LangText("Main|hintPingChart",
                "Unter der Ausgabe die Antwortzeiten als Diagramm zeigen, verlorene Pakete als "
                "Marken auf der Zeitachse"));
  hint({&chkPingPreferIPv6, &chkTracePreferIPv6},
       LangText("Main|hintPreferIPv6",
                "Hat der Name Adressen beider Familien, die IPv6-Adresse nehmen statt der IPv4-Adresse"));
  hint({&lblPingCount, &cmbPingCount},
       LangText("Main|hintPingCount", "Wie viele Echo-Anfragen gesendet werden; \"...\" sendet, bis Sie abbrechen"));
  hint({&lblPingTimeout, &cmbPingTimeout},
       LangText("Main|hintPingTimeout", "Wie lange auf jede Antwort gewartet wird, in Millisekunden"));
  hint({&lblPingByte, &cmbPingByte},
       LangText("Main|hintPingByte", "Größe der Nutzdaten jeder Echo-Anfrage in Bytes"));
  hint({&lblPingPause, &cmbPingPause},
       LangText("Main|hintPingPause", "Wartezeit zwischen zwei Echo-Anfragen in Millisekunden"));
  hint({&lblTraceHops, &cmbTraceHops},
       LangText("Main|hintTraceHops", "Höchstzahl der Stationen (Hops) bis zum Ziel"));
  hint({&lblTraceTimeout, &cmbTraceTimeout},
       LangText("Main|hintTraceTimeout", "Wie lange auf die Antwort jeder Station gewartet wird, in Millisekunden"));
  hint({&lblTraceMethod, &cmbTraceMethod},
       LangText("Main|hintTraceMethod",
                "Womit geprobt wird: ICMP-Echos, UDP an steigende Ports ab 33434 (ohne Rechte) oder "
                "TCP-SYN an einen Port (braucht CAP_NET_RAW), für Wege, die Echos filtern"));
  hint({&lblTracePort, &cmbTracePort},
       LangText("Main|hintTracePort", "Zielport für UDP und TCP; leer: 33434 für UDP, 443 für TCP"));
  hint({&lblWhoisServer, &cmbWhoisServer},
       LangText("Main|hintWhoisServer",
                "Der Server, den die direkte Anfrage fragt; ein Name, wahlweise mit \":Port\""));
  hint({&lblWhoisTimeout, &cmbWhoisTimeout},
       LangText("Main|hintWhoisTimeout", "Zeitgrenze jeder Whois-Anfrage in Millisekunden"));
  hint({&chkWhoisRedirect},
       LangText("Main|hintWhoisRedirect",
                "Dem Verweis der Registry auf den Whois-Server des Registrars folgen und auch ihn fragen"));
  hint({&chkWhoisDirectQuery},
       LangText("Main|hintWhoisDirectQuery",
                "Nur den angegebenen Whois-Server fragen statt des Servers der Top-Level-Domain"));
  hint({&chkWhoisCheck},
       LangText("Main|hintWhoisCheck",
                "Vorab Adresse, Land und registrierbare Domain ermitteln und die Domain statt des Hostnamens abfragen"));
  hint({&chkWhoisNetwork},
       LangText("Main|hintWhoisNetwork", "Auch die regionalen Registries nach dem Netz der IP-Adresse fragen"));
  hint({&chkWhoisFormat},
       LangText("Main|hintWhoisFormat", "Kommentarzeilen (%, #, ;) und überzählige Leerzeilen der Antworten weglassen"));
  hint({&chkWhoisRdap},
       LangText("Main|hintWhoisRdap",
                "Zuerst über RDAP (HTTPS) fragen; über Port 43 erst, wenn RDAP scheitert"));
  hint({&chkEMailPolicy},
       LangText("Main|hintEMailPolicy",
                "Die Absender-Richtlinien (SPF) der Domain des Absenders prüfen, sonst der des Empfängers"));
  hint({&lblEMailSpfIp, &cmbEMailSpfIp},
       LangText("Main|hintEMailSpfIp",
                "Die Adresse des sendenden Servers, für die SPF ausgewertet wird; leer: nur die Einträge durchgehen"));
  hint({&lblEMailDkim, &cmbEMailDkim},
       LangText("Main|hintEMailDkim",
                "Selektoren der DKIM-Schlüssel, durch Kommas getrennt; dazu werden gängige Selektoren gefragt"));
  hint({&chkEMailTls},
       LangText("Main|hintEMailTls",
                "STARTTLS senden, wenn der Server es anbietet, und Verbindung und Zertifikatskette zeigen; "
                "auf Port 465 TLS von Anfang an; dazu DANE (TLSA-Einträge), MTA-STS und TLS-Reporting"));
  hint({&chkEMailAllMx},
       LangText("Main|hintEMailAllMx",
                "Jeden Mail-Exchanger der Domain gleichzeitig bis STARTTLS fragen, jeden in einem eigenen Block; "
                "danach der Dialog mit dem ersten, der antwortet"));
  hint({&lblEMailTimeout, &cmbEMailTimeout},
       LangText("Main|hintEMailTimeout", "Zeitgrenze der ganzen SMTP-Sitzung in Millisekunden"));
  hint({&lblHeadTimeout, &cmbHeadTimeout},
       LangText("Main|hintHeadTimeout", "Zeitgrenze jeder HTTP-Anfrage in Millisekunden"));
  hint({&chkHeadRedirect},
       LangText("Main|hintHeadRedirect", "Weiterleitungen (3xx) des Servers folgen und das Ziel abfragen"));
  hint({&chkHeadHttp2},
       LangText("Main|hintHeadHttp2",
                "Bei HTTPS HTTP/2 anbieten und verwenden, wenn der Server es wählt (sonst HTTP/1.1)"));
  hint({&chkTimeNts},
       LangText("Main|hintTimeNts",
                "Schlüssel per NTS-KE (TLS, Port 4460) holen und nur authentifizierte NTP-Antworten "
                "nehmen; ein Port im Feld ist der des NTS-KE-Servers"));
  hint({&chkHeadTls},
       LangText("Main|hintHeadTls",
                "Bei HTTPS Protokoll, Cipher, OCSP-Antwort und Zertifikatskette jeder Abfrage zeigen"));
  hint({&lblGPRankCount, &cmbGPRankCount},
       LangText("Main|hintGPRankCount", "Bei wie vielen Servern des Dienstes der Rang erfragt wird"));
  hint({&lblGPRankTimeout, &cmbGPRankTimeout},
       LangText("Main|hintGPRankTimeout", "Zeitgrenze jeder Anfrage in Millisekunden"));
}

void TfrmMain::LanguageItemClick(TMenuItem& item) {
  // The language items form one radio group.
  for (TMenuItem* m : mnuLanguage.Items) m->SetChecked(m == &item);
  LanguageName = item.Caption();
  LoadLanguageFile(LanguageFile(LanguageName, ".lng"));
  ApplyLanguageTexts();
}

// ---- Geometry ------------------------------------------------------------------

void TfrmMain::LayoutDesign() {
  // Window client area at the design size of 656 x 499.
  ClientWidth = 640;
  ClientHeight = 440;

  // Typical control sizes of the window font.
  constexpr int kLabelH = 13, kComboH = 21, kCheckH = 17, kButtonW = 75, kButtonH = 25;
  constexpr int kHostW = 300;        // main input of a tab
  constexpr int kX = 19;             // first column inside a group box
  constexpr int kRow1Label = 22, kRow1Input = 38, kRow1Button = 36;
  constexpr int kRow2Label = 66, kRow2Input = 82, kRow2Check = 84;
  constexpr int kStartX = 330;       // Start button right of the main input
  constexpr int kRightX = 330;       // second column of check boxes
  constexpr int kCheckW = 270;
  constexpr int kPreferX = 420, kPreferW = 190;  // right of the Start button

  auto mainRow = [&](TLabel& lbl, TComboBox& cmb, TButton& btn) {
    lbl.SetBounds(kX, kRow1Label, kHostW, kLabelH);
    cmb.SetBounds(kX, kRow1Input, kHostW, kComboH);
    btn.SetBounds(kStartX, kRow1Button, kButtonW, kButtonH);
  };
  auto labelled = [&](TLabel& lbl, TComboBox& cmb, int x, int w) {
    lbl.SetBounds(x, kRow2Label, w, kLabelH);
    cmb.SetBounds(x, kRow2Input, w, kComboH);
  };

  // DNS
  grpDns.SetBounds(7, 4, 0, 130);
  mainRow(lblDnsHost, cmbDnsHost, btnDnsStart);
  chkDnsExtended.SetBounds(kX, 66, 300, kCheckH);
  chkDnsExtendedResolve.SetBounds(kX + 16, 84, 284, kCheckH);
  chkDnsReverse.SetBounds(kRightX, 66, kCheckW, kCheckH);
  chkDnsDirectQuery.SetBounds(kRightX, 84, kCheckW, kCheckH);
  chkDnsIterate.SetBounds(kX, 102, 300, kCheckH);
  chkDnsDnssec.SetBounds(kRightX, 102, kCheckW, kCheckH);
  lblDnsType.SetBounds(kPreferX, kRow1Label, 110, kLabelH);
  cmbDnsType.SetBounds(kPreferX, kRow1Input, 110, kComboH);
  reDns.SetBounds(7, 142, 0, 0);

  // Ping
  // A third row holds the box for the chart, under the name resolution.
  grpPing.SetBounds(7, 4, 0, 128);
  mainRow(lblPingHost, cmbPingHost, btnPingStart);
  // The timeout and pause labels name their unit, so they get the room.
  labelled(lblPingCount, cmbPingCount, kX, 55);
  labelled(lblPingTimeout, cmbPingTimeout, 79, 80);
  labelled(lblPingByte, cmbPingByte, 164, 55);
  labelled(lblPingPause, cmbPingPause, 224, 70);
  chkPingResolve.SetBounds(kRightX, kRow2Check, kCheckW, kCheckH);
  chkPingPreferIPv6.SetBounds(kPreferX, kRow1Input + 2, kPreferW, kCheckH);
  chkPingChart.SetBounds(kRightX, 104, kCheckW, kCheckH);
  rePing.SetBounds(7, 140, 0, 0);

  // Trace
  // A third row holds the box for rounds, under the name resolution.
  grpTrace.SetBounds(7, 4, 0, 128);
  mainRow(lblTraceHost, cmbTraceHost, btnTraceStart);
  labelled(lblTraceHops, cmbTraceHops, kX, 60);
  labelled(lblTraceTimeout, cmbTraceTimeout, 89, 80);
  labelled(lblTraceMethod, cmbTraceMethod, 174, 70);
  labelled(lblTracePort, cmbTracePort, 249, 66);
  chkTraceResolve.SetBounds(kRightX, kRow2Check, kCheckW, kCheckH);
  chkTracePreferIPv6.SetBounds(kPreferX, kRow1Input + 2, kPreferW, kCheckH);
  chkTraceContinuous.SetBounds(kRightX, 104, kCheckW, kCheckH);
  reTrace.SetBounds(7, 140, 0, 0);
  lvTraceRounds.SetBounds(7, 140, 0, 0);

  // Whois
  grpWhois.SetBounds(7, 4, 0, 152);
  mainRow(lblWhoisHost, cmbWhoisHost, btnWhoisStart);
  labelled(lblWhoisServer, cmbWhoisServer, kX, 215);
  labelled(lblWhoisTimeout, cmbWhoisTimeout, 244, 80);
  chkWhoisFormat.SetBounds(kRightX, kRow2Check, kCheckW, kCheckH);
  chkWhoisRedirect.SetBounds(kX, 112, 300, kCheckH);
  chkWhoisDirectQuery.SetBounds(kRightX, 112, kCheckW, kCheckH);
  chkWhoisCheck.SetBounds(kX, 130, 300, kCheckH);
  chkWhoisNetwork.SetBounds(kRightX, 130, kCheckW, kCheckH);
  chkWhoisRdap.SetBounds(kPreferX, kRow1Input + 2, kPreferW, kCheckH);
  reWhois.SetBounds(7, 164, 0, 0);

  // Mail-Check
  grpEMail.SetBounds(7, 4, 0, 156);
  mainRow(lblEMailAddress, cmbEMailAddress, btnEMailStart);
  labelled(lblEMailSender, cmbEMailSender, kX, 190);
  labelled(lblEMailMXServer, cmbEMailMXServer, 219, 190);
  labelled(lblEMailTimeout, cmbEMailTimeout, 419, 80);
  chkEMailPolicy.SetBounds(kPreferX, kRow1Input + 2, kPreferW, kCheckH);
  lblEMailSpfIp.SetBounds(kX, 110, 190, kLabelH);
  cmbEMailSpfIp.SetBounds(kX, 126, 190, kComboH);
  lblEMailDkim.SetBounds(219, 110, 190, kLabelH);
  cmbEMailDkim.SetBounds(219, 126, 190, kComboH);
  chkEMailTls.SetBounds(419, 110, kPreferW, kCheckH);
  chkEMailAllMx.SetBounds(419, 128, kPreferW, kCheckH);
  reEMail.SetBounds(7, 168, 0, 0);

  // HTTP-Header
  grpHead.SetBounds(7, 4, 0, 112);
  mainRow(lblHeadURL, cmbHeadURL, btnHeadStart);
  labelled(lblHeadTimeout, cmbHeadTimeout, kX, 80);
  chkHeadRedirect.SetBounds(109, kRow2Check, kCheckW, kCheckH);
  chkHeadTls.SetBounds(kPreferX, kRow1Input + 2, kPreferW, kCheckH);
  chkHeadHttp2.SetBounds(kPreferX, kRow2Check, kPreferW, kCheckH);
  reHead.SetBounds(7, 124, 0, 0);

  // Time
  grpTime.SetBounds(7, 4, 0, 132);
  lblTimeServer.SetBounds(kX, kRow1Label, kHostW, kLabelH);
  cmbTimeServer.SetBounds(kX, kRow1Input, kHostW, kComboH);
  btnTimeQuery.SetBounds(kStartX, kRow1Button, 90, kButtonH);
  btnTimeUpdate.SetBounds(kStartX + 100, kRow1Button, 160, kButtonH);
  lblTimeLoc.SetBounds(kX, 72, 160, kLabelH);
  lblTimeLocTime.SetBounds(190, 72, 200, kLabelH);
  lblTimeNet.SetBounds(kX, 90, 160, kLabelH);
  lblTimeNetTime.SetBounds(190, 90, 200, kLabelH);
  lblTimeDiff.SetBounds(kX, 108, 160, kLabelH);
  lblTimeDiffValue.SetBounds(190, 108, 200, kLabelH);
  chkTimeNts.SetBounds(kPreferX, 72, kPreferW, kCheckH);
  reTime.SetBounds(7, 144, 0, 0);

  // PageRank: the inputs in one row, so that the result panel and the list
  // view fit below the group box at top 108.
  grpGPRank.SetBounds(7, 4, 0, 96);
  lblGPRankURL.SetBounds(kX, kRow1Label, kHostW, kLabelH);
  cmbGPRankURL.SetBounds(kX, kRow1Input, kHostW, kComboH);
  lblGPRankCount.SetBounds(kStartX, kRow1Label, 60, kLabelH);
  cmbGPRankCount.SetBounds(kStartX, kRow1Input, 60, kComboH);
  lblGPRankTimeout.SetBounds(kStartX + 70, kRow1Label, 80, kLabelH);
  cmbGPRankTimeout.SetBounds(kStartX + 70, kRow1Input, 80, kComboH);
  btnGPRankStart.SetBounds(kStartX + 160, kRow1Button, kButtonW, kButtonH);
  pnlGPRankSingle.SetBounds(7, 108, 260, 64);
  lblGPRankResult.SetBounds(19, 122, 120, kLabelH);
  lblGPRankRank.SetBounds(150, 118, 40, 20);
  shpGPRankBack.SetBounds(19, 146, 100, 12);
  shpGPRankFront.SetBounds(19, 146, 0, 12);
  lvGPRankMulti.SetBounds(6, 108, 0, 0);

  // Lists
  grpList.SetBounds(7, 4, 0, 72);
  lblListList.SetBounds(kX, kRow1Label, 180, kLabelH);
  cmbListList.SetBounds(kX, kRow1Input, 180, kComboH);
  lblListSearch.SetBounds(209, kRow1Label, 250, kLabelH);
  cmbListSearch.SetBounds(209, kRow1Input, 250, kComboH);
  btnListSearch.SetBounds(469, kRow1Button, kButtonW, kButtonH);
  lstList.SetBounds(7, 84, 0, 0);

  // Own computer (no group box)
  btnOwnStart.SetBounds(7, 8, kButtonW, kButtonH);
  chkOwnResolve.SetBounds(94, 12, 300, kCheckH);
  reOwn.SetBounds(7, 40, 0, 0);

  FormResize();
}

void TfrmMain::FormResize() {
  const int cw = std::max(0, ClientWidth), ch = std::max(0, ClientHeight);
  bvlMenuLine.SetBounds(0, 0, cw, 1);
  pnlMain.SetBounds(0, 1, cw, std::max(0, ch - 1 - kStatusBarHeight));
  sbMain.SetBounds(0, ch - kStatusBarHeight, cw, kStatusBarHeight);
  const int pcW = std::max(0, cw - 12), pcH = std::max(0, ch - kStatusBarHeight - 12);
  pcMain.SetBounds(6, 6, pcW, pcH);
  const int tabW = std::max(0, pcW - 2 * kTabBorder);
  const int tabH = std::max(0, pcH - kTabHeaderHeight - kTabBorder);
  for (TTabSheet* t : pcMain.Pages) t->SetBounds(kTabBorder, kTabHeaderHeight, tabW, tabH);
  LayoutTabContents(tabW, tabH);
}

void TfrmMain::LayoutTabContents(int tabWidth, int tabHeight) {
  const int w = std::max(0, tabWidth - 14);
  auto width = [&](TControl& c) { c.SetBounds(c.Left, c.Top, w, c.Height); };
  // A pane fills the tab below its top, 8 pixels from the bottom; a window
  // made very small gives it no height rather than a negative one.
  auto fill = [&](TControl& c) {
    c.SetBounds(c.Left, c.Top, w, std::max(0, tabHeight - c.Top - 8));
  };
  for (TGroupBox* g : {&grpDns, &grpPing, &grpTrace, &grpWhois, &grpHead, &grpEMail, &grpList,
                       &grpTime, &grpGPRank})
    width(*g);
  for (TControl* pane : std::initializer_list<TControl*>{
           &reDns, &rePing, &reTrace, &lvTraceRounds, &reWhois, &reHead, &reEMail, &reTime, &lstList,
           &lvGPRankMulti, &reOwn})
    fill(*pane);
}

std::vector<TControl*> TfrmMain::TabControls(TPage page) {
  switch (page) {
    case pgDns:
      return {&grpDns, &lblDnsHost, &cmbDnsHost, &btnDnsStart, &chkDnsExtended,
              &chkDnsExtendedResolve, &chkDnsReverse, &chkDnsDirectQuery, &chkDnsIterate,
              &chkDnsDnssec, &lblDnsType, &cmbDnsType, &reDns};
    case pgPing:
      return {&grpPing, &lblPingHost, &cmbPingHost, &btnPingStart, &lblPingCount, &cmbPingCount,
              &lblPingTimeout, &cmbPingTimeout, &lblPingByte, &cmbPingByte, &lblPingPause,
              &cmbPingPause, &chkPingResolve, &chkPingPreferIPv6, &chkPingChart, &rePing};
    case pgTrace:
      return {&grpTrace, &lblTraceHost, &cmbTraceHost, &btnTraceStart, &lblTraceHops,
              &cmbTraceHops, &lblTraceTimeout, &cmbTraceTimeout, &lblTraceMethod,
              &cmbTraceMethod, &lblTracePort, &cmbTracePort, &chkTraceResolve,
              &chkTracePreferIPv6, &chkTraceContinuous, &reTrace, &lvTraceRounds};
    case pgWhois:
      return {&grpWhois, &lblWhoisHost, &cmbWhoisHost, &btnWhoisStart, &lblWhoisServer,
              &cmbWhoisServer, &lblWhoisTimeout, &cmbWhoisTimeout, &chkWhoisFormat,
              &chkWhoisRedirect, &chkWhoisDirectQuery, &chkWhoisCheck, &chkWhoisNetwork,
              &chkWhoisRdap, &reWhois};
    case pgEMail:
      return {&grpEMail, &lblEMailAddress, &cmbEMailAddress, &btnEMailStart, &lblEMailSender,
              &cmbEMailSender, &lblEMailMXServer, &cmbEMailMXServer, &lblEMailTimeout,
              &cmbEMailTimeout, &chkEMailPolicy, &lblEMailSpfIp, &cmbEMailSpfIp, &lblEMailDkim, &cmbEMailDkim,
              &chkEMailTls, &chkEMailAllMx, &reEMail};
    case pgHead:
      return {&grpHead, &lblHeadURL, &cmbHeadURL, &btnHeadStart, &lblHeadTimeout, &cmbHeadTimeout,
              &chkHeadRedirect, &chkHeadTls, &chkHeadHttp2, &reHead};
    case pgTime:
      return {&grpTime, &lblTimeServer, &cmbTimeServer, &btnTimeQuery, &btnTimeUpdate, &chkTimeNts,
              &lblTimeLoc, &lblTimeLocTime, &lblTimeNet, &lblTimeNetTime, &lblTimeDiff,
              &lblTimeDiffValue, &reTime};
    case pgGPRank:
      return {&grpGPRank, &lblGPRankURL, &cmbGPRankURL, &lblGPRankCount, &cmbGPRankCount,
              &lblGPRankTimeout, &cmbGPRankTimeout, &btnGPRankStart, &pnlGPRankSingle,
              &lblGPRankResult, &lblGPRankRank, &shpGPRankBack, &shpGPRankFront, &lvGPRankMulti};
    case pgList:
      return {&grpList, &lblListList, &cmbListList, &lblListSearch, &cmbListSearch,
              &btnListSearch, &lstList};
    case pgOwn:
      return {&btnOwnStart, &chkOwnResolve, &reOwn};
  }
  return {};
}

// ---- Edit popup of the output panes ----------------------------------------------

TRichEdit* TfrmMain::FocusedPane() {
  for (TRichEdit* pane : OutputPanes())
    if (pane == ActiveControl) return pane;
  return nullptr;
}

void TfrmMain::pmnuEditPopup() {
  pmnuEditCopy.SetEnabled(false);
  pmnuSelSendTo.SetEnabled(false);
  if (TRichEdit* pane = FocusedPane()) {
    const std::string sel = pane->SelText();
    pmnuSelSendTo.SetEnabled(!Trim(sel).empty());
    pmnuEditCopy.SetEnabled(!sel.empty());
  }
}

void TfrmMain::pmnuEditCopyClick() {
  TRichEdit* pane = FocusedPane();
  if (!pane) return;
  std::string text;
  if (pane->SelLength != 0) {
    text = pane->SelText();
  } else {
    // Nothing selected: the whole pane, and the caret stays at the start.
    pane->SelectAll();
    text = pane->SelText();
    pane->SelStart = 0;
    pane->SelLength = 0;
  }
  Clipboard = text;
  if (OnClipboard) OnClipboard(text);
}

void TfrmMain::pmnuEditSelectAllClick() {
  if (TRichEdit* pane = FocusedPane()) pane->SelectAll();
}

void TfrmMain::SendSelectionTo(TPage page) {
  TRichEdit* pane = FocusedPane();
  if (!pane) return;
  // While a tool runs the tabs stay where they are and its inputs untouched.
  if (!ToolIdle) return;
  std::string text = Trim(pane->SelText());
  if (text.empty()) return;
  TComboBox* input = nullptr;
  TButton* start = nullptr;
  switch (page) {
    case pgDns: input = &cmbDnsHost; start = &btnDnsStart; break;
    case pgPing: input = &cmbPingHost; start = &btnPingStart; break;
    case pgTrace: input = &cmbTraceHost; start = &btnTraceStart; break;
    case pgWhois: input = &cmbWhoisHost; start = &btnWhoisStart; break;
    case pgEMail: input = &cmbEMailAddress; start = &btnEMailStart; break;
    case pgHead:
      input = &cmbHeadURL;
      start = &btnHeadStart;
      if (text.find("://") == std::string::npos) text = "http://" + text;
      break;
    case pgGPRank: input = &cmbGPRankURL; start = &btnGPRankStart; break;
    case pgList: input = &cmbListSearch; start = &btnListSearch; break;
    default: return;  // Time and Own computer have no such input
  }
  pcMain.SetActivePageIndex(page);
  input->SetText(text);
  SetFocus(start);
}

// ---- Menus -------------------------------------------------------------------------

void TfrmMain::mnuFileExitClick() {
  // The same road as the title bar's close button: with a tool running, the
  // run is asked to stop and the window closes when it has returned.
  if (FormCloseQuery() && OnCloseNow) OnCloseNow();
}

void TfrmMain::mnuExtrasSettingsClick() {
  // The dialog changes settings a running tool reads; it waits for the run.
  if (!ToolIdle || !ShowSettingsDialog) return;
  if (ShowSettingsDialog()) ApplyOutputFont();
}

void TfrmMain::mnuHelpWebsiteClick() { OpenWebPage(kProductUrl); }

void TfrmMain::mnuHelpEMailClick() {
  const std::string program = ProgramFolder + "Quovix";
  OpenMailLink(MailtoLink(kAuthorMail, GetVersionInfoValue(program, "ProductName") + " " +
                                           GetVersionInfoValue(program, "ProductVersion")));
}

void TfrmMain::mnuHelpDonateClick() { OpenWebPage(kDonateUrl); }

void TfrmMain::mnuHelpInfoClick() {
  if (ShowInfoDialog) ShowInfoDialog();
}

}  // namespace quovix
