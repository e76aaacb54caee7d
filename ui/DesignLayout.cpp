#include "ui/DesignLayout.h"

namespace quovix::ui {

namespace {
using K = WidgetKind;
// Rows inside a group box: a label column, an input column and the Start
// button on the right of the first row.
constexpr int kRow1 = 20, kRow2 = 48, kRow3 = 76, kRowH = 22;
constexpr int kLblX = 12, kLblW = 135, kInX = 150, kInW = 320;
constexpr DesignRect kStart{480, kRow1 - 1, 90, 25};
}  // namespace

std::vector<TabTable> BuildTabTables(TfrmMain& f) {
  auto group = [](TControl& c, int h) { return WidgetEntry{K::Group, &c, nullptr, {7, 4, -14, h}}; };
  auto pane = [](TControl& c, int top) {
    return WidgetEntry{K::Pane, &c, nullptr, {7, top, -14, -(top + 8)}};
  };
  auto in = [](K k, TControl& c, TControl& parent, DesignRect r) {
    return WidgetEntry{k, &c, &parent, r};
  };

  std::vector<TabTable> t;

  t.push_back({&f.tabDns,
               {group(f.grpDns, 98),
                in(K::Label, f.lblDnsHost, f.grpDns, {kLblX, kRow1, kLblW, kRowH}),
                in(K::Combo, f.cmbDnsHost, f.grpDns, {kInX, kRow1, kInW, kRowH}),
                in(K::Button, f.btnDnsStart, f.grpDns, kStart),
                in(K::Check, f.chkDnsExtended, f.grpDns, {kLblX, 48, 300, 20}),
                in(K::Check, f.chkDnsExtendedResolve, f.grpDns, {30, 70, 282, 20}),
                in(K::Check, f.chkDnsReverse, f.grpDns, {320, 48, 270, 20}),
                in(K::Check, f.chkDnsDirectQuery, f.grpDns, {320, 70, 270, 20}),
                pane(f.reDns, 108)}});

  t.push_back({&f.tabPing,
               {group(f.grpPing, 100),
                in(K::Label, f.lblPingHost, f.grpPing, {kLblX, kRow1, kLblW, kRowH}),
                in(K::Combo, f.cmbPingHost, f.grpPing, {kInX, kRow1, kInW, kRowH}),
                in(K::Button, f.btnPingStart, f.grpPing, kStart),
                in(K::Label, f.lblPingCount, f.grpPing, {kLblX, kRow2, 50, kRowH}),
                in(K::Combo, f.cmbPingCount, f.grpPing, {64, kRow2, 60, kRowH}),
                in(K::Label, f.lblPingTimeout, f.grpPing, {140, kRow2, 60, kRowH}),
                in(K::Combo, f.cmbPingTimeout, f.grpPing, {200, kRow2, 70, kRowH}),
                in(K::Label, f.lblPingByte, f.grpPing, {285, kRow2, 45, kRowH}),
                in(K::Combo, f.cmbPingByte, f.grpPing, {330, kRow2, 65, kRowH}),
                in(K::Label, f.lblPingPause, f.grpPing, {410, kRow2, 45, kRowH}),
                in(K::Combo, f.cmbPingPause, f.grpPing, {455, kRow2, 65, kRowH}),
                in(K::Check, f.chkPingResolve, f.grpPing, {kLblX, 74, 300, 20}),
                pane(f.rePing, 110)}});

  t.push_back({&f.tabTrace,
               {group(f.grpTrace, 100),
                in(K::Label, f.lblTraceHost, f.grpTrace, {kLblX, kRow1, kLblW, kRowH}),
                in(K::Combo, f.cmbTraceHost, f.grpTrace, {kInX, kRow1, kInW, kRowH}),
                in(K::Button, f.btnTraceStart, f.grpTrace, kStart),
                in(K::Label, f.lblTraceHops, f.grpTrace, {kLblX, kRow2, 50, kRowH}),
                in(K::Combo, f.cmbTraceHops, f.grpTrace, {64, kRow2, 60, kRowH}),
                in(K::Label, f.lblTraceTimeout, f.grpTrace, {140, kRow2, 60, kRowH}),
                in(K::Combo, f.cmbTraceTimeout, f.grpTrace, {200, kRow2, 70, kRowH}),
                in(K::Check, f.chkTraceResolve, f.grpTrace, {kLblX, 74, 300, 20}),
                pane(f.reTrace, 110)}});

  t.push_back({&f.tabWhois,
               {group(f.grpWhois, 122),
                in(K::Label, f.lblWhoisHost, f.grpWhois, {kLblX, kRow1, kLblW, kRowH}),
                in(K::Combo, f.cmbWhoisHost, f.grpWhois, {kInX, kRow1, kInW, kRowH}),
                in(K::Button, f.btnWhoisStart, f.grpWhois, kStart),
                in(K::Label, f.lblWhoisServer, f.grpWhois, {kLblX, kRow2, kLblW, kRowH}),
                in(K::Combo, f.cmbWhoisServer, f.grpWhois, {kInX, kRow2, 200, kRowH}),
                in(K::Label, f.lblWhoisTimeout, f.grpWhois, {365, kRow2, 60, kRowH}),
                in(K::Combo, f.cmbWhoisTimeout, f.grpWhois, {425, kRow2, 70, kRowH}),
                in(K::Check, f.chkWhoisRedirect, f.grpWhois, {kLblX, 76, 232, 20}),
                in(K::Check, f.chkWhoisCheck, f.grpWhois, {kLblX, 97, 232, 20}),
                in(K::Check, f.chkWhoisDirectQuery, f.grpWhois, {250, 76, 200, 20}),
                in(K::Check, f.chkWhoisNetwork, f.grpWhois, {250, 97, 200, 20}),
                in(K::Check, f.chkWhoisFormat, f.grpWhois, {455, 76, 145, 20}),
                pane(f.reWhois, 132)}});

  t.push_back({&f.tabEMail,
               {group(f.grpEMail, 106),
                in(K::Label, f.lblEMailAddress, f.grpEMail, {kLblX, kRow1, kLblW, kRowH}),
                in(K::Combo, f.cmbEMailAddress, f.grpEMail, {kInX, kRow1, kInW, kRowH}),
                in(K::Button, f.btnEMailStart, f.grpEMail, kStart),
                in(K::Label, f.lblEMailSender, f.grpEMail, {kLblX, kRow2, kLblW, kRowH}),
                in(K::Combo, f.cmbEMailSender, f.grpEMail, {kInX, kRow2, kInW, kRowH}),
                in(K::Label, f.lblEMailMXServer, f.grpEMail, {kLblX, kRow3, kLblW, kRowH}),
                in(K::Combo, f.cmbEMailMXServer, f.grpEMail, {kInX, kRow3, 200, kRowH}),
                in(K::Label, f.lblEMailTimeout, f.grpEMail, {365, kRow3, 60, kRowH}),
                in(K::Combo, f.cmbEMailTimeout, f.grpEMail, {425, kRow3, 70, kRowH}),
                pane(f.reEMail, 116)}});

  t.push_back({&f.tabHead,
               {group(f.grpHead, 78),
                in(K::Label, f.lblHeadURL, f.grpHead, {kLblX, kRow1, kLblW, kRowH}),
                in(K::Combo, f.cmbHeadURL, f.grpHead, {kInX, kRow1, kInW, kRowH}),
                in(K::Button, f.btnHeadStart, f.grpHead, kStart),
                in(K::Label, f.lblHeadTimeout, f.grpHead, {kLblX, kRow2, kLblW, kRowH}),
                in(K::Combo, f.cmbHeadTimeout, f.grpHead, {kInX, kRow2, 70, kRowH}),
                in(K::Check, f.chkHeadRedirect, f.grpHead, {235, kRow2 + 1, 250, 20}),
                pane(f.reHead, 88)}});

  t.push_back({&f.tabTime,
               {group(f.grpTime, 108),
                in(K::Label, f.lblTimeServer, f.grpTime, {kLblX, kRow1, kLblW, kRowH}),
                in(K::Combo, f.cmbTimeServer, f.grpTime, {kInX, kRow1, 205, kRowH}),
                in(K::Button, f.btnTimeQuery, f.grpTime, {365, kRow1 - 1, 90, 25}),
                in(K::Button, f.btnTimeUpdate, f.grpTime, {460, kRow1 - 1, 140, 25}),
                in(K::Label, f.lblTimeLoc, f.grpTime, {kLblX, 56, 150, 20}),
                in(K::Label, f.lblTimeLocTime, f.grpTime, {165, 56, 200, 20}),
                in(K::Label, f.lblTimeNet, f.grpTime, {kLblX, 80, 150, 20}),
                in(K::Label, f.lblTimeNetTime, f.grpTime, {165, 80, 200, 20})}});

  t.push_back({&f.tabGPRank,
               {group(f.grpGPRank, 96),
                in(K::Label, f.lblGPRankURL, f.grpGPRank, {kLblX, kRow1, kLblW, kRowH}),
                in(K::Combo, f.cmbGPRankURL, f.grpGPRank, {kInX, kRow1, kInW, kRowH}),
                in(K::Button, f.btnGPRankStart, f.grpGPRank, kStart),
                in(K::Label, f.lblGPRankCount, f.grpGPRank, {kLblX, kRow2, 50, kRowH}),
                in(K::Combo, f.cmbGPRankCount, f.grpGPRank, {64, kRow2, 60, kRowH}),
                in(K::Label, f.lblGPRankTimeout, f.grpGPRank, {140, kRow2, 60, kRowH}),
                in(K::Combo, f.cmbGPRankTimeout, f.grpGPRank, {200, kRow2, 70, kRowH}),
                WidgetEntry{K::Panel, &f.pnlGPRankSingle, nullptr, {7, 108, 250, 64}},
                in(K::Label, f.lblGPRankResult, f.pnlGPRankSingle, {10, 10, 115, 22}),
                in(K::Label, f.lblGPRankRank, f.pnlGPRankSingle, {130, 8, 60, 26}),
                in(K::BarBack, f.shpGPRankBack, f.pnlGPRankSingle, {10, 40, 102, 14}),
                in(K::BarFront, f.shpGPRankFront, f.pnlGPRankSingle, {11, 41, 0, 12}),
                // Placed over the single-result panel; shown for several servers.
                WidgetEntry{K::ListView, &f.lvGPRankMulti, nullptr, {6, 108, -14, -116}}}});

  t.push_back({&f.tabList,
               {group(f.grpList, 80),
                in(K::Label, f.lblListList, f.grpList, {kLblX, kRow1, kLblW, kRowH}),
                in(K::Combo, f.cmbListList, f.grpList, {kInX, kRow1, 250, kRowH}),
                in(K::Button, f.btnListSearch, f.grpList, kStart),
                in(K::Label, f.lblListSearch, f.grpList, {kLblX, kRow2, kLblW, kRowH}),
                in(K::Combo, f.cmbListSearch, f.grpList, {kInX, kRow2, 250, kRowH}),
                WidgetEntry{K::ListBox, &f.lstList, nullptr, {7, 90, -14, -98}}}});

  t.push_back({&f.tabOwn,
               {WidgetEntry{K::Button, &f.btnOwnStart, nullptr, {7, 8, 90, 25}},
                WidgetEntry{K::Check, &f.chkOwnResolve, nullptr, {110, 10, 300, 20}},
                pane(f.reOwn, 42)}});

  return t;
}

}  // namespace quovix::ui
