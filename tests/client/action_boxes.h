// Helpers of the play and graphics-fix checks: the copy that runs an action
// records its message boxes in a file and answers them, and maps its
// HKEY_CURRENT_USER onto a scratch key; the checks read the boxes back.
#pragma once

#include "client/client_prep_support.h"

#include <windows.h>

#include <string>
#include <vector>

namespace checks {

struct RecordedBox {
    unsigned long long owner = 0;
    std::string title;
    unsigned style = 0;
    std::string text;
};

// In the copy: every box goes to path; a Yes/No question gets questionAnswer,
// any other box IDOK.
void RecordActionBoxes(const std::string& path, int questionAnswer);
std::vector<RecordedBox> ReadRecordedBoxes(const std::string& path);

}  // namespace checks
