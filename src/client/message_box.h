// The message boxes of the play and graphics-fix actions and of the start-up
// folder check, behind one replaceable call: nobody answers a box in a check,
// and under Wine an unanswered MessageBoxA waits for ever.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

// Shows the box (MessageBoxA unless replaced) and returns its answer.
int ShowActionMessageBox(HWND owner, const std::string& text, const std::string& title, unsigned style);

// Replaces the box for checks; empty restores MessageBoxA.
using ActionMessageBox =
    std::function<int(HWND owner, const std::string& text, const std::string& title, unsigned style)>;
void SetActionMessageBoxForChecks(ActionMessageBox show);
