#include "core/config.h"
#include "core/files.h"
#include "core/foundation_support.h"

#include <resource_ids.h>

#include <gtest/gtest.h>

#include <map>
#include <set>

using checks::Tree;
using checks::IsDir;
using checks::PathExists;
using checks::ReadBytes;
using checks::ScratchDir;
using checks::WriteBytes;

namespace {

bool UnderWine()
{
    return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
}


DWORD LinkCount(const std::string& path)
{
    HANDLE h = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return 0;
    BY_HANDLE_FILE_INFORMATION info = {};
    GetFileInformationByHandle(h, &info);
    CloseHandle(h);
    return info.nNumberOfLinks;
}

// Holds a file open for reading without FILE_SHARE_DELETE: it cannot be
// replaced, deleted or renamed while this lives.
class OpenWithoutDeleteSharing {
public:
    explicit OpenWithoutDeleteSharing(const std::string& path)
        : h_(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                         nullptr))
    {
    }
    ~OpenWithoutDeleteSharing()
    {
        if (Valid()) CloseHandle(h_);
    }
    bool Valid() const { return h_ != INVALID_HANDLE_VALUE; }

private:
    HANDLE h_;
};

// Maps a copy of this program as an image, as a running program or loaded DLL
// is: it can then be renamed but neither replaced nor deleted.
class MappedImage {
public:
    explicit MappedImage(const std::string& path) : m_(LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_IMAGE_RESOURCE)) {}
    ~MappedImage()
    {
        if (m_) FreeLibrary(m_);
    }
    bool Valid() const { return m_ != nullptr; }

private:
    HMODULE m_;
};

}  // namespace

TEST(ParentDirectories, CreatesEveryDirectoryAboveTheLastSeparator)
{
    for (auto create : {&EnsureParentDirectories, &CreateParentDirectories}) {
        ScratchDir dir("parents");
        create(dir / "a\\b\\f.txt");
        create(dir / "m/n\\o");
        create(dir / "x\\y\\");
        EXPECT_EQ(Tree(dir.Path()), (std::map<std::string, std::string>{{"a", "<dir>"},
                                                                         {"a\\b", "<dir>"},
                                                                         {"m", "<dir>"},
                                                                         {"m\\n", "<dir>"},
                                                                         {"x", "<dir>"},
                                                                         {"x\\y", "<dir>"}}));
        char previous[MAX_PATH];
        GetCurrentDirectoryA(MAX_PATH, previous);
        SetCurrentDirectoryA(dir.Path().c_str());
        create("plain.txt");
        SetCurrentDirectoryA(previous);
        EXPECT_FALSE(PathExists(dir / "plain.txt"));
    }
}

TEST(MoveFileIntoPlace, MovesOverReadOnlyTargetIntoNewDirectories)
{
    ScratchDir dir("move");
    WriteBytes(dir / "new.part", "new");
    ASSERT_TRUE(MoveFileIntoPlace(dir / "new.part", dir / "sub\\deeper\\file.bin"));
    EXPECT_EQ(ReadBytes(dir / "sub\\deeper\\file.bin"), "new");

    WriteBytes(dir / "newer.part", "newer");
    SetFileAttributesA((dir / "sub\\deeper\\file.bin").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    ASSERT_TRUE(MoveFileIntoPlace(dir / "newer.part", dir / "sub\\deeper\\file.bin"));
    EXPECT_EQ(Tree(dir.Path()), (std::map<std::string, std::string>{
                                    {"sub", "<dir>"}, {"sub\\deeper", "<dir>"}, {"sub\\deeper\\file.bin", "newer"}}));
}

TEST(MoveFileIntoPlace, MissingSourceLeavesTheTarget)
{
    ScratchDir dir("move-missing");
    WriteBytes(dir / "file.bin", "good");
    EXPECT_FALSE(MoveFileIntoPlace(dir / "absent.part", dir / "file.bin"));
    EXPECT_EQ(Tree(dir.Path()), (std::map<std::string, std::string>{{"file.bin", "good"}}));
}

TEST(MoveFileIntoPlace, AFolderInTheFilesPlaceStays)
{
    ScratchDir dir("move-folder");
    CreateDirectoryA((dir / "file.bin").c_str(), nullptr);
    WriteBytes(dir / "file.bin\\mine.txt", "player's");
    WriteBytes(dir / "file.bin.part", "new");
    EXPECT_FALSE(MoveFileIntoPlace(dir / "file.bin.part", dir / "file.bin"));
    EXPECT_EQ(Tree(dir.Path()), (std::map<std::string, std::string>{
                                    {"file.bin", "<dir>"}, {"file.bin\\mine.txt", "player's"}, {"file.bin.part", "new"}}));
}

TEST(MoveFileIntoPlace, BusyTargetGoesToOld)
{
    ScratchDir dir("move-busy");
    const std::string program = ReadBytes(checks::ThisProgramPath());
    ASSERT_TRUE(CopyFileA(checks::ThisProgramPath().c_str(), (dir / "qvx.dll").c_str(), FALSE));
    WriteBytes(dir / "qvx.dll.old", "stale leftover");
    WriteBytes(dir / "qvx.dll.part", "new build");
    MappedImage image(dir / "qvx.dll");
    ASSERT_TRUE(image.Valid());

    EXPECT_TRUE(MoveFileIntoPlace(dir / "qvx.dll.part", dir / "qvx.dll"));
    EXPECT_EQ(ReadBytes(dir / "qvx.dll"), "new build");
    EXPECT_TRUE(ReadBytes(dir / "qvx.dll.old") == program) << "the mapped file is kept under .old";
    EXPECT_FALSE(PathExists(dir / "qvx.dll.part"));
}

TEST(MoveFileIntoPlace, FailedRetryPutsTheTargetBack)
{
    ScratchDir dir("move-retry");
    WriteBytes(dir / "file.bin", "good");
    WriteBytes(dir / "file.bin.part", "new");
    {
        // A source that cannot be moved fails both attempts.
        OpenWithoutDeleteSharing holder(dir / "file.bin.part");
        ASSERT_TRUE(holder.Valid());
        EXPECT_FALSE(MoveFileIntoPlace(dir / "file.bin.part", dir / "file.bin"));
    }
    EXPECT_EQ(Tree(dir.Path()), (std::map<std::string, std::string>{{"file.bin", "good"}, {"file.bin.part", "new"}}));
}

TEST(MoveFileIntoPlace, TargetOpenWithoutDeleteSharing)
{
    // Neither replaced nor renamed while it is open so (Windows and Wine alike).
    ScratchDir dir("move-open");
    WriteBytes(dir / "file.bin", "good");
    WriteBytes(dir / "file.bin.part", "new");
    {
        OpenWithoutDeleteSharing holder(dir / "file.bin");
        ASSERT_TRUE(holder.Valid());
        EXPECT_FALSE(MoveFileIntoPlace(dir / "file.bin.part", dir / "file.bin"));
    }
    EXPECT_EQ(Tree(dir.Path()), (std::map<std::string, std::string>{{"file.bin", "good"}, {"file.bin.part", "new"}}));
}

TEST(LinkOrCopyFile, HardLinkSharesTheData)
{
    ScratchDir dir("link");
    WriteBytes(dir / "source.grf", "archive");
    WriteBytes(dir / "target.grf", "older");
    SetFileAttributesA((dir / "target.grf").c_str(), FILE_ATTRIBUTE_READONLY);
    ASSERT_TRUE(LinkOrCopyFile(dir / "source.grf", dir / "profile\\target.grf"));
    ASSERT_TRUE(LinkOrCopyFile(dir / "source.grf", dir / "target.grf"));
    EXPECT_EQ(LinkCount(dir / "target.grf"), 3u);
    EXPECT_EQ(LinkCount(dir / "source.grf"), 3u);
    EXPECT_EQ(Tree(dir.Path()), (std::map<std::string, std::string>{{"source.grf", "archive"},
                                                                     {"target.grf", "archive"},
                                                                     {"profile", "<dir>"},
                                                                     {"profile\\target.grf", "archive"}}));
}

TEST(LinkOrCopyFile, LinkCountIsTwo)
{
    ScratchDir dir("link2");
    WriteBytes(dir / "a", "x");
    ASSERT_TRUE(LinkOrCopyFile(dir / "a", dir / "b"));
    EXPECT_EQ(LinkCount(dir / "b"), 2u);
}

TEST(LinkOrCopyFile, CopiesAcrossVolumes)
{
    // /dev/shm is another file system than the prefix: no hard link reaches it.
    const std::string source = "Z:\\dev\\shm\\verandel-link-" + std::to_string(GetCurrentProcessId()) + ".grf";
    WriteBytes(source, "archive");
    if (!PathExists(source)) GTEST_SKIP() << "no second file system";
    ScratchDir dir("link-volume");
    WriteBytes(dir / "target.grf", "older");
    EXPECT_TRUE(LinkOrCopyFile(source, dir / "target.grf"));
    EXPECT_EQ(LinkCount(dir / "target.grf"), 1u);
    DeleteFileA(source.c_str());
    EXPECT_EQ(Tree(dir.Path()), (std::map<std::string, std::string>{{"target.grf", "archive"}}));
}

TEST(LinkOrCopyFile, FailuresLeaveTheTarget)
{
    ScratchDir dir("link-fail");
    WriteBytes(dir / "target.grf", "good");
    CreateDirectoryA((dir / "folder").c_str(), nullptr);
    WriteBytes(dir / "folder\\inside.txt", "kept");
    WriteBytes(dir / "source.grf", "new");

    EXPECT_FALSE(LinkOrCopyFile(dir / "absent.grf", dir / "target.grf"));
    EXPECT_FALSE(LinkOrCopyFile(dir / "source.grf", dir / "folder"));
    EXPECT_EQ(Tree(dir.Path()), (std::map<std::string, std::string>{{"target.grf", "good"},
                                                                     {"folder", "<dir>"},
                                                                     {"folder\\inside.txt", "kept"},
                                                                     {"source.grf", "new"}}));
}

TEST(LinkOrCopyFile, OntoItself)
{
    ScratchDir dir("link-self");
    WriteBytes(dir / "a.grf", "content");
    ASSERT_TRUE(LinkOrCopyFile(dir / "a.grf", dir / "b.grf"));
    EXPECT_TRUE(LinkOrCopyFile(dir / "a.grf", dir / "a.grf"));
    EXPECT_TRUE(LinkOrCopyFile(dir / "a.grf", dir / "b.grf"));
    EXPECT_TRUE(LinkOrCopyFile(dir / "b.grf", dir / "a.grf"));
    EXPECT_EQ(Tree(dir.Path()), (std::map<std::string, std::string>{{"a.grf", "content"}, {"b.grf", "content"}}));
    EXPECT_EQ(LinkCount(dir / "a.grf"), 2u);
}

TEST(LinkOrCopyFile, BusyTargetGoesToOld)
{
    ScratchDir dir("link-busy");
    const std::string program = ReadBytes(checks::ThisProgramPath());
    ASSERT_TRUE(CopyFileA(checks::ThisProgramPath().c_str(), (dir / "qvx.dll").c_str(), FALSE));
    WriteBytes(dir / "profile.dll", "realm build");
    MappedImage image(dir / "qvx.dll");
    ASSERT_TRUE(image.Valid());
    EXPECT_TRUE(LinkOrCopyFile(dir / "profile.dll", dir / "qvx.dll"));
    EXPECT_EQ(ReadBytes(dir / "qvx.dll"), "realm build");
    EXPECT_TRUE(ReadBytes(dir / "qvx.dll.old") == program);
    EXPECT_EQ(Tree(dir.Path()).size(), 3u);
}

TEST(RemoveDirectoryTree, RemovesEverything)
{
    ScratchDir dir("rmtree");
    EXPECT_FALSE(RemoveDirectoryTree(dir / "absent"));
    CreateParentDirectories(dir / "top\\a\\b\\c\\");
    WriteBytes(dir / "top\\f.txt", "1");
    WriteBytes(dir / "top\\a\\b\\ro.txt", "2");
    WriteBytes(dir / "top\\a\\b\\c\\hidden.txt", "3");
    SetFileAttributesA((dir / "top\\a\\b\\ro.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    SetFileAttributesA((dir / "top\\a\\b\\c\\hidden.txt").c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    EXPECT_TRUE(RemoveDirectoryTree(dir / "top"));
    EXPECT_FALSE(PathExists(dir / "top"));
}

TEST(RemoveDirectoryTree, FileInUseKeepsItsDirectories)
{
    ScratchDir dir("rmtree-busy");
    CreateParentDirectories(dir / "top\\a\\b\\");
    CreateParentDirectories(dir / "top\\other\\");
    WriteBytes(dir / "top\\a\\b\\busy.txt", "busy");
    WriteBytes(dir / "top\\a\\gone.txt", "x");
    WriteBytes(dir / "top\\other\\gone.txt", "x");
    {
        OpenWithoutDeleteSharing holder(dir / "top\\a\\b\\busy.txt");
        EXPECT_FALSE(RemoveDirectoryTree(dir / "top"));
    }
    EXPECT_EQ(Tree(dir / "top"),
              (std::map<std::string, std::string>{{"a", "<dir>"}, {"a\\b", "<dir>"}, {"a\\b\\busy.txt", "busy"}}));
}

TEST(RemoveDirectoryTree, NeverFollowsADirectoryLink)
{
    ScratchDir dir("rmtree-link");
    CreateParentDirectories(dir / "outside\\deep\\");
    WriteBytes(dir / "outside\\keep.txt", "keep");
    WriteBytes(dir / "outside\\deep\\keep2.txt", "keep");
    CreateParentDirectories(dir / "top\\real\\");
    WriteBytes(dir / "top\\real\\x.txt", "x");
    if (!checks::MakeDirectoryLink(dir / "top\\link", dir / "outside")) GTEST_SKIP() << "no directory links here";

    const bool removed = RemoveDirectoryTree(dir / "top");
    EXPECT_EQ(Tree(dir / "outside"), (std::map<std::string, std::string>{
                                         {"keep.txt", "keep"}, {"deep", "<dir>"}, {"deep\\keep2.txt", "keep"}}));
    if (UnderWine()) {
        // Wine resolves the link in every call that could remove it; it stays.
        EXPECT_FALSE(removed);
        EXPECT_EQ(Tree(dir / "top"), (std::map<std::string, std::string>{{"link", "<link>"}}));
    } else {
        EXPECT_TRUE(removed);
        EXPECT_FALSE(PathExists(dir / "top"));
    }
}

TEST(DeleteDirectoryTreeNoReparse, LeavesLinksAlone)
{
    ScratchDir dir("noreparse");
    CreateParentDirectories(dir / "outside\\");
    WriteBytes(dir / "outside\\keep.txt", "keep");
    CreateParentDirectories(dir / "top\\sub\\");
    WriteBytes(dir / "top\\sub\\x.txt", "x");
    WriteBytes(dir / "top\\y.txt", "y");
    WriteBytes(dir / "file.txt", "file");

    DeleteDirectoryTreeNoReparse(dir / "file.txt");
    DeleteDirectoryTreeNoReparse(dir / "absent");
    EXPECT_EQ(ReadBytes(dir / "file.txt"), "file");

    if (!checks::MakeDirectoryLink(dir / "top\\link", dir / "outside")) GTEST_SKIP() << "no directory links here";
    DeleteDirectoryTreeNoReparse(dir / "top\\link");
    DeleteDirectoryTreeNoReparse(dir / "top");
    EXPECT_EQ(Tree(dir / "top"), (std::map<std::string, std::string>{{"link", "<link>"}}));
    EXPECT_EQ(ReadBytes(dir / "outside\\keep.txt"), "keep");
}

TEST(MirrorDirectoryTree, TargetEndsAsTheSource)
{
    ScratchDir dir("mirror");
    CreateParentDirectories(dir / "src\\sub\\deeper\\");
    CreateParentDirectories(dir / "src\\was_file\\");
    WriteBytes(dir / "src\\a.lua", "a");
    WriteBytes(dir / "src\\sub\\b.lua", "b");
    WriteBytes(dir / "src\\sub\\deeper\\c.lua", "c");
    WriteBytes(dir / "src\\was_file\\d.lua", "d");
    WriteBytes(dir / "src\\was_dir", "e");

    CreateParentDirectories(dir / "dst\\extradir\\inner\\");
    CreateParentDirectories(dir / "dst\\was_dir\\");
    CreateParentDirectories(dir / "dst\\sub\\");
    WriteBytes(dir / "dst\\extradir\\inner\\x.lua", "x");
    WriteBytes(dir / "dst\\was_dir\\y.lua", "y");
    WriteBytes(dir / "dst\\was_file", "file");
    WriteBytes(dir / "dst\\a.lua", "old a");
    WriteBytes(dir / "dst\\a.lua.old", "leftover");
    WriteBytes(dir / "dst\\sub\\stale.lua", "stale");
    SetFileAttributesA((dir / "dst\\sub\\stale.lua").c_str(), FILE_ATTRIBUTE_READONLY);

    MirrorDirectoryTree(dir / "src", dir / "dst");
    EXPECT_EQ(Tree(dir / "dst"), Tree(dir / "src"));
    EXPECT_EQ(LinkCount(dir / "dst\\sub\\deeper\\c.lua"), 2u);

    MirrorDirectoryTree(dir / "src", dir / "src");
    EXPECT_EQ(Tree(dir / "src"), Tree(dir / "dst"));
}

TEST(MirrorDirectoryTree, MissingSourceKeepsTheTarget)
{
    ScratchDir dir("mirror-missing");
    CreateParentDirectories(dir / "dst\\sub\\");
    WriteBytes(dir / "dst\\sub\\x.lua", "x");
    WriteBytes(dir / "not_a_dir", "file");
    const auto before = Tree(dir.Path());
    MirrorDirectoryTree(dir / "absent", dir / "dst");
    MirrorDirectoryTree(dir / "not_a_dir", dir / "dst");
    MirrorDirectoryTree(dir / "absent", dir / "new_target");
    EXPECT_EQ(Tree(dir.Path()), before);
}

TEST(MirrorDirectoryTree, NeverEntersALinkInTheTarget)
{
    ScratchDir dir("mirror-link");
    CreateParentDirectories(dir / "outside\\");
    WriteBytes(dir / "outside\\keep.txt", "keep");
    CreateParentDirectories(dir / "src\\sub\\");
    WriteBytes(dir / "src\\sub\\b.lua", "b");
    CreateParentDirectories(dir / "dst\\");
    if (!checks::MakeDirectoryLink(dir / "dst\\sub", dir / "outside")) GTEST_SKIP() << "no directory links here";

    MirrorDirectoryTree(dir / "src", dir / "dst");
    EXPECT_EQ(Tree(dir / "outside"), (std::map<std::string, std::string>{{"keep.txt", "keep"}}));
    if (UnderWine()) {
        // The link cannot be removed there, so the directory is left unmirrored.
        EXPECT_EQ(Tree(dir / "dst"), (std::map<std::string, std::string>{{"sub", "<link>"}}));
    } else {
        EXPECT_EQ(Tree(dir / "dst"), Tree(dir / "src"));
    }
}

TEST(CopyFileWithFallback, CopiesAndFailsCleanly)
{
    ScratchDir dir("copy");
    WriteBytes(dir / "DATA_LEGACY.INI", "legacy");
    WriteBytes(dir / "DATA.INI", "previous");
    ASSERT_TRUE(CopyFileWithFallback(dir / "DATA_LEGACY.INI", dir / "DATA.INI"));
    EXPECT_EQ(ReadBytes(dir / "DATA.INI"), "legacy");
    EXPECT_EQ(LinkCount(dir / "DATA.INI"), 1u) << "a copy, not a link";

    EXPECT_FALSE(CopyFileWithFallback(dir / "absent.ini", dir / "DATA.INI"));
    EXPECT_FALSE(CopyFileWithFallback(dir / "DATA_LEGACY.INI", dir / "no\\such\\dir.ini"));
    {
        HANDLE locked = CreateFileA((dir / "DATA_LEGACY.INI").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                                    nullptr);
        ASSERT_NE(locked, INVALID_HANDLE_VALUE);
        EXPECT_FALSE(CopyFileWithFallback(dir / "DATA_LEGACY.INI", dir / "DATA.INI"));
        CloseHandle(locked);
    }
    EXPECT_EQ(Tree(dir.Path()),
              (std::map<std::string, std::string>{{"DATA_LEGACY.INI", "legacy"}, {"DATA.INI", "legacy"}}));
}

TEST(CopyFileWithFallback, OntoItselfKeepsTheContent)
{
    ScratchDir dir("copy-self");
    WriteBytes(dir / "a.ini", "content");
    ASSERT_TRUE(CreateHardLinkA((dir / "b.ini").c_str(), (dir / "a.ini").c_str(), nullptr));
    EXPECT_TRUE(CopyFileWithFallback(dir / "a.ini", dir / "a.ini"));
    EXPECT_TRUE(CopyFileWithFallback(dir / "a.ini", dir / "b.ini"));
    EXPECT_EQ(Tree(dir.Path()), (std::map<std::string, std::string>{{"a.ini", "content"}, {"b.ini", "content"}}));
}

TEST(ExtractResourceToFile, WritesTheResourceBytes)
{
    ScratchDir dir("extract");
    WriteBytes(dir / "DDraw.dll", "older");
    SetFileAttributesA((dir / "DDraw.dll").c_str(), FILE_ATTRIBUTE_READONLY);
    ASSERT_TRUE(ExtractResourceToFile(IDR_CONFIG_LIVE, dir / "DDraw.dll"));
    EXPECT_EQ(ReadBytes(dir / "DDraw.dll"), LoadResourceString(IDR_CONFIG_LIVE));

    EXPECT_FALSE(ExtractResourceToFile(4242, dir / "DDraw.dll"));
    EXPECT_FALSE(ExtractResourceToFile(4242, dir / "absent.dll"));
    EXPECT_FALSE(ExtractResourceToFile(IDR_CONFIG_LIVE, dir / "no\\such\\file.dll"));
    EXPECT_EQ(Tree(dir.Path()),
              (std::map<std::string, std::string>{{"DDraw.dll", LoadResourceString(IDR_CONFIG_LIVE)}}));
}

TEST(ExtractResourceToFile, BusyTargetStaysWhole)
{
    ScratchDir dir("extract-busy");
    WriteBytes(dir / "DDraw.dll", "in use");
    {
        OpenWithoutDeleteSharing holder(dir / "DDraw.dll");
        EXPECT_FALSE(ExtractResourceToFile(IDR_CONFIG_LIVE, dir / "DDraw.dll"));
    }
    EXPECT_EQ(Tree(dir.Path()), (std::map<std::string, std::string>{{"DDraw.dll", "in use"}}));
}

namespace {

// Files outside the tree under test that links inside it point to. They are
// read-only, so that attributes cleared through a link show as well.
class OutsideFiles {
public:
    OutsideFiles() : dir_("links-outside")
    {
        for (const char* name : {"a.dat", "b.dat"}) {
            WriteBytes(dir_ / name, std::string("outside ") + name);
            SetFileAttributesA((dir_ / name).c_str(), FILE_ATTRIBUTE_READONLY);
        }
    }
    ~OutsideFiles()
    {
        for (const char* name : {"a.dat", "b.dat"}) SetFileAttributesA((dir_ / name).c_str(), FILE_ATTRIBUTE_NORMAL);
    }
    std::string operator/(const std::string& name) const { return dir_ / name; }
    void ExpectIntact() const
    {
        for (const char* name : {"a.dat", "b.dat"}) {
            EXPECT_EQ(ReadBytes(dir_ / name), std::string("outside ") + name);
            EXPECT_NE(GetFileAttributesA((dir_ / name).c_str()) & FILE_ATTRIBUTE_READONLY, 0u)
                << name << ": attributes were changed through a link";
        }
    }

private:
    ScratchDir dir_;
};

}  // namespace

// Under Wine a Unix link to a file looks like a plain file and every call on
// it acts on the file it points to: removing a tree must leave such links.
TEST(FileLinks, TreeOperationsNeverReachThroughThem)
{
    struct Case {
        const char* name;
        void (*run)(const ScratchDir& dir);
    };
    const Case cases[] = {
        {"RemoveDirectoryTree", [](const ScratchDir& dir) { EXPECT_FALSE(RemoveDirectoryTree(dir / "top")); }},
        {"DeleteDirectoryTreeNoReparse", [](const ScratchDir& dir) { DeleteDirectoryTreeNoReparse(dir / "top"); }},
        {"MirrorDirectoryTree",
         [](const ScratchDir& dir) {
             CreateDirectoryA((dir / "empty").c_str(), nullptr);
             MirrorDirectoryTree(dir / "empty", dir / "top");
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OutsideFiles outside;
        ScratchDir dir("links-tree");
        CreateParentDirectories(dir / "top\\sub\\");
        WriteBytes(dir / "top\\plain.txt", "plain");
        WriteBytes(dir / "top\\sub\\deep.txt", "deep");
        if (!checks::MakeFileLink(dir / "top\\link.dat", outside / "a.dat") ||
            !checks::MakeFileLink(dir / "top\\sub\\link.dat", outside / "b.dat")) {
            GTEST_SKIP() << "no file links here";
        }
        c.run(dir);
        outside.ExpectIntact();
        if (UnderWine()) {
            EXPECT_EQ(Tree(dir / "top"), (std::map<std::string, std::string>{{"link.dat", "outside a.dat"},
                                                                               {"sub", "<dir>"},
                                                                               {"sub\\link.dat", "outside b.dat"}}));
        }
    }
}

TEST(FileLinks, ALinkedTargetIsNeverReplaced)
{
    struct Case {
        const char* name;
        bool (*run)(const ScratchDir& dir, const std::string& target);
    };
    const Case cases[] = {
        {"LinkOrCopyFile",
         [](const ScratchDir& dir, const std::string& t) { return LinkOrCopyFile(dir / "new.dat", t); }},
        {"MoveFileIntoPlace",
         [](const ScratchDir& dir, const std::string& t) { return MoveFileIntoPlace(dir / "new.dat", t); }},
        {"ExtractResourceToFile",
         [](const ScratchDir&, const std::string& t) { return ExtractResourceToFile(IDR_CONFIG_LIVE, t); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OutsideFiles outside;
        ScratchDir dir("links-target");
        WriteBytes(dir / "new.dat", "new");
        if (!checks::MakeFileLink(dir / "link.dat", outside / "a.dat")) GTEST_SKIP() << "no file links here";
        EXPECT_FALSE(c.run(dir, dir / "link.dat"));
        outside.ExpectIntact();
        EXPECT_EQ(ReadBytes(dir / "link.dat"), "outside a.dat");
        EXPECT_EQ(ReadBytes(dir / "new.dat"), "new");
    }
}

// The busy-file rule deletes "<target>.old" before it moves the target there.
TEST(FileLinks, ALinkAtTheOldNameStopsTheBusyFileRule)
{
    for (auto place : {&MoveFileIntoPlace, &LinkOrCopyFile}) {
        OutsideFiles outside;
        ScratchDir dir("links-old");
        const std::string program = ReadBytes(checks::ThisProgramPath());
        ASSERT_TRUE(CopyFileA(checks::ThisProgramPath().c_str(), (dir / "qvx.dll").c_str(), FALSE));
        WriteBytes(dir / "qvx.dll.part", "new build");
        if (!checks::MakeFileLink(dir / "qvx.dll.old", outside / "a.dat")) GTEST_SKIP() << "no file links here";
        {
            MappedImage image(dir / "qvx.dll");
            ASSERT_TRUE(image.Valid());
            EXPECT_FALSE(place(dir / "qvx.dll.part", dir / "qvx.dll"));
        }
        outside.ExpectIntact();
        EXPECT_TRUE(ReadBytes(dir / "qvx.dll") == program);
        EXPECT_EQ(ReadBytes(dir / "qvx.dll.old"), "outside a.dat");
    }
}

TEST(DeleteFileNotThroughLink, DeletesOnlyAFileOfItsOwn)
{
    OutsideFiles outside;
    ScratchDir dir("delete-own");
    WriteBytes(dir / "plain.txt", "plain");
    SetFileAttributesA((dir / "plain.txt").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    WriteBytes(dir / "real.dat", "real");
    WriteBytes(dir / "held.dat", "held");
    CreateDirectoryA((dir / "folder").c_str(), nullptr);
    if (!checks::MakeFileLink(dir / "link.dat", outside / "a.dat") ||
        !checks::MakeFileLink(dir / "alias.dat", dir / "real.dat")) {
        GTEST_SKIP() << "no file links here";
    }
    const bool linksShowAsFiles = UnderWine();

    struct Case {
        const char* name;
        FileDeletion result;
    };
    const Case cases[] = {
        {"plain.txt", FileDeletion::Deleted},
        {"absent.txt", FileDeletion::NoFile},
        {"folder", FileDeletion::NoFile},
        {"held.dat", FileDeletion::Failed},
        // A Windows symbolic link can be deleted by itself.
        {"link.dat", linksShowAsFiles ? FileDeletion::LeftLink : FileDeletion::Deleted},
        {"alias.dat", linksShowAsFiles ? FileDeletion::LeftLink : FileDeletion::Deleted},
    };
    {
        OpenWithoutDeleteSharing holder(dir / "held.dat");
        for (const Case& c : cases) EXPECT_EQ(DeleteFileNotThroughLink(dir / c.name), c.result) << c.name;
    }
    outside.ExpectIntact();
    std::map<std::string, std::string> expected = {{"real.dat", "real"}, {"held.dat", "held"}, {"folder", "<dir>"}};
    if (linksShowAsFiles) {
        expected["link.dat"] = "outside a.dat";
        expected["alias.dat"] = "real";
    }
    EXPECT_EQ(Tree(dir.Path()), expected);
}
