// Extraction of archives made by zip, tar, gzip and Python's zipfile and tarfile,
// and of hostile archives with one fault each (tests/support/make_archives.py).
#include "core/archive.h"
#include "core/safe_path.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

std::wstring Wide(const std::string& s, UINT cp = CP_UTF8)
{
    int n = MultiByteToWideChar(cp, 0, s.data(), int(s.size()), nullptr, 0);
    std::wstring w(size_t(n), L'\0');
    if (n) MultiByteToWideChar(cp, 0, s.data(), int(s.size()), &w[0], n);
    return w;
}

std::string Utf8(const std::wstring& w)
{
    int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), int(w.size()), nullptr, 0, nullptr, nullptr);
    std::string s(size_t(n), '\0');
    if (n) WideCharToMultiByte(CP_UTF8, 0, w.data(), int(w.size()), &s[0], n, nullptr, nullptr);
    return s;
}

// The fixture folder as a Windows path (Wine maps the Linux root to Z:).
std::string FixtureDir()
{
    const char* dir = std::getenv("VERANDEL_ARCHIVE_FIXTURES");
    if (!dir) return std::string();
    std::string p = std::string("Z:") + dir;
    std::replace(p.begin(), p.end(), '/', '\\');
    return p;
}

std::string ReadAll(const std::wstring& path)
{
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return "<missing>";
    std::string data;
    char buf[65536];
    DWORD got = 0;
    while (ReadFile(h, buf, sizeof buf, &got, nullptr) && got > 0) data.append(buf, got);
    CloseHandle(h);
    return data;
}

void WriteAll(const std::wstring& path, const std::string& data)
{
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(h, data.data(), DWORD(data.size()), &written, nullptr);
    CloseHandle(h);
}

// Short contents stay readable in failure messages; long ones become their
// length and hash, so that a mismatch of a large file prints in one line.
std::string Fingerprint(const std::string& content)
{
    if (content.size() <= 64) return content;
    return "<" + std::to_string(content.size()) + " bytes, hash " +
           std::to_string(std::hash<std::string>()(content)) + ">";
}

// Every file below root (UTF-8 names, '/' separators) with its fingerprint,
// and every directory with a trailing '/'.
void Walk(const std::wstring& root, const std::string& prefix, std::map<std::string, std::string>& out)
{
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((root + L"\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return;
    do {
        std::wstring name = fd.cFileName;
        if (name == L"." || name == L"..") continue;
        std::string rel = prefix + Utf8(name);
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            out[rel + "/"] = "";
            Walk(root + L"\\" + name, rel + "/", out);
        } else {
            out[rel] = Fingerprint(ReadAll(root + L"\\" + name));
        }
    } while (FindNextFileW(h, &fd));
    FindClose(h);
}

std::map<std::string, std::string> Tree(const std::wstring& root)
{
    std::map<std::string, std::string> out;
    Walk(root, "", out);
    return out;
}

void RemoveTree(const std::wstring& root)
{
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((root + L"\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = fd.cFileName;
            if (name == L"." || name == L"..") continue;
            std::wstring p = root + L"\\" + name;
            SetFileAttributesW(p.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) RemoveTree(p);
            else DeleteFileW(p.c_str());
        } while (FindNextFileW(h, &fd));
        FindClose(h);
    }
    RemoveDirectoryW(root.c_str());
}

class Archives : public ::testing::Test {
protected:
    void SetUp() override
    {
        fixtures_ = FixtureDir();
        ASSERT_FALSE(fixtures_.empty()) << "VERANDEL_ARCHIVE_FIXTURES is not set";
        char tmp[MAX_PATH];
        GetTempPathA(MAX_PATH, tmp);
        static int counter = 0;
        root_ = std::string(tmp) + "verandel_archive_" + std::to_string(GetCurrentProcessId()) + "_" +
                std::to_string(++counter);
        RemoveTree(Wide(root_));
        CreateDirectoryA(root_.c_str(), nullptr);
        dest_ = root_ + "\\dest";
        CreateDirectoryA(dest_.c_str(), nullptr);
    }
    void TearDown() override { RemoveTree(Wide(root_)); }

    std::string Good(const std::string& name) const { return fixtures_ + "\\good\\" + name; }
    std::string Bad(const std::string& name) const { return fixtures_ + "\\bad\\" + name; }
    std::map<std::string, std::string> SourceTree() const { return Tree(Wide(fixtures_ + "\\tree")); }
    std::map<std::string, std::string> DestTree() const { return Tree(Wide(dest_)); }
    std::wstring DestPath(const std::string& rel) const { return Wide(dest_ + "\\" + rel); }

    // The files of a tree as the name list gives them: '\' separators.
    static std::set<std::string> FileNames(const std::map<std::string, std::string>& tree)
    {
        std::set<std::string> names;
        for (const auto& [name, content] : tree) {
            if (name.back() == '/') continue;
            std::string n = name;
            std::replace(n.begin(), n.end(), '/', '\\');
            names.insert(n);
        }
        return names;
    }
    // Listed names are in the system code page; compare them as UTF-8.
    static std::set<std::string> Listed(const std::vector<std::string>& names)
    {
        std::set<std::string> out;
        for (const std::string& n : names) out.insert(Utf8(Wide(n, CP_ACP)));
        return out;
    }
    // The tree as archives made on Linux without ZIP's UTF-8 flag name it: its
    // UTF-8 name bytes, read in the system code page.
    static std::map<std::string, std::string> InCodePage(const std::map<std::string, std::string>& tree)
    {
        std::map<std::string, std::string> out;
        for (const auto& [name, content] : tree) out[Utf8(Wide(name, CP_ACP))] = content;
        return out;
    }

    std::string fixtures_, root_, dest_;
};

// The tree holds a path over tar's 100-byte name field, which each tar format
// carries its own way. pax names are UTF-8; the others are bytes.
TEST_F(Archives, ArchivesOfRealToolsReproduceTheTree)
{
    const auto source = SourceTree();
    for (const std::string name : {"zip_deflated.zip", "zip_stored.zip", "zip_zip64.zip", "zip_descriptors.zip",
                                   "tar_ustar.rgz", "tar_gnu.rgz", "tar_pax.rgz", "tar_tarfile.rgz"}) {
        SCOPED_TRACE(name);
        const bool pax = name == "tar_pax.rgz" || name == "tar_tarfile.rgz";
        const auto expected = pax ? source : InCodePage(source);
        std::vector<std::string> names;
        EXPECT_TRUE(ExtractArchive(Good(name), dest_, &names));
        EXPECT_EQ(DestTree(), expected);
        EXPECT_EQ(Listed(names), FileNames(expected));
        RemoveTree(Wide(dest_));
        CreateDirectoryA(dest_.c_str(), nullptr);
    }
}

TEST_F(Archives, PythonZipfileWithUtf8FlagZip64AndDescriptors)
{
    std::vector<std::string> names;
    ASSERT_TRUE(ExtractZipArchive(Good("py_zipfile.zip"), dest_, &names));
    auto source = SourceTree();
    std::map<std::string, std::string> expected;
    for (const char* n : {"a.txt", "big.bin", "sub/", "sub/b.txt", "caf\xc3\xa9.txt"}) expected[n] = source[n];
    EXPECT_EQ(DestTree(), expected);
    EXPECT_EQ(Listed(names), FileNames(expected));

    // The entry's DOS time, taken as local time.
    WIN32_FILE_ATTRIBUTE_DATA attrs;
    ASSERT_TRUE(GetFileAttributesExW(DestPath("a.txt").c_str(), GetFileExInfoStandard, &attrs));
    FILETIME local;
    SYSTEMTIME st;
    FileTimeToLocalFileTime(&attrs.ftLastWriteTime, &local);
    FileTimeToSystemTime(&local, &st);
    EXPECT_EQ(std::vector<int>({st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond}),
              std::vector<int>({2020, 1, 2, 3, 4, 6}));
}

// Both sizes and the header offset in the ZIP64 extra field, in its fixed
// order, behind a ZIP64 end record (checked with unzip -t and zipfile).
TEST_F(Archives, Zip64ExtraFieldWithEveryValue)
{
    std::vector<std::string> names;
    ASSERT_TRUE(ExtractZipArchive(Good("zip64_all_fields.zip"), dest_, &names));
    std::string first;
    for (int i = 0; i < 100; ++i) first += "first\n";
    EXPECT_EQ(ReadAll(DestPath("first.txt")), first);
    EXPECT_EQ(ReadAll(DestPath("second.txt")), "second\n");
    EXPECT_EQ(names, (std::vector<std::string>{"first.txt", "second.txt"}));
}

TEST_F(Archives, FullClientTopFolderIsDroppedOnlyWhenSpelledExactly)
{
    std::vector<std::string> names;
    ASSERT_TRUE(ExtractZipArchive(Good("py_Quillfen_Full.zip"), dest_, &names));
    EXPECT_EQ(DestTree(), (std::map<std::string, std::string>{
                              {"a.txt", "hello\n"}, {"sub/", ""}, {"sub/b.txt", "deep file\n"}}));
    EXPECT_EQ(names, (std::vector<std::string>{"a.txt", "sub\\b.txt"}));

    RemoveTree(Wide(dest_));
    names.clear();
    ASSERT_TRUE(ExtractZipArchive(Good("py_quillfen_full.zip"), dest_, &names));
    EXPECT_EQ(names, (std::vector<std::string>{"quillfen_full\\a.txt", "quillfen_full\\sub\\b.txt"}));
}

TEST_F(Archives, RecordStreamAndSingleFileMembers)
{
    std::vector<std::string> names;
    ASSERT_TRUE(ExtractArchive(Good("records.rgz"), dest_, &names));
    EXPECT_EQ(DestTree(), (std::map<std::string, std::string>{
                              {"recdir/", ""}, {"recdir/one.txt", "first\n"}, {"two.txt", "second\n"}}));
    EXPECT_EQ(names, (std::vector<std::string>{"recdir\\one.txt", ".\\two.txt"}));

    RemoveTree(Wide(dest_));
    names.clear();
    ASSERT_TRUE(ExtractArchive(Good("records_other_end.rgz"), dest_, &names));
    EXPECT_EQ(DestTree(), (std::map<std::string, std::string>{{"one.txt", "first\n"}, {"two.txt", "second\n"}}));
    EXPECT_EQ(names, (std::vector<std::string>{"one.txt", "two.txt"}));

    RemoveTree(Wide(dest_));
    names.clear();
    ASSERT_TRUE(ExtractArchive(Good("single_named.rgz"), dest_, &names));
    EXPECT_EQ(DestTree(), (std::map<std::string, std::string>{{"single.txt", "deep file\n"}}));
    EXPECT_EQ(names, std::vector<std::string>{"single.txt"});

    RemoveTree(Wide(dest_));
    names.clear();
    ASSERT_TRUE(ExtractArchive(Good("single_record_lookalike.rgz"), dest_, &names));
    EXPECT_EQ(DestTree(), (std::map<std::string, std::string>{
                              {"notes.bin", std::string("f\x0b..\\evil.txt\xff\xff\xff\x7fnot a record\n", 30)}}));
    EXPECT_EQ(names, std::vector<std::string>{"notes.bin"});

    // Read as records first, its text would leave a folder "notes" beside the file.
    RemoveTree(Wide(dest_));
    names.clear();
    ASSERT_TRUE(ExtractArchive(Good("single_dir_lookalike.rgz"), dest_, &names));
    EXPECT_EQ(DestTree(), (std::map<std::string, std::string>{{"notes.txt", "d\x05notes from the patch team\n"}}));
    EXPECT_EQ(names, std::vector<std::string>{"notes.txt"});

    RemoveTree(Wide(dest_));
    CreateDirectoryA(dest_.c_str(), nullptr);
    names.clear();
    EXPECT_FALSE(ExtractArchive(Good("single_unnamed.rgz"), dest_, &names));
    EXPECT_TRUE(DestTree().empty());
    EXPECT_TRUE(names.empty());
}

// Callers open listed names with the system code page's file functions: a name
// that is safe in Unicode must not become "..\\" in that code page.
TEST_F(Archives, ListedNamesNeverLeaveTheDestination)
{
    const std::string up = "\xef\xbc\x8e\xef\xbc\x8e\xef\xbc\xbc";  // U+FF0E U+FF0E U+FF3C, as UTF-8
    // The ZIP entry carries the UTF-8 flag; the tar name is code page bytes.
    for (const auto& [name, codePage] : {std::pair<const char*, UINT>{"zip_lookalike.zip", CP_UTF8},
                                         std::pair<const char*, UINT>{"tar_lookalike.rgz", CP_ACP}}) {
        SCOPED_TRACE(name);
        const std::string written = "System/" + Utf8(Wide(up + up + "evil.txt", codePage));
        RemoveTree(Wide(dest_));
        CreateDirectoryA(dest_.c_str(), nullptr);
        std::vector<std::string> names;
        ASSERT_TRUE(ExtractArchive(Good(name), dest_, &names));
        EXPECT_EQ(DestTree(), (std::map<std::string, std::string>{{"System/", ""}, {written, "lookalike\n"}}));
        ASSERT_EQ(names.size(), 1u);
        EXPECT_TRUE(IsSafeRelativePath(names[0])) << names[0];
        EXPECT_EQ(names[0].rfind("System\\", 0), 0u) << names[0];
    }
}

// Names are system code page bytes in every container; only a ZIP entry with
// the format's UTF-8 flag and a tar entry's pax path are read as UTF-8.
// Nothing is guessed from the bytes: the "utf8" name is valid UTF-8 and still
// code page bytes without the flag.
TEST_F(Archives, NamesAreCodePageBytesUnlessTheZipFlagSaysUtf8)
{
    const std::map<std::string, std::string> raw = {
        {"cp949", "\xc7\xd1\xb1\xdb.txt"}, {"utf8", "caf\xc3\xa9.txt"}, {"cp1252", "caf\xe9.txt"}};
    struct Case {
        std::string archive;
        std::string tag;
        UINT codePage;
        bool refused;
    };
    std::vector<Case> cases;
    for (const auto& entry : raw)
        for (const std::string kind : {"zip_", "tar_", "records_", "single_"})
            cases.push_back({kind + entry.first + (kind == "zip_" ? ".zip" : ".rgz"), entry.first, CP_ACP, false});
    cases.push_back({"zipflagged_utf8.zip", "utf8", CP_UTF8, false});
    cases.push_back({"zipflagged_cp949.zip", "cp949", CP_UTF8, true});  // flagged, but not UTF-8
    cases.push_back({"tarpax_utf8.rgz", "utf8", CP_UTF8, false});
    cases.push_back({"tarpax_cp949.rgz", "cp949", CP_UTF8, true});

    for (const Case& c : cases) {
        SCOPED_TRACE(c.archive);
        RemoveTree(Wide(dest_));
        CreateDirectoryA(dest_.c_str(), nullptr);
        std::vector<std::string> names;
        const bool ok = ExtractArchive(fixtures_ + "\\names\\" + c.archive, dest_, &names);
        if (c.refused) {
            EXPECT_FALSE(ok);
            EXPECT_TRUE(DestTree().empty());
            continue;
        }
        EXPECT_TRUE(ok);
        const std::string expected = Utf8(Wide(raw.at(c.tag), c.codePage));
        EXPECT_EQ(DestTree(), (std::map<std::string, std::string>{{expected, "named\n"}}));
        EXPECT_EQ(Listed(names), std::set<std::string>{expected});
    }
}

TEST_F(Archives, DestinationDotMeansTheCurrentDirectory)
{
    char previous[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryA(dest_.c_str()));
    std::vector<std::string> names;
    bool ok = ExtractArchive(Good("tar_python.rgz"), ".", &names);
    bool refused = !ExtractArchive(Bad("tar_name_dotdot.rgz"), ".", nullptr);
    SetCurrentDirectoryA(previous);
    EXPECT_TRUE(ok);
    EXPECT_TRUE(refused);
    EXPECT_EQ(names, (std::vector<std::string>{"ok.txt", "victim.txt"}));
    EXPECT_EQ(DestTree().size(), 2u);
    EXPECT_EQ(Tree(Wide(root_)).size(), 3u);  // dest/ and its two files, nothing beside it
}

TEST_F(Archives, OnlyTheExactEndingsChooseAnExtractor)
{
    for (const char* name : {"patch.Zip", "patch.rgz.bak", "patch.zip.part", "zip", "p.gz"}) {
        std::string copy = root_ + "\\" + name;
        ASSERT_TRUE(CopyFileA(Good("zip_deflated.zip").c_str(), copy.c_str(), FALSE));
        std::vector<std::string> names;
        EXPECT_FALSE(ExtractArchive(copy, dest_, &names)) << name;
        EXPECT_TRUE(names.empty());
        EXPECT_TRUE(DestTree().empty()) << name;
        DeleteFileA(copy.c_str());
    }
    std::string upper = root_ + "\\PATCH.ZIP";
    ASSERT_TRUE(CopyFileA(Good("zip_deflated.zip").c_str(), upper.c_str(), FALSE));
    EXPECT_TRUE(ExtractArchive(upper, dest_, nullptr));
}

// Each hostile archive fails, writes nothing outside the destination, leaves
// the file that was there before as it was and no partial or staged file.
TEST_F(Archives, HostileArchivesFailAndLeaveNothingBehind)
{
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((fixtures_ + "\\bad\\*").c_str(), &fd);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    std::vector<std::string> archives;
    do {
        if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) archives.push_back(fd.cFileName);
    } while (FindNextFileA(h, &fd));
    FindClose(h);
    ASSERT_GE(archives.size(), 20u);

    const std::string nested = dest_ + "\\sub";
    for (const std::string& name : archives) {
        SCOPED_TRACE(name);
        RemoveTree(Wide(dest_));
        CreateDirectoryA(dest_.c_str(), nullptr);
        CreateDirectoryA(nested.c_str(), nullptr);
        WriteAll(DestPath("victim.txt"), "previous\n");
        std::vector<std::string> names;
        // One level down, so that "../" names would land inside root_ where they can be seen.
        EXPECT_FALSE(ExtractArchive(Bad(name), nested, &names));
        EXPECT_TRUE(names.empty());
        std::vector<std::string> found;
        for (const auto& entry : Tree(Wide(root_))) found.push_back(entry.first);
        EXPECT_EQ(found, (std::vector<std::string>{"dest/", "dest/sub/", "dest/victim.txt"}));
        EXPECT_EQ(ReadAll(DestPath("victim.txt")), "previous\n");
    }
}

// A path the narrow file calls cannot name is refused before anything is
// written: with its terminating null and the longest name made of it (the
// staged name, or the caller's reserve for the file) it must stay below
// MAX_PATH.
TEST_F(Archives, PathsPastTheSystemLimitWriteNothing)
{
    wchar_t full[1024];
    ASSERT_GT(GetFullPathNameW(DestPath("sub\\b.txt").c_str(), 1024, full, nullptr), 0u);
    const size_t deepest = std::wstring(full).size();
    const size_t room = MAX_PATH - 1 - deepest;  // what sub\b.txt leaves
    ASSERT_GT(room, 6u);
    for (const std::string name : {"zip_deflated.zip", "tar_gnu.rgz", "tar_tarfile.rgz"}) {
        for (const size_t reserve : {room - 1, room}) {
            SCOPED_TRACE(name + " with " + std::to_string(reserve) + " of " + std::to_string(room));
            std::vector<std::string> names;
            const NameReserve sub = [reserve](const std::string& n) {
                return n == "sub\\b.txt" ? reserve : size_t(0);
            };
            const bool fits = reserve < room;
            EXPECT_EQ(ExtractArchive(Good(name), dest_, &names, sub), fits);
            if (fits) {
                EXPECT_EQ(Listed(names), FileNames(DestTree()));
            } else {
                EXPECT_TRUE(names.empty());
                EXPECT_TRUE(DestTree().empty());
            }
            RemoveTree(Wide(dest_));
            CreateDirectoryA(dest_.c_str(), nullptr);
        }
    }
}

// A launcher closed mid-extraction leaves its temporary files; extracting the
// archive again takes their names over instead of leaving them for ever.
TEST_F(Archives, LeftoversOfACutOffExtractionAreTakenOver)
{
    for (const char* name : {"zip_deflated.zip", "tar_ustar.rgz"}) {
        SCOPED_TRACE(name);
        RemoveTree(Wide(dest_));
        CreateDirectoryA(dest_.c_str(), nullptr);
        WriteAll(DestPath("a.txt.~x1"), std::string(100000, 'L'));
        ASSERT_TRUE(ExtractArchive(Good(name), dest_, nullptr));
        auto tree = DestTree();
        EXPECT_EQ(tree["a.txt"], "hello\n");
        for (const auto& entry : tree) EXPECT_EQ(entry.first.find(".~x"), std::string::npos) << entry.first;
    }
}

TEST_F(Archives, DamagedEntryLeavesTheExistingTarget)
{
    WriteAll(DestPath("victim.txt"), "previous\n");
    for (const char* name : {"zip_bad_crc.zip", "zip_bad_size.zip", "zip_bad_deflate.zip", "tar_truncated.rgz",
                             "gzip_bad_crc.rgz"}) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(ExtractArchive(Bad(name), dest_, nullptr));
        EXPECT_EQ(DestTree(), (std::map<std::string, std::string>{{"victim.txt", "previous\n"}}));
    }
}

std::string Lines(const std::string& name, int count)
{
    std::string text;
    for (int i = 0; i < count; ++i) text += "line of " + name + "\n";
    return text;
}

// Data is read together with its local header where it fits: a local extra
// field longer than the central directory's copy must neither shift nor cut it.
TEST_F(Archives, LocalExtraFieldsOfAnyLengthPrecedeTheData)
{
    std::vector<std::string> names;
    ASSERT_TRUE(ExtractArchive(Good("zip_local_extras.zip"), dest_, &names));
    std::map<std::string, std::string> expected;
    for (const char* name : {"extra_0_8.txt", "extra_0_0.txt", "extra_1100_8.txt", "extra_1100_0.txt",
                             "extra_3000_8.txt", "extra_3000_0.txt"})
        expected[name] = Fingerprint(Lines(name, 300));
    EXPECT_EQ(DestTree(), expected);
    EXPECT_EQ(names.size(), expected.size());
}

// The inflater that serves every entry starts each one afresh, also after an
// entry whose stream broke off in the middle.
TEST_F(Archives, AnEntryAfterADamagedOneComesOutWhole)
{
    std::vector<std::string> names;
    EXPECT_FALSE(ExtractArchive(Good("zip_damaged_then_sound.zip"), dest_, &names));
    EXPECT_EQ(DestTree(), (std::map<std::string, std::string>{{"after.txt", Fingerprint(Lines("after.txt", 300))}}));
    EXPECT_EQ(names, std::vector<std::string>{"after.txt"});
}

// A target that is a hard link into a realm profile is replaced; the profile's
// copy keeps its content.
TEST_F(Archives, HardLinkedTargetsAreReplacedNotWrittenThrough)
{
    const std::string profile = root_ + "\\profile";
    CreateDirectoryA(profile.c_str(), nullptr);
    WriteAll(Wide(profile + "\\a.txt"), "profile copy\n");
    for (const char* name : {"zip_deflated.zip", "tar_ustar.rgz"}) {
        SCOPED_TRACE(name);
        DeleteFileW(DestPath("a.txt").c_str());
        ASSERT_TRUE(CreateHardLinkA((dest_ + "\\a.txt").c_str(), (profile + "\\a.txt").c_str(), nullptr));
        EXPECT_TRUE(ExtractArchive(Good(name), dest_, nullptr));
        EXPECT_EQ(ReadAll(DestPath("a.txt")), "hello\n");
        EXPECT_EQ(ReadAll(Wide(profile + "\\a.txt")), "profile copy\n");
    }
}

TEST_F(Archives, BusyFileMovesAsideButADirectoryNeverDoes)
{
    // A file mapped as an image can be renamed but not replaced, as a running
    // program on Windows.
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    ASSERT_TRUE(CopyFileA(self, (dest_ + "\\ok.txt").c_str(), FALSE));
    HMODULE image = LoadLibraryExA((dest_ + "\\ok.txt").c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
    ASSERT_NE(image, nullptr);
    // A directory where the archive has a file.
    CreateDirectoryW(DestPath("victim.txt").c_str(), nullptr);
    WriteAll(DestPath("victim.txt\\keep.txt"), "keep\n");

    std::vector<std::string> names;
    bool ok = ExtractArchive(Good("tar_python.rgz"), dest_, &names);
    FreeLibrary(image);
    EXPECT_FALSE(ok);
    auto tree = DestTree();
    EXPECT_EQ(tree["ok.txt"], "fine\n");
    EXPECT_EQ(ReadAll(DestPath("ok.txt.old")).substr(0, 2), "MZ");
    EXPECT_EQ(tree["victim.txt/keep.txt"], "keep\n");
    EXPECT_EQ(tree.count("victim.txt.old/"), 0u);
    EXPECT_EQ(names, std::vector<std::string>{"ok.txt"});
    for (const auto& entry : tree) EXPECT_EQ(entry.first.find(".~x"), std::string::npos) << entry.first;
}

}  // namespace
