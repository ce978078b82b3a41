#ifndef TICKORA_SETUP_ISSUE_LIST_H_
#define TICKORA_SETUP_ISSUE_LIST_H_

#include <string>
#include <vector>

#include "setup/run_context.h"

// The issue list that the split, price and margin stages work on: the
// codes of the run's database, ascending, whose kind (and, for stocks,
// market) the user checked; indices and currency pairs always. False, with
// the record's error set and `list` emptied, when the database cannot be
// read: a list read only in part would let a resume work on the part alone
// and end as a success with the other issues missing from every file.
[[nodiscard]] bool LoadIssueList(CRunContext& run, std::vector<std::string>& list);

#endif  // TICKORA_SETUP_ISSUE_LIST_H_
