#include "client/spawn_fixture.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace spawn_checks {

const std::string kDllHint =
    "\n\nReason: Missing DLL dependency.\nPlease install DirectX 9 End-User Runtime and Visual C++ 2015-2022 "
    "(x86) Redistributable.";
const std::string kAccessHint =
    "\n\nReason: Memory Access Violation (0xC0000005).\nPlease check your graphics settings in opensetup.exe.";

namespace {

long long FileSize(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return -1;
    return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// "key=value" lines; the value of restKey (the outcome's "error") takes the rest of the text.
std::map<std::string, std::string> ReadKeyed(const std::string& text, const std::string& restKey)
{
    std::map<std::string, std::string> values;
    size_t start = 0;
    while (start < text.size()) {
        const size_t eq = text.find('=', start);
        if (eq == std::string::npos) break;
        const std::string key = text.substr(start, eq - start);
        size_t end = key == restKey ? text.size() : text.find('\n', eq);
        if (end == std::string::npos) end = text.size();
        values[key] = text.substr(eq + 1, end - eq - 1);
        start = end + 1;
    }
    return values;
}

}  // namespace

// The build gives the stand-in's Linux path; Wine sees it under Z:.
std::string StandinPath()
{
    std::string path = std::string("Z:") + VERANDEL_STANDIN_PATH;
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

ScopedEnv::ScopedEnv(const char* name, const std::string& value) : name_(name)
{
    SetEnvironmentVariableA(name, value.c_str());
}

ScopedEnv::~ScopedEnv()
{
    SetEnvironmentVariableA(name_, nullptr);
}

GameDir::GameDir() : dir_("spawn") {}

// Only the stand-ins this directory ran, by the process ids they recorded.
GameDir::~GameDir()
{
    for (DWORD id : standinIds_) {
        HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id);
        if (process == nullptr) continue;
        TerminateProcess(process, 1);
        WaitForSingleObject(process, 5000);
        CloseHandle(process);
    }
}

void GameDir::InstallStandin(const std::string& name)
{
    const size_t sep = name.find_last_of('\\');
    if (sep != std::string::npos) CreateDirectoryA((dir_ / name.substr(0, sep)).c_str(), nullptr);
    if (!CopyFileA(StandinPath().c_str(), (dir_ / name).c_str(), FALSE)) ADD_FAILURE() << "cannot install " << name;
}

Outcome GameDir::Run(const std::string& call, const std::string& name, const std::string& args,
                     const std::string& fakes, const std::string& as)
{
    ScopedEnv c(kCallVariable, call), n(kNameVariable, name), a(kArgsVariable, args), f(kFakesVariable, fakes);
    Outcome outcome;
    const bool passed = checks::RunCheckInCopy(Path(), as, kChildCheck) == 0;
    const auto values = ReadKeyed(checks::ReadBytes(dir_ / kOutcomeFile), "error");
    outcome.ran = passed && values.count("result") == 1;
    if (!outcome.ran) return outcome;
    outcome.result = values.at("result") == "1";
    auto number = [&values](const char* key) {
        return values.count(key) ? std::strtoul(values.at(key).c_str(), nullptr, 10) : 0ul;
    };
    outcome.elapsedMs = number("elapsed_ms");
    outcome.startedHandles = number("started_handles");
    outcome.stillOpen = number("still_open");
    if (values.count("error")) outcome.error = values.at("error");
    return outcome;
}

std::string GameDir::LogMessages() const
{
    const std::string log = checks::ReadBytes(dir_ / "launcher.log");
    std::string out;
    size_t start = 0;
    for (size_t end; (end = log.find("\r\n", start)) != std::string::npos; start = end + 2) {
        std::string line = log.substr(start, end - start);
        if (line.size() >= 26 && line[0] == '[' && line[24] == ']' && line[25] == ' ') line = line.substr(26);
        out += line + "\n";
    }
    return out;
}

std::vector<std::string> GameDir::Calls() const
{
    std::vector<std::string> calls;
    const std::string text = checks::ReadBytes(dir_ / kCallsFile);
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        calls.push_back(text.substr(start, end - start));
    return calls;
}

std::map<std::string, std::string> GameDir::StandinRecord(const std::string& name, DWORD waitMs)
{
    const std::string path = dir_ / (name + ".record.txt");
    for (DWORD waited = 0; !checks::PathExists(path) && waited < waitMs; waited += 50) Sleep(50);
    auto record = ReadKeyed(checks::ReadBytes(path), "");
    if (record.count("process_id")) standinIds_.push_back(std::strtoul(record["process_id"].c_str(), nullptr, 10));
    return record;
}

RunningStandin::RunningStandin(GameDir& game, const std::string& name)
{
    game.InstallStandin(name);
    const std::string path = game / name;
    std::string commandLine = Quoted(path) + " --stay=30000";
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION created = {};
    if (!CreateProcessA(path.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, game.Path().c_str(),
                        &startup, &created)) {
        return;
    }
    CloseHandle(created.hThread);
    process_ = created.hProcess;
    // Its record says it runs, so a process list now shows it.
    started_ = game.StandinRecord(name, 10000).count("process_id") == 1;
}

RunningStandin::~RunningStandin()
{
    if (process_ == nullptr) return;
    TerminateProcess(process_, 1);
    WaitForSingleObject(process_, 5000);
    CloseHandle(process_);
}

std::string Quoted(const std::string& text)
{
    return "\"" + text + "\"";
}

std::string SpawnHead(const GameDir& game, const std::string& name, const std::string& args)
{
    return "[INFO] Spawning client: " + Quoted(game / name) + " " + args + "\n[INFO] Working directory: " +
           Quoted(game.Path()) + "\n";
}

std::string Verified(const GameDir& game, const std::string& name)
{
    return "[INFO] Target executable verified (" + std::to_string(FileSize(game / name)) + " bytes).\n";
}

bool OutlivedTheWatch(const GameDir& game)
{
    return game.LogMessages().find("[SUCCESS] Client process verified running normally.") != std::string::npos;
}

}  // namespace spawn_checks
