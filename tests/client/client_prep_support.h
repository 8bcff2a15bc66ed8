// Helpers of the client preparation checks: one preparation step run in a
// copy of the check program, so that the step's game directory, current
// directory and launcher.log are a scratch folder; the log read back.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace checks {

// Steps, fields separated by '|':
//   dataini|<mode>   clientinfo|<mode>   activate|<mode>
//   prepare|<wine or nowine or detect>|<client exe>
// The copy's HKEY_CURRENT_USER is mapped onto HKCU\<registryRoot> when it is
// given, so that registry checks never touch the prefix's real values. The
// step's result, if any, is written to <dir>\step_result.txt. Returns the
// copy's exit code (0 when the step ran).
int RunClientStep(const std::string& dir, const std::string& exeName, const std::string& step,
                  const std::string& registryRoot = std::string());

// In a copy: HKEY_CURRENT_USER becomes HKCU\root.
bool RedirectCurrentUser(const std::string& root);

// The value of an environment variable, empty when unset.
std::string EnvValue(const char* name);

// The messages of dir\launcher.log, time stamps removed.
std::vector<std::string> LogMessages(const std::string& dir);

// A key under HKCU for one check, removed with everything below it.
class ScratchRegistry {
public:
    explicit ScratchRegistry(const std::string& tag);
    ~ScratchRegistry();
    ScratchRegistry(const ScratchRegistry&) = delete;
    ScratchRegistry& operator=(const ScratchRegistry&) = delete;
    const std::string& Root() const { return root_; }  // relative to HKCU
    void SetString(const std::string& subkey, const std::string& name, const std::string& value);
    void SetBytes(const std::string& subkey, const std::string& name, DWORD type, const std::string& bytes);
    bool Has(const std::string& subkey, const std::string& name) const;
    std::string GetString(const std::string& subkey, const std::string& name) const;

private:
    std::string root_;
};

}  // namespace checks
