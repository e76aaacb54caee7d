#include <gtest/gtest.h>

#include "app/formMain.h"
#include "shell/gIni.h"

using namespace quovix;

TEST(RecentItems, NewestFirstOncePerCaseAndCapped) {
  TfrmMain f;
  MaxRecentItems = 5;
  for (const char* s : {"a", "b", "c", "d", "e", "f"}) f.AddRecentItem(f.cmbDnsHost, s);
  EXPECT_EQ(f.cmbDnsHost.Items(), (std::vector<std::string>{"f", "e", "d", "c", "b"}));
  f.AddRecentItem(f.cmbDnsHost, "  C \t");
  EXPECT_EQ(f.cmbDnsHost.Items(), (std::vector<std::string>{"C", "f", "e", "d", "b"}));
  EXPECT_EQ(f.cmbDnsHost.Text(), "C");
  f.AddRecentItem(f.cmbDnsHost, "   ");
  EXPECT_EQ(f.cmbDnsHost.Count(), 5);
  MaxRecentItems = 25;
}
