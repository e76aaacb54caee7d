#include "ui/DesignLayout.h"

namespace quovix::ui {

std::vector<TabTable> BuildTabTables(TfrmMain& f) {
  using K = WidgetKind;
  // A control inside a frame.
  auto in = [](K k, TControl& c, TControl& frame) { return WidgetEntry{k, &c, &frame}; };
  auto on = [](K k, TControl& c) { return WidgetEntry{k, &c, nullptr}; };

  std::vector<TabTable> t;

  TControl& grpDns = f.grpDns;
  t.push_back({&f.tabDns,
               {on(K::Group, grpDns), in(K::Label, f.lblDnsHost, grpDns),
                in(K::Combo, f.cmbDnsHost, grpDns), in(K::Button, f.btnDnsStart, grpDns),
                in(K::Check, f.chkDnsExtended, grpDns), in(K::Check, f.chkDnsExtendedResolve, grpDns),
                in(K::Check, f.chkDnsReverse, grpDns), in(K::Check, f.chkDnsDirectQuery, grpDns),
                in(K::Check, f.chkDnsIterate, grpDns), in(K::Check, f.chkDnsDnssec, grpDns),
                in(K::Label, f.lblDnsType, grpDns), in(K::Combo, f.cmbDnsType, grpDns),
                on(K::Pane, f.reDns)}});

  TControl& grpPing = f.grpPing;
  t.push_back({&f.tabPing,
               {on(K::Group, grpPing), in(K::Label, f.lblPingHost, grpPing),
                in(K::Combo, f.cmbPingHost, grpPing), in(K::Button, f.btnPingStart, grpPing),
                in(K::Label, f.lblPingCount, grpPing), in(K::Combo, f.cmbPingCount, grpPing),
                in(K::Label, f.lblPingTimeout, grpPing), in(K::Combo, f.cmbPingTimeout, grpPing),
                in(K::Label, f.lblPingByte, grpPing), in(K::Combo, f.cmbPingByte, grpPing),
                in(K::Label, f.lblPingPause, grpPing), in(K::Combo, f.cmbPingPause, grpPing),
                in(K::Check, f.chkPingResolve, grpPing), in(K::Check, f.chkPingPreferIPv6, grpPing),
                in(K::Check, f.chkPingChart, grpPing), on(K::Pane, f.rePing)}});

  TControl& grpTrace = f.grpTrace;
  t.push_back({&f.tabTrace,
               {on(K::Group, grpTrace), in(K::Label, f.lblTraceHost, grpTrace),
                in(K::Combo, f.cmbTraceHost, grpTrace), in(K::Button, f.btnTraceStart, grpTrace),
                in(K::Label, f.lblTraceHops, grpTrace), in(K::Combo, f.cmbTraceHops, grpTrace),
                in(K::Label, f.lblTraceTimeout, grpTrace), in(K::Combo, f.cmbTraceTimeout, grpTrace),
                in(K::Label, f.lblTraceMethod, grpTrace), in(K::Combo, f.cmbTraceMethod, grpTrace),
                in(K::Label, f.lblTracePort, grpTrace), in(K::Combo, f.cmbTracePort, grpTrace),
                in(K::Check, f.chkTraceResolve, grpTrace),
                 in(K::Check, f.chkTracePreferIPv6, grpTrace),
                 in(K::Check, f.chkTraceContinuous, grpTrace), on(K::Pane, f.reTrace),
                 on(K::ListView, f.lvTraceRounds)}});

  TControl& grpWhois = f.grpWhois;
  t.push_back({&f.tabWhois,
               {on(K::Group, grpWhois), in(K::Label, f.lblWhoisHost, grpWhois),
                in(K::Combo, f.cmbWhoisHost, grpWhois), in(K::Button, f.btnWhoisStart, grpWhois),
                in(K::Label, f.lblWhoisServer, grpWhois), in(K::Combo, f.cmbWhoisServer, grpWhois),
                in(K::Label, f.lblWhoisTimeout, grpWhois), in(K::Combo, f.cmbWhoisTimeout, grpWhois),
                in(K::Check, f.chkWhoisRedirect, grpWhois), in(K::Check, f.chkWhoisCheck, grpWhois),
                in(K::Check, f.chkWhoisDirectQuery, grpWhois),
                in(K::Check, f.chkWhoisNetwork, grpWhois), in(K::Check, f.chkWhoisFormat, grpWhois),
                in(K::Check, f.chkWhoisRdap, grpWhois),
                on(K::Pane, f.reWhois)}});

  TControl& grpEMail = f.grpEMail;
  t.push_back({&f.tabEMail,
               {on(K::Group, grpEMail), in(K::Label, f.lblEMailAddress, grpEMail),
                in(K::Combo, f.cmbEMailAddress, grpEMail), in(K::Button, f.btnEMailStart, grpEMail),
                in(K::Label, f.lblEMailSender, grpEMail), in(K::Combo, f.cmbEMailSender, grpEMail),
                in(K::Label, f.lblEMailMXServer, grpEMail),
                in(K::Combo, f.cmbEMailMXServer, grpEMail),
                in(K::Label, f.lblEMailTimeout, grpEMail), in(K::Combo, f.cmbEMailTimeout, grpEMail),
                in(K::Check, f.chkEMailPolicy, grpEMail), in(K::Label, f.lblEMailSpfIp, grpEMail),
                in(K::Combo, f.cmbEMailSpfIp, grpEMail), in(K::Label, f.lblEMailDkim, grpEMail),
                in(K::Combo, f.cmbEMailDkim, grpEMail), in(K::Check, f.chkEMailTls, grpEMail),
                in(K::Check, f.chkEMailAllMx, grpEMail),
                on(K::Pane, f.reEMail)}});

  TControl& grpHead = f.grpHead;
  t.push_back({&f.tabHead,
               {on(K::Group, grpHead), in(K::Label, f.lblHeadURL, grpHead),
                in(K::Combo, f.cmbHeadURL, grpHead), in(K::Button, f.btnHeadStart, grpHead),
                in(K::Label, f.lblHeadTimeout, grpHead), in(K::Combo, f.cmbHeadTimeout, grpHead),
                in(K::Check, f.chkHeadRedirect, grpHead), in(K::Check, f.chkHeadTls, grpHead),
                in(K::Check, f.chkHeadHttp2, grpHead),
                on(K::Pane, f.reHead)}});

  TControl& grpTime = f.grpTime;
  t.push_back({&f.tabTime,
               {on(K::Group, grpTime), in(K::Label, f.lblTimeServer, grpTime),
                in(K::Combo, f.cmbTimeServer, grpTime), in(K::Button, f.btnTimeQuery, grpTime),
                in(K::Button, f.btnTimeUpdate, grpTime), in(K::Check, f.chkTimeNts, grpTime),
                in(K::Label, f.lblTimeLoc, grpTime),
                in(K::Label, f.lblTimeLocTime, grpTime), in(K::Label, f.lblTimeNet, grpTime),
                in(K::Label, f.lblTimeNetTime, grpTime), in(K::Label, f.lblTimeDiff, grpTime),
                in(K::Label, f.lblTimeDiffValue, grpTime), on(K::Pane, f.reTime)}});

  TControl& grpGPRank = f.grpGPRank;
  TControl& pnl = f.pnlGPRankSingle;
  t.push_back({&f.tabGPRank,
               {on(K::Group, grpGPRank), in(K::Label, f.lblGPRankURL, grpGPRank),
                in(K::Combo, f.cmbGPRankURL, grpGPRank), in(K::Label, f.lblGPRankCount, grpGPRank),
                in(K::Combo, f.cmbGPRankCount, grpGPRank),
                in(K::Label, f.lblGPRankTimeout, grpGPRank),
                in(K::Combo, f.cmbGPRankTimeout, grpGPRank),
                in(K::Button, f.btnGPRankStart, grpGPRank), on(K::Panel, pnl),
                in(K::Label, f.lblGPRankResult, pnl), in(K::Label, f.lblGPRankRank, pnl),
                in(K::BarBack, f.shpGPRankBack, pnl), in(K::BarFront, f.shpGPRankFront, pnl),
                // Placed over the single-result panel; shown for several servers.
                on(K::ListView, f.lvGPRankMulti)}});

  TControl& grpList = f.grpList;
  t.push_back({&f.tabList,
               {on(K::Group, grpList), in(K::Label, f.lblListList, grpList),
                in(K::Combo, f.cmbListList, grpList), in(K::Label, f.lblListSearch, grpList),
                in(K::Combo, f.cmbListSearch, grpList), in(K::Button, f.btnListSearch, grpList),
                on(K::ListBox, f.lstList)}});

  t.push_back({&f.tabOwn,
               {on(K::Button, f.btnOwnStart), on(K::Check, f.chkOwnResolve), on(K::Pane, f.reOwn)}});

  return t;
}

}  // namespace quovix::ui
