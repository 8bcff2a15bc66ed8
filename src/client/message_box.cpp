#include "client/message_box.h"

#include <utility>

namespace {

ActionMessageBox g_actionMessageBox;

}  // namespace

int ShowActionMessageBox(HWND owner, const std::string& text, const std::string& title, unsigned style)
{
    if (g_actionMessageBox) return g_actionMessageBox(owner, text, title, style);
    return MessageBoxA(owner, text.c_str(), title.c_str(), style);
}

void SetActionMessageBoxForChecks(ActionMessageBox show)
{
    g_actionMessageBox = std::move(show);
}
