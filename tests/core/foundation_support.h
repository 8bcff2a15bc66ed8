// Helpers of the foundation checks: scratch folders, small files, and runs of
// a copy of the running check program under another name.
#pragma once

#include <windows.h>

#include <map>
#include <string>

namespace checks {

// A fresh folder under the temporary directory, removed with its contents.
class ScratchDir {
public:
    explicit ScratchDir(const std::string& tag);
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::string& Path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "\\" + name; }

private:
    std::string path_;
};

void WriteBytes(const std::string& path, const std::string& bytes);
std::string ReadBytes(const std::string& path);  // empty when missing
bool PathExists(const std::string& path);
bool IsDir(const std::string& path);

std::string ThisProgramPath();

// An environment variable's value, empty when it is not set.
std::string Env(const char* name);

// Everything below dir by relative path ('\\' separators): a file's content,
// "<dir>" for a folder, "<link>" for a link (never followed).
std::map<std::string, std::string> Tree(const std::string& dir, const std::string& prefix = "");

// Copies this program to dir\name and runs it there with the arguments; the
// exit code, or -1 when it could not start or did not end within the bound.
int RunCopyOfThisProgram(const std::string& dir, const std::string& name, const std::string& arguments,
                         DWORD timeoutMs = 60000);

// Runs the given disabled check of this program in a copy named name.
int RunCheckInCopy(const std::string& dir, const std::string& name, const std::string& check);

// A directory link at link pointing to target: a symbolic link where the
// system makes one, under Wine a Unix symbolic link. False when neither works.
bool MakeDirectoryLink(const std::string& link, const std::string& target);

// A link to an existing file, made the same way. Under Wine it looks like a
// plain file (no reparse attribute), and calls on it act on its target.
bool MakeFileLink(const std::string& link, const std::string& target);

}  // namespace checks
