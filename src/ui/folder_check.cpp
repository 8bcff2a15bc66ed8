#include "ui/folder_check.h"

#include "client/message_box.h"
#include "core/identity.h"

#include <windows.h>

namespace {

constexpr char kLaunchErrorTitle[] = "Verandel - Launch Error";
constexpr char kUnusableFolderText[] =
    "The launcher cannot work in this folder: its path has characters that this system's "
    "language settings cannot use.\n\nPlease move the game to a folder whose path uses plain "
    "letters, such as C:\\Games\\Verandel.";

}  // namespace

bool LauncherFolderIsUsable()
{
    // Such a path comes back from GetModuleFileNameA with '?' in place of
    // those characters: no file of the game could be found or written, and
    // every error shown would name the wrong cause.
    if (PathFitsCodePage(GetLauncherWidePath(), GetACP())) return true;
    ShowActionMessageBox(nullptr, kUnusableFolderText, kLaunchErrorTitle, MB_ICONERROR);
    return false;
}
