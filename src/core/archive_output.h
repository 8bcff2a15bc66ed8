// How the extractors put files on disk: every entry goes to a temporary file
// beside its final path and is moved over the target only when complete, so a
// target is replaced (never written through a hard link) and no half-written
// file ever stands under a final name.
#pragma once

#include "core/handles.h"

#include <windows.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

std::wstring ToWide(const std::string& text, UINT codePage);
// Characters the code page lacks become '?', never a lookalike.
std::string ToNarrow(const std::wstring& text, UINT codePage);

// The output path of an entry: the name alone for an empty or "." destination.
std::wstring JoinOutputPath(const std::wstring& destination, const std::wstring& name);

// Creates path and every directory above it; true when it then is a directory.
// The directories it created are appended to created, parents first.
bool MakeDirectories(const std::wstring& path, std::vector<std::wstring>* created = nullptr);

// Creates directories for one extraction, remembering those that stand, so
// that the many files of one folder cost one check of it rather than one each.
class DirectoryMaker {
public:
    // As MakeDirectories.
    bool Make(const std::wstring& path);
    // The directories above the last separator of path.
    bool MakeParentOf(const std::wstring& path);
    // Removes the directories that this maker created and that are empty.
    void RemoveCreated();

private:
    std::set<std::wstring> made_;
    std::vector<std::wstring> created_;
};

// A file being written beside its final path; deleted unless placed.
class StagedFile {
public:
    StagedFile() = default;
    ~StagedFile() { Discard(); }
    StagedFile(StagedFile&& other) noexcept;
    StagedFile& operator=(StagedFile&&) = delete;
    StagedFile(const StagedFile&) = delete;

    bool Create(const std::wstring& finalPath);
    bool Write(const uint8_t* data, size_t n);
    // Sets the last-write time before closing, when time is given.
    bool Close(const FILETIME* time = nullptr);
    // Moves the complete file over its target, with the busy-file rule.
    bool Place();
    void Discard();
    const std::wstring& FinalPath() const { return final_; }

private:
    void Forget();  // the temporary name is no longer in use

    UniqueHandle file_;
    std::wstring temp_;
    std::wstring final_;
};

// The busy-file rule for a target file: when moving over it fails and it is a
// file (never a directory), it is renamed to "<name>.old" and the move is tried
// once more.
bool MoveOverTarget(const std::wstring& source, const std::wstring& target);
