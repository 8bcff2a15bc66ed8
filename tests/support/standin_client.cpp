// A stand-in for the game client and its setup utility in checks: copied into
// a game directory as qvx.dll, opensetup.exe, ..., it records how it was
// started and then ends the way its arguments or environment ask.
//
//   --exit=CODE  exit code (decimal or 0x hex), else VERANDEL_STANDIN_EXIT, else 0
//   --stay=MS    keep running MS milliseconds first, else VERANDEL_STANDIN_STAY_MS, else 0
//   --hold=PATH  keep PATH open while it runs, so that others may write, rename
//                or replace it but no one can read it (opened before the record)
// The record goes to VERANDEL_STANDIN_RECORD, else to the program's own path
// + ".record.txt", as lines "command_line=", "working_directory=", "module=",
// "process_id=". Other arguments (the client's launch argument) are ignored.
#include <windows.h>

#include <cstdlib>
#include <string>

namespace {

std::string Env(const char* name)
{
    char buffer[4096];
    const DWORD n = GetEnvironmentVariableA(name, buffer, sizeof(buffer));
    return (n > 0 && n < sizeof(buffer)) ? std::string(buffer, n) : std::string();
}

// The value of "--name=value" among the command line's blank-separated words.
std::string Option(const std::string& commandLine, const std::string& name)
{
    const std::string key = "--" + name + "=";
    size_t at = 0;
    while ((at = commandLine.find(key, at)) != std::string::npos) {
        if (at == 0 || commandLine[at - 1] == ' ') {
            const size_t start = at + key.size();
            const size_t end = commandLine.find(' ', start);
            return commandLine.substr(start, end == std::string::npos ? std::string::npos : end - start);
        }
        at += key.size();
    }
    return std::string();
}

unsigned long Number(const std::string& text)
{
    return text.empty() ? 0 : std::strtoul(text.c_str(), nullptr, 0);
}

void WriteRecord(const std::string& commandLine)
{
    char module[MAX_PATH * 4] = {};
    GetModuleFileNameA(nullptr, module, sizeof(module));
    char cwd[MAX_PATH * 4] = {};
    GetCurrentDirectoryA(sizeof(cwd), cwd);
    std::string path = Env("VERANDEL_STANDIN_RECORD");
    if (path.empty()) path = std::string(module) + ".record.txt";
    const std::string text = "command_line=" + commandLine + "\nworking_directory=" + cwd + "\nmodule=" +
                             module + "\nprocess_id=" + std::to_string(GetCurrentProcessId()) + "\n";
    // Written under a temporary name and renamed, so that a reader never sees half a record.
    const std::string temporary = path + ".tmp";
    HANDLE file = CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
    MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
}

}  // namespace

int main()
{
    const std::string commandLine = GetCommandLineA();
    const std::string hold = Option(commandLine, "hold");
    if (!hold.empty() && CreateFileA(hold.c_str(), GENERIC_READ, FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                     OPEN_EXISTING, 0, nullptr) == INVALID_HANDLE_VALUE)
        return 2;
    WriteRecord(commandLine);
    std::string stay = Option(commandLine, "stay");
    if (stay.empty()) stay = Env("VERANDEL_STANDIN_STAY_MS");
    if (const unsigned long ms = Number(stay)) Sleep(ms);
    std::string code = Option(commandLine, "exit");
    if (code.empty()) code = Env("VERANDEL_STANDIN_EXIT");
    ExitProcess(static_cast<UINT>(Number(code)));
}
