// Lists tab: a search in the list files shipped beside the program.
#include "app/formMain.h"
#include "common/fCaseFold.h"
#include "common/fMain.h"
#include "shell/fLanguage.h"

namespace quovix {

std::string ListUnreadableText(const std::string& list) {
  return LangText("Main|OutListUnreadable", "Die Liste \"%s1%\" kann nicht gelesen werden.", {list});
}

std::string ListNoHitText(const std::string& list, const std::string& term) {
  return LangText("Main|OutListNoHit", "Kein Eintrag der Liste \"%s1%\" enthält \"%s2%\".",
                  {list, term});
}

void TfrmMain::btnListSearchClick() {
  ToolRunGuard guard(*this, {.Start = &btnListSearch,
                             .Inputs = {&lblListList, &cmbListList, &lblListSearch, &cmbListSearch},
                             .MainInput = &cmbListSearch,
                             .StatusKey = "Main|sbMainListSearch",
                             .StatusDefault = "Suche in \"%s1%\" nach \"%s2%\"...",
                             .StatusArgs = {cmbListList.Text(), cmbListSearch.Text()}});
  lstList.Clear();

  const std::string path = ProgramFolder + cmbListList.Text() + ".clf";
  if (path != ListCacheFile) {
    try {
      std::vector<std::string> lines = SplitPakRows(LoadPak(path));
      ListCacheLines = std::move(lines);
      ListCacheFile = path;
    } catch (...) {
      // A missing or damaged list shows nothing; the status bar says why.
      // The cache keeps the list it holds: its lines are not this list's.
      SetToolResult(pgList, {{"list", cmbListList.Text()},
                             {"search", cmbListSearch.Text()},
                             {"error", "unreadable"}});
      guard.SetEndStatus(ListUnreadableText(cmbListList.Text()));
      return;
    }
  }

  const std::string term = cmbListSearch.Text();
  const std::string folded = FoldCaseUtf8(term);
  std::vector<std::string> found;
  for (const auto& line : ListCacheLines)
    if (term.empty() || FoldCaseUtf8(line).find(folded) != std::string::npos) found.push_back(line);
  SetToolResult(pgList, {{"list", cmbListList.Text()},
                         {"search", term},
                         {"hits", found.size()},
                         {"rows", ListCacheLines.size()}});
  // An empty box alone reads like a search still to come.
  if (found.empty()) guard.SetEndStatus(ListNoHitText(cmbListList.Text(), term));
  lstList.SetItems(std::move(found));
}

}  // namespace quovix
