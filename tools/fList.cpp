// Lists tab: a search in the list files shipped beside the program.
#include "app/formMain.h"
#include "common/fCaseFold.h"
#include "common/fMain.h"
#include "shell/fLanguage.h"

namespace quovix {

namespace {

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t e = text.find_first_of("\r\n", start);
    if (e == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, e - start));
    start = e + ((text[e] == '\r' && e + 1 < text.size() && text[e + 1] == '\n') ? 2 : 1);
  }
  return lines;
}

}  // namespace

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
      std::vector<std::string> lines = SplitLines(LoadPak(path));
      ListCacheLines = std::move(lines);
      ListCacheFile = path;
    } catch (...) {
      // A missing or damaged list shows nothing; the cache stays as it was.
    }
  }

  const std::string term = cmbListSearch.Text();
  const std::string folded = FoldCaseUtf8(term);
  std::vector<std::string> found;
  for (const auto& line : ListCacheLines)
    if (term.empty() || FoldCaseUtf8(line).find(folded) != std::string::npos) found.push_back(line);
  lstList.SetItems(std::move(found));
  SetFocus(&lstList);
}

}  // namespace quovix
