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
  // A control inside a frame: given relative to the frame, kept relative to
  // the tab like every position of the model.
  auto in = [](K k, TControl& c, const WidgetEntry& frame, DesignRect r) {
    return WidgetEntry{
        k, &c, frame.Control,
        {frame.Design.Left + r.Left, frame.Design.Top + r.Top, r.Width, r.Height}};
  };

  std::vector<TabTable> t;

  const WidgetEntry grpDns = group(f.grpDns, 98);
  t.push_back({&f.tabDns,
               {grpDns,
                in(K::Label, f.lblDnsHost, grpDns, {kLblX, kRow1, kLblW, kRowH}),
                in(K::Combo, f.cmbDnsHost, grpDns, {kInX, kRow1, kInW, kRowH}),
                in(K::Button, f.btnDnsStart, grpDns, kStart),
                in(K::Check, f.chkDnsExtended, grpDns, {kLblX, 48, 300, 20}),
                in(K::Check, f.chkDnsExtendedResolve, grpDns, {30, 70, 282, 20}),
                in(K::Check, f.chkDnsReverse, grpDns, {320, 48, 270, 20}),
                in(K::Check, f.chkDnsDirectQuery, grpDns, {320, 70, 270, 20}),
                pane(f.reDns, 108)}});

  const WidgetEntry grpPing = group(f.grpPing, 100);
  t.push_back({&f.tabPing,
               {grpPing,
                in(K::Label, f.lblPingHost, grpPing, {kLblX, kRow1, kLblW, kRowH}),
                in(K::Combo, f.cmbPingHost, grpPing, {kInX, kRow1, kInW, kRowH}),
                in(K::Button, f.btnPingStart, grpPing, kStart),
                in(K::Label, f.lblPingCount, grpPing, {kLblX, kRow2, 50, kRowH}),
                in(K::Combo, f.cmbPingCount, grpPing, {64, kRow2, 60, kRowH}),
                in(K::Label, f.lblPingTimeout, grpPing, {140, kRow2, 60, kRowH}),
                in(K::Combo, f.cmbPingTimeout, grpPing, {200, kRow2, 70, kRowH}),
                in(K::Label, f.lblPingByte, grpPing, {285, kRow2, 45, kRowH}),
                in(K::Combo, f.cmbPingByte, grpPing, {330, kRow2, 65, kRowH}),
                in(K::Label, f.lblPingPause, grpPing, {410, kRow2, 45, kRowH}),
                in(K::Combo, f.cmbPingPause, grpPing, {455, kRow2, 65, kRowH}),
                in(K::Check, f.chkPingResolve, grpPing, {kLblX, 74, 300, 20}),
                in(K::Check, f.chkPingPreferIPv6, grpPing, {320, 74, 250, 20}),
                pane(f.rePing, 110)}});

  const WidgetEntry grpTrace = group(f.grpTrace, 100);
  t.push_back({&f.tabTrace,
               {grpTrace,
                in(K::Label, f.lblTraceHost, grpTrace, {kLblX, kRow1, kLblW, kRowH}),
                in(K::Combo, f.cmbTraceHost, grpTrace, {kInX, kRow1, kInW, kRowH}),
                in(K::Button, f.btnTraceStart, grpTrace, kStart),
                in(K::Label, f.lblTraceHops, grpTrace, {kLblX, kRow2, 50, kRowH}),
                in(K::Combo, f.cmbTraceHops, grpTrace, {64, kRow2, 60, kRowH}),
                in(K::Label, f.lblTraceTimeout, grpTrace, {140, kRow2, 60, kRowH}),
                in(K::Combo, f.cmbTraceTimeout, grpTrace, {200, kRow2, 70, kRowH}),
                in(K::Check, f.chkTraceResolve, grpTrace, {kLblX, 74, 300, 20}),
                in(K::Check, f.chkTracePreferIPv6, grpTrace, {320, 74, 250, 20}),
                pane(f.reTrace, 110)}});

  const WidgetEntry grpWhois = group(f.grpWhois, 122);
  t.push_back({&f.tabWhois,
               {grpWhois,
                in(K::Label, f.lblWhoisHost, grpWhois, {kLblX, kRow1, kLblW, kRowH}),
                in(K::Combo, f.cmbWhoisHost, grpWhois, {kInX, kRow1, kInW, kRowH}),
                in(K::Button, f.btnWhoisStart, grpWhois, kStart),
                in(K::Label, f.lblWhoisServer, grpWhois, {kLblX, kRow2, kLblW, kRowH}),
                in(K::Combo, f.cmbWhoisServer, grpWhois, {kInX, kRow2, 200, kRowH}),
                in(K::Label, f.lblWhoisTimeout, grpWhois, {365, kRow2, 60, kRowH}),
                in(K::Combo, f.cmbWhoisTimeout, grpWhois, {425, kRow2, 70, kRowH}),
                in(K::Check, f.chkWhoisRedirect, grpWhois, {kLblX, 76, 232, 20}),
                in(K::Check, f.chkWhoisCheck, grpWhois, {kLblX, 97, 232, 20}),
                in(K::Check, f.chkWhoisDirectQuery, grpWhois, {250, 76, 200, 20}),
                in(K::Check, f.chkWhoisNetwork, grpWhois, {250, 97, 200, 20}),
                in(K::Check, f.chkWhoisFormat, grpWhois, {455, 76, 145, 20}),
                pane(f.reWhois, 132)}});

  const WidgetEntry grpEMail = group(f.grpEMail, 106);
  t.push_back({&f.tabEMail,
               {grpEMail,
                in(K::Label, f.lblEMailAddress, grpEMail, {kLblX, kRow1, kLblW, kRowH}),
                in(K::Combo, f.cmbEMailAddress, grpEMail, {kInX, kRow1, kInW, kRowH}),
                in(K::Button, f.btnEMailStart, grpEMail, kStart),
                in(K::Label, f.lblEMailSender, grpEMail, {kLblX, kRow2, kLblW, kRowH}),
                in(K::Combo, f.cmbEMailSender, grpEMail, {kInX, kRow2, kInW, kRowH}),
                in(K::Label, f.lblEMailMXServer, grpEMail, {kLblX, kRow3, kLblW, kRowH}),
                in(K::Combo, f.cmbEMailMXServer, grpEMail, {kInX, kRow3, 200, kRowH}),
                in(K::Label, f.lblEMailTimeout, grpEMail, {365, kRow3, 60, kRowH}),
                in(K::Combo, f.cmbEMailTimeout, grpEMail, {425, kRow3, 70, kRowH}),
                pane(f.reEMail, 116)}});

  const WidgetEntry grpHead = group(f.grpHead, 78);
  t.push_back({&f.tabHead,
               {grpHead,
                in(K::Label, f.lblHeadURL, grpHead, {kLblX, kRow1, kLblW, kRowH}),
                in(K::Combo, f.cmbHeadURL, grpHead, {kInX, kRow1, kInW, kRowH}),
                in(K::Button, f.btnHeadStart, grpHead, kStart),
                in(K::Label, f.lblHeadTimeout, grpHead, {kLblX, kRow2, kLblW, kRowH}),
                in(K::Combo, f.cmbHeadTimeout, grpHead, {kInX, kRow2, 70, kRowH}),
                in(K::Check, f.chkHeadRedirect, grpHead, {235, kRow2 + 1, 250, 20}),
                pane(f.reHead, 88)}});

  const WidgetEntry grpTime = group(f.grpTime, 108);
  t.push_back({&f.tabTime,
               {grpTime,
                in(K::Label, f.lblTimeServer, grpTime, {kLblX, kRow1, kLblW, kRowH}),
                in(K::Combo, f.cmbTimeServer, grpTime, {kInX, kRow1, 205, kRowH}),
                in(K::Button, f.btnTimeQuery, grpTime, {365, kRow1 - 1, 90, 25}),
                in(K::Button, f.btnTimeUpdate, grpTime, {460, kRow1 - 1, 140, 25}),
                in(K::Label, f.lblTimeLoc, grpTime, {kLblX, 56, 150, 20}),
                in(K::Label, f.lblTimeLocTime, grpTime, {165, 56, 200, 20}),
                in(K::Label, f.lblTimeNet, grpTime, {kLblX, 80, 150, 20}),
                in(K::Label, f.lblTimeNetTime, grpTime, {165, 80, 200, 20})}});

  const WidgetEntry grpGPRank = group(f.grpGPRank, 96);
  const WidgetEntry pnlGPRankSingle{K::Panel, &f.pnlGPRankSingle, nullptr, {7, 108, 250, 64}};
  t.push_back({&f.tabGPRank,
               {grpGPRank,
                in(K::Label, f.lblGPRankURL, grpGPRank, {kLblX, kRow1, kLblW, kRowH}),
                in(K::Combo, f.cmbGPRankURL, grpGPRank, {kInX, kRow1, kInW, kRowH}),
                in(K::Button, f.btnGPRankStart, grpGPRank, kStart),
                in(K::Label, f.lblGPRankCount, grpGPRank, {kLblX, kRow2, 50, kRowH}),
                in(K::Combo, f.cmbGPRankCount, grpGPRank, {64, kRow2, 60, kRowH}),
                in(K::Label, f.lblGPRankTimeout, grpGPRank, {140, kRow2, 60, kRowH}),
                in(K::Combo, f.cmbGPRankTimeout, grpGPRank, {200, kRow2, 70, kRowH}),
                pnlGPRankSingle,
                in(K::Label, f.lblGPRankResult, pnlGPRankSingle, {10, 10, 115, 22}),
                in(K::Label, f.lblGPRankRank, pnlGPRankSingle, {130, 8, 60, 26}),
                in(K::BarBack, f.shpGPRankBack, pnlGPRankSingle, {10, 40, 102, 14}),
                in(K::BarFront, f.shpGPRankFront, pnlGPRankSingle, {11, 41, 0, 12}),
                // Placed over the single-result panel; shown for several servers.
                WidgetEntry{K::ListView, &f.lvGPRankMulti, nullptr, {6, 108, -14, -116}}}});

  const WidgetEntry grpList = group(f.grpList, 80);
  t.push_back({&f.tabList,
               {grpList,
                in(K::Label, f.lblListList, grpList, {kLblX, kRow1, kLblW, kRowH}),
                in(K::Combo, f.cmbListList, grpList, {kInX, kRow1, 250, kRowH}),
                in(K::Button, f.btnListSearch, grpList, kStart),
                in(K::Label, f.lblListSearch, grpList, {kLblX, kRow2, kLblW, kRowH}),
                in(K::Combo, f.cmbListSearch, grpList, {kInX, kRow2, 250, kRowH}),
                WidgetEntry{K::ListBox, &f.lstList, nullptr, {7, 90, -14, -98}}}});

  t.push_back({&f.tabOwn,
               {WidgetEntry{K::Button, &f.btnOwnStart, nullptr, {7, 8, 90, 25}},
                WidgetEntry{K::Check, &f.chkOwnResolve, nullptr, {110, 10, 300, 20}},
                pane(f.reOwn, 42)}});

  return t;
}

}  // namespace quovix::ui
