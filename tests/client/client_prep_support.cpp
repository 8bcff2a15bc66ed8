#include "client/client_prep_support.h"

#include "client/client_dir.h"
#include "client/client_files.h"
#include "client/realm_profile.h"
#include "core/foundation_support.h"
#include "core/identity.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

namespace checks {
namespace {

const char kStepVariable[] = "VERANDEL_CLIENT_STEP";
const char kRegistryVariable[] = "VERANDEL_CLIENT_HKCU";

std::vector<std::string> SplitFields(const std::string& step)
{
    std::vector<std::string> fields;
    size_t start = 0;
    for (size_t bar; (bar = step.find('|', start)) != std::string::npos; start = bar + 1)
        fields.push_back(step.substr(start, bar - start));
    fields.push_back(step.substr(start));
    return fields;
}

void WriteResult(const std::string& result)
{
    WriteBytes(GetLauncherDir() + "\\step_result.txt", result);
}

}  // namespace

bool RedirectCurrentUser(const std::string& root)
{
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, root.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
        ERROR_SUCCESS) {
        return false;
    }
    const bool ok = RegOverridePredefKey(HKEY_CURRENT_USER, key) == ERROR_SUCCESS;
    RegCloseKey(key);
    return ok;
}

std::string EnvValue(const char* name)
{
    char buffer[4096];
    const DWORD n = GetEnvironmentVariableA(name, buffer, sizeof(buffer));
    return n > 0 && n < sizeof(buffer) ? std::string(buffer, n) : std::string();
}

// The child side: runs the step named in the environment.
TEST(ClientStep, DISABLED_Run)
{
    const std::vector<std::string> f = SplitFields(EnvValue(kStepVariable));
    ASSERT_GE(f.size(), 2u);
    const std::string root = EnvValue(kRegistryVariable);
    if (!root.empty()) {
        ASSERT_TRUE(RedirectCurrentUser(root));
    }
    if (f[0] == "dataini") {
        WriteDataIni(f[1]);
    } else if (f[0] == "clientinfo") {
        WriteClientInfo(f[1]);
    } else if (f[0] == "activate") {
        WriteResult(ActivateRealmProfile(f[1]) ? "true" : "false");
    } else if (f[0] == "prepare") {
        ASSERT_EQ(f.size(), 3u);
        const std::string result = f[1] == "detect" ? PrepareClientDirectory(f[2])
                                                    : PrepareClientDirectoryIn(GetLauncherDir(), f[2], f[1] == "wine");
        WriteResult(result);
    } else {
        FAIL() << "unknown step " << f[0];
    }
}

int RunClientStep(const std::string& dir, const std::string& exeName, const std::string& step,
                  const std::string& registryRoot)
{
    DeleteFileA((dir + "\\launcher.log").c_str());
    DeleteFileA((dir + "\\step_result.txt").c_str());
    SetEnvironmentVariableA(kStepVariable, step.c_str());
    SetEnvironmentVariableA(kRegistryVariable, registryRoot.empty() ? nullptr : registryRoot.c_str());
    const int code = RunCopyOfThisProgram(
        dir, exeName, "--gtest_also_run_disabled_tests --gtest_filter=ClientStep.DISABLED_Run --gtest_brief=1");
    SetEnvironmentVariableA(kStepVariable, nullptr);
    SetEnvironmentVariableA(kRegistryVariable, nullptr);
    return code;
}

std::vector<std::string> LogMessages(const std::string& dir)
{
    std::vector<std::string> out;
    std::istringstream log(ReadBytes(dir + "\\launcher.log"));
    const size_t stamp = std::string("[2026-01-01 00:00:00.000] ").size();
    for (std::string line; std::getline(log, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        out.push_back(line.size() >= stamp ? line.substr(stamp) : line);
    }
    return out;
}

ScratchRegistry::ScratchRegistry(const std::string& tag)
    : root_("Software\\VerandelChecks\\" + tag + "-" + std::to_string(GetCurrentProcessId()))
{
    RegDeleteTreeA(HKEY_CURRENT_USER, root_.c_str());
}

ScratchRegistry::~ScratchRegistry()
{
    // The shared parent stays: deleting it while another check program is
    // creating its own key below it would make that creation fail.
    RegDeleteTreeA(HKEY_CURRENT_USER, root_.c_str());
}

void ScratchRegistry::SetString(const std::string& subkey, const std::string& name, const std::string& value)
{
    SetBytes(subkey, name, REG_SZ, std::string(value.c_str(), value.size() + 1));
}

void ScratchRegistry::SetBytes(const std::string& subkey, const std::string& name, DWORD type,
                               const std::string& bytes)
{
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, (root_ + "\\" + subkey).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &key, nullptr) != ERROR_SUCCESS) {
        ADD_FAILURE() << "cannot create " << subkey;
        return;
    }
    RegSetValueExA(key, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                   static_cast<DWORD>(bytes.size()));
    RegCloseKey(key);
}

bool ScratchRegistry::Has(const std::string& subkey, const std::string& name) const
{
    return RegGetValueA(HKEY_CURRENT_USER, (root_ + "\\" + subkey).c_str(), name.c_str(), RRF_RT_ANY, nullptr,
                        nullptr, nullptr) == ERROR_SUCCESS;
}

std::string ScratchRegistry::GetString(const std::string& subkey, const std::string& name) const
{
    char buffer[256] = {};
    DWORD size = sizeof(buffer) - 1;
    if (RegGetValueA(HKEY_CURRENT_USER, (root_ + "\\" + subkey).c_str(), name.c_str(), RRF_RT_REG_SZ, nullptr,
                     buffer, &size) != ERROR_SUCCESS) {
        return std::string();
    }
    return buffer;
}

}  // namespace checks
