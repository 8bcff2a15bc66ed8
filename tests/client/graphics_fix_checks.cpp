// The graphics fix in a scratch game directory: the question that follows the
// state, the stand-in wrapper files written or removed, the option file's
// DEVICECNT, the client's remembered device, and a failed install or removal
// that leaves the fix as it was.
#include "client/action_boxes.h"
#include "client/client_prep_support.h"
#include "client/graphics_fix.h"
#include "core/foundation_support.h"
#include "core/identity.h"
#include "resource_ids.h"

#include <gtest/gtest.h>

#include <cstdlib>

using checks::IsDir;
using checks::PathExists;
using checks::ReadBytes;
using checks::RecordedBox;
using checks::ScratchDir;
using checks::ScratchRegistry;
using checks::WriteBytes;

namespace {

const char kAnswerVariable[] = "VERANDEL_FIX_ANSWER";
// "resource" (the program's own resources), "standin", or "standin-fail=<id>".
const char kWriterVariable[] = "VERANDEL_FIX_WRITER";
const char kRegistryVariable[] = "VERANDEL_FIX_HKCU";
const char kBoxesFile[] = "boxes.txt";
const unsigned long long kOwner = 0x1234;

const char kClientKey[] = "Software\\Gravity Soft\\Ragnarok";
const char kQuestionTitle[] = "Verandel - DirectX Graphics Fix";
const unsigned kQuestionStyle = MB_YESNO | MB_ICONQUESTION;
const char kEnableQuestion[] =
    "Verandel - Windows 11 / Modern GPU Graphics Fix (dgVoodoo2)\n\nThis tool installs the dgVoodoo2 DirectX wrapper "
    "(DDraw.dll, D3DImm.dll, dgVoodoo.conf) and sets Direct3D T&L HAL.\n\nRecommended for:\n- Missing ground / floor "
    "textures on custom maps (e.g. Cindervault boss map)\n- Graphics glitches / black screens on Windows 10 & 11 "
    "with modern GPUs (Intel Arc/Iris, NVIDIA RTX, AMD Radeon)\n\nIMPORTANT:\nIf you play on Linux or Steam Deck "
    "(via Wine / Lutris / Proton), this fix is NOT needed and can cause crashes. Do not enable it on "
    "Linux.\n\nDo you want to enable this graphics fix now?";
const char kDisableQuestion[] =
    "Verandel - Windows 11 / DirectX Graphics Fix\n\nThe dgVoodoo2 graphics wrapper is currently ACTIVE in your "
    "game directory.\n\nDo you want to DISABLE and remove this fix?\n(This will delete DDraw.dll, D3DImm.dll, "
    "dgVoodoo.conf, and restore standard DirectDraw HAL).";
const char kEnabledText[] =
    "DirectX Graphics Fix (dgVoodoo2) has been ENABLED!\n\nDDraw.dll, D3DImm.dll, and dgVoodoo.conf were "
    "installed.\nDirect3D T&L HAL has been enabled in your graphics configuration.\n\nYou may now click PLAY to "
    "launch the game.";
const char kExtractionErrorText[] =
    "Failed to extract graphics fix files.\nPlease check write permissions to the game folder or run the launcher "
    "as Administrator.";
const char kDisabledText[] =
    "DirectX Graphics Fix has been DISABLED.\n\ndgVoodoo2 files have been removed and standard DirectDraw HAL "
    "restored.";
const char kRemovalErrorText[] =
    "Failed to remove graphics fix files.\nPlease close the game and try again, or run the launcher as "
    "Administrator.";

const char* const kWrapperFiles[] = {"DDraw.dll", "D3DImm.dll", "dgVoodoo.conf"};

std::string StandinContent(int id)
{
    return "stand-in wrapper file " + std::to_string(id) + "\r\n";
}

// A short option file (the launch's rules would replace it whole): only the
// DEVICECNT value may change, the menu-icon 0 and everything else stays.
const std::string kOptionHead =
    "CmdOnOffList[\"/notrade\"] = 0\r\nOptionInfoList[\"bShowMenuIcon\"] = 0\r\nOptionInfoList[\"DEVICECNT\"] =   ";
const std::string kOptionTail = "\r\nOptionInfoList[\"MODECNT\"] = 2\r\n";
const std::string kNoDeviceCount = "CmdOnOffList[\"/notrade\"] = 0\r\nOptionInfoList[\"MODECNT\"] = 2";

std::string LogMessages(const std::string& dir)
{
    std::string out;
    for (const std::string& line : checks::LogMessages(dir)) out += line + "\n";
    return out;
}

struct FixRun {
    bool ran = false;
    std::vector<RecordedBox> boxes;
    std::string log;
};

FixRun RunToggle(const ScratchDir& game, int answer, const std::string& writer, const ScratchRegistry& registry)
{
    SetEnvironmentVariableA(kAnswerVariable, std::to_string(answer).c_str());
    SetEnvironmentVariableA(kWriterVariable, writer.c_str());
    SetEnvironmentVariableA(kRegistryVariable, registry.Root().c_str());
    FixRun run;
    DeleteFileA((game / kBoxesFile).c_str());
    run.ran = checks::RunCheckInCopy(game.Path(), "QVX_Launcher.exe", "FixInGameDirectory.DISABLED_Run") == 0;
    run.boxes = checks::ReadRecordedBoxes(game / kBoxesFile);
    run.log = LogMessages(game.Path());
    return run;
}

void ExpectBoxes(const std::vector<RecordedBox>& boxes, const std::vector<RecordedBox>& expected)
{
    ASSERT_EQ(boxes.size(), expected.size());
    for (size_t i = 0; i < boxes.size(); ++i) {
        SCOPED_TRACE("box " + std::to_string(i));
        EXPECT_EQ(boxes[i].owner, kOwner);
        EXPECT_EQ(boxes[i].title, expected[i].title);
        EXPECT_EQ(boxes[i].style, expected[i].style);
        EXPECT_EQ(boxes[i].text, expected[i].text);
    }
}

RecordedBox Box(const std::string& title, unsigned style, const std::string& text)
{
    RecordedBox box;
    box.title = title;
    box.style = style;
    box.text = text;
    return box;
}

bool WrapperEmbedded()
{
    return FindResourceA(nullptr, MAKEINTRESOURCEA(IDR_WRAPPER_DDRAW), MAKEINTRESOURCEA(10)) != nullptr;
}

// The bytes of one of this program's RCDATA resources.
std::string ResourceBytes(int id)
{
    HRSRC info = FindResourceA(nullptr, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(10));
    if (info == nullptr) return std::string();
    const char* bytes = static_cast<const char*>(LockResource(LoadResource(nullptr, info)));
    return bytes == nullptr ? std::string() : std::string(bytes, SizeofResource(nullptr, info));
}

void InstallStandinWrapper(const ScratchDir& game)
{
    for (const char* name : kWrapperFiles) WriteBytes(game / name, std::string("installed ") + name);
}

}  // namespace

// The copy's side: one click on FIX with the answer and the writer the
// environment names.
TEST(FixInGameDirectory, DISABLED_Run)
{
    ASSERT_TRUE(checks::RedirectCurrentUser(checks::EnvValue(kRegistryVariable)));
    const std::string dir = GetLauncherDir();
    checks::RecordActionBoxes(dir + "\\" + kBoxesFile, std::atoi(checks::EnvValue(kAnswerVariable).c_str()));
    const std::string writer = checks::EnvValue(kWriterVariable);
    if (writer.rfind("standin", 0) == 0) {
        const size_t eq = writer.find('=');
        const int failing = eq == std::string::npos ? 0 : std::atoi(writer.c_str() + eq + 1);
        SetWrapperFileWriterForChecks([failing](int id, const std::string& path) {
            if (id == failing) return false;
            WriteBytes(path, StandinContent(id));
            return true;
        });
    }
    ToggleGraphicsFix(reinterpret_cast<HWND>(kOwner));
}

// The question follows DDraw.dll alone (a folder of that name counts), and
// any answer but Yes changes nothing, not even the log.
TEST(GraphicsFix, OnlyYesToTheStatesQuestionActs)
{
    enum class Ddraw { kAbsent, kFile, kFolder };
    struct Case {
        Ddraw ddraw;
        int answer;
        const char* question;
    };
    const Case cases[] = {
        {Ddraw::kAbsent, IDNO, kEnableQuestion},   {Ddraw::kAbsent, IDCANCEL, kEnableQuestion},
        {Ddraw::kFile, IDNO, kDisableQuestion},    {Ddraw::kFolder, IDNO, kDisableQuestion},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(static_cast<int>(c.ddraw)) + " answered " + std::to_string(c.answer));
        ScratchDir game("fix-ask");
        ScratchRegistry registry("fix-ask");
        registry.SetString(kClientKey, "DEVICENAME", "Direct3D T&L HAL");
        CreateDirectoryA((game / "savedata").c_str(), nullptr);
        const std::string options = kOptionHead + "1" + kOptionTail;
        WriteBytes(game / "savedata\\OptionInfo.lua", options);
        if (c.ddraw == Ddraw::kFile) WriteBytes(game / "DDraw.dll", "installed DDraw.dll");
        if (c.ddraw == Ddraw::kFolder) CreateDirectoryA((game / "DDraw.dll").c_str(), nullptr);

        const FixRun run = RunToggle(game, c.answer, "standin", registry);
        ASSERT_TRUE(run.ran);
        ExpectBoxes(run.boxes, {Box(kQuestionTitle, kQuestionStyle, c.question)});
        EXPECT_FALSE(PathExists(game / "launcher.log"));
        EXPECT_EQ(ReadBytes(game / "savedata\\OptionInfo.lua"), options);
        EXPECT_EQ(PathExists(game / "DDraw.dll"), c.ddraw != Ddraw::kAbsent);
        EXPECT_FALSE(PathExists(game / "D3DImm.dll"));
        EXPECT_EQ(registry.GetString(kClientKey, "DEVICENAME"), "Direct3D T&L HAL");
    }
}

// Enabling writes the three files and then only the DEVICECNT value: a key
// that is missing gains its line unless the file is empty, and the savedata
// folder is never created.
TEST(GraphicsFix, EnableWritesTheWrapperAndSelectsItsDevice)
{
    struct Case {
        const char* name;
        bool savedata;
        bool optionFile;
        std::string before;
        std::string after;  // the option file afterwards
    };
    const Case cases[] = {
        {"value 0", true, true, kOptionHead + "0" + kOptionTail, kOptionHead + "1" + kOptionTail},
        {"value 1", true, true, kOptionHead + "1" + kOptionTail, kOptionHead + "1" + kOptionTail},
        {"no key", true, true, kNoDeviceCount, kNoDeviceCount + "\r\nOptionInfoList[\"DEVICECNT\"] = 1\r\n"},
        {"empty file", true, true, "", ""},
        {"no file", true, false, "", ""},
        {"no savedata", false, false, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchDir game("fix-on");
        ScratchRegistry registry("fix-on");
        if (c.savedata) CreateDirectoryA((game / "savedata").c_str(), nullptr);
        if (c.optionFile) WriteBytes(game / "savedata\\OptionInfo.lua", c.before);
        // A read-only leftover of an earlier install is overwritten.
        WriteBytes(game / "D3DImm.dll", "leftover");
        SetFileAttributesA((game / "D3DImm.dll").c_str(), FILE_ATTRIBUTE_READONLY);

        const FixRun run = RunToggle(game, IDYES, "standin", registry);
        ASSERT_TRUE(run.ran);
        ExpectBoxes(run.boxes, {Box(kQuestionTitle, kQuestionStyle, kEnableQuestion),
                                Box("Verandel - Fix Enabled", MB_OK | MB_ICONINFORMATION, kEnabledText)});
        EXPECT_EQ(run.log, "[SUCCESS] Installed DirectX fix (dgVoodoo2) and set DEVICECNT = 1.\n");
        EXPECT_EQ(ReadBytes(game / "DDraw.dll"), StandinContent(IDR_WRAPPER_DDRAW));
        EXPECT_EQ(ReadBytes(game / "D3DImm.dll"), StandinContent(IDR_WRAPPER_D3DIMM));
        EXPECT_EQ(ReadBytes(game / "dgVoodoo.conf"), StandinContent(IDR_WRAPPER_CONF));
        EXPECT_EQ(IsDir(game / "savedata"), c.savedata);
        EXPECT_EQ(PathExists(game / "savedata\\OptionInfo.lua"), c.savedata);
        EXPECT_EQ(ReadBytes(game / "savedata\\OptionInfo.lua"), c.after);
    }
}

// Any of the three files that cannot be written fails the whole install: no
// wrapper file stays (a lone DDraw.dll would make every launch select the
// wrapper's device) and the option file is not touched.
TEST(GraphicsFix, FailedInstallLeavesNoWrapperFile)
{
    std::vector<std::string> writers = {"standin-fail=213", "standin-fail=214", "standin-fail=215"};
    // The normal build carries no wrapper: its own resources are what fails.
    if (!WrapperEmbedded()) writers.insert(writers.begin(), "resource");
    for (const std::string& writer : writers) {
        SCOPED_TRACE(writer);
        ScratchDir game("fix-fail");
        ScratchRegistry registry("fix-fail");
        CreateDirectoryA((game / "savedata").c_str(), nullptr);
        const std::string options = kOptionHead + "0" + kOptionTail;
        WriteBytes(game / "savedata\\OptionInfo.lua", options);

        const FixRun run = RunToggle(game, IDYES, writer, registry);
        ASSERT_TRUE(run.ran);
        ExpectBoxes(run.boxes, {Box(kQuestionTitle, kQuestionStyle, kEnableQuestion),
                                Box("Verandel - Error", MB_OK | MB_ICONERROR, kExtractionErrorText)});
        EXPECT_EQ(run.log, "[ERROR] Failed to extract dgVoodoo resources to game directory.\n");
        for (const char* name : kWrapperFiles) EXPECT_FALSE(PathExists(game / name)) << name;
        EXPECT_EQ(ReadBytes(game / "savedata\\OptionInfo.lua"), options);
    }
}

// A build given the wrapper's folder embeds its files, and enabling writes
// them unchanged.
TEST(GraphicsFix, EmbeddedWrapperIsWrittenByteForByte)
{
    if (!WrapperEmbedded()) GTEST_SKIP() << "built without the wrapper's files";
    ScratchDir game("fix-embedded");
    ScratchRegistry registry("fix-embedded");
    const FixRun run = RunToggle(game, IDYES, "resource", registry);
    ASSERT_TRUE(run.ran);
    EXPECT_EQ(run.log, "[SUCCESS] Installed DirectX fix (dgVoodoo2) and set DEVICECNT = 1.\n");
    const int ids[] = {IDR_WRAPPER_DDRAW, IDR_WRAPPER_D3DIMM, IDR_WRAPPER_CONF};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_FALSE(ResourceBytes(ids[i]).empty()) << kWrapperFiles[i];
        EXPECT_EQ(ReadBytes(game / kWrapperFiles[i]), ResourceBytes(ids[i])) << kWrapperFiles[i];
    }
}

// Disabling deletes the three files (read-only ones too), sets DEVICECNT to 0
// without adding a missing key, and forgets only the wrapper's device names.
TEST(GraphicsFix, DisableRemovesTheWrapperAndItsDevice)
{
    struct Case {
        std::string before;
        std::string after;
        const char* deviceName;
        bool deviceKept;
    };
    const Case cases[] = {
        {kOptionHead + "1" + kOptionTail, kOptionHead + "0" + kOptionTail, "Direct3D T&L HAL", false},
        {kNoDeviceCount, kNoDeviceCount, "dgVoodoo TnL HAL", false},
        {kOptionHead + "1" + kOptionTail, kOptionHead + "0" + kOptionTail, "Direct3D HAL", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.deviceName);
        ScratchDir game("fix-off");
        ScratchRegistry registry("fix-off");
        registry.SetString(kClientKey, "DEVICENAME", c.deviceName);
        registry.SetString(kClientKey, "MODECNT", "2");
        CreateDirectoryA((game / "savedata").c_str(), nullptr);
        WriteBytes(game / "savedata\\OptionInfo.lua", c.before);
        InstallStandinWrapper(game);
        SetFileAttributesA((game / "D3DImm.dll").c_str(), FILE_ATTRIBUTE_READONLY);

        const FixRun run = RunToggle(game, IDYES, "standin", registry);
        ASSERT_TRUE(run.ran);
        ExpectBoxes(run.boxes, {Box(kQuestionTitle, kQuestionStyle, kDisableQuestion),
                                Box("Verandel - Fix Disabled", MB_OK | MB_ICONINFORMATION, kDisabledText)});
        EXPECT_EQ(run.log, "[INFO] Removed DirectX fix (dgVoodoo2) and restored DEVICECNT = 0.\n");
        for (const char* name : kWrapperFiles) EXPECT_FALSE(PathExists(game / name)) << name;
        EXPECT_EQ(ReadBytes(game / "savedata\\OptionInfo.lua"), c.after);
        EXPECT_EQ(registry.Has(kClientKey, "DEVICENAME"), c.deviceKept);
        EXPECT_EQ(registry.Has(kClientKey, "MODECNT"), c.deviceKept);
    }
}

// A DDraw.dll that cannot be deleted (held open by the client, or a folder)
// leaves the fix active: the removal is reported as failed and the option
// file and the remembered device stay as they were.
TEST(GraphicsFix, RemovalThatLeavesDdrawIsReportedAndChangesNothingElse)
{
    for (const bool folder : {false, true}) {
        SCOPED_TRACE(folder ? "DDraw.dll is a folder" : "DDraw.dll is held open");
        ScratchDir game("fix-busy");
        ScratchRegistry registry("fix-busy");
        registry.SetString(kClientKey, "DEVICENAME", "dgVoodoo TnL HAL");
        CreateDirectoryA((game / "savedata").c_str(), nullptr);
        const std::string options = kOptionHead + "1" + kOptionTail;
        WriteBytes(game / "savedata\\OptionInfo.lua", options);
        InstallStandinWrapper(game);
        HANDLE held = INVALID_HANDLE_VALUE;
        if (folder) {
            DeleteFileA((game / "DDraw.dll").c_str());
            CreateDirectoryA((game / "DDraw.dll").c_str(), nullptr);
        } else {
            held = CreateFileA((game / "DDraw.dll").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               0, nullptr);
            ASSERT_NE(held, INVALID_HANDLE_VALUE);
        }

        const FixRun run = RunToggle(game, IDYES, "standin", registry);
        if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
        ASSERT_TRUE(run.ran);
        ExpectBoxes(run.boxes, {Box(kQuestionTitle, kQuestionStyle, kDisableQuestion),
                                Box("Verandel - Error", MB_OK | MB_ICONERROR, kRemovalErrorText)});
        EXPECT_EQ(run.log, "[ERROR] Failed to remove DirectX fix (dgVoodoo2) files from game directory.\n");
        EXPECT_TRUE(PathExists(game / "DDraw.dll"));
        EXPECT_EQ(ReadBytes(game / "savedata\\OptionInfo.lua"), options);
        EXPECT_EQ(registry.GetString(kClientKey, "DEVICENAME"), "dgVoodoo TnL HAL");
    }
}

// The rule on texts alone.
TEST(GraphicsFix, OptionTextRule)
{
    struct Case {
        std::string text;
        char digit;
        bool appendMissing;
        std::string expected;
    };
    const Case cases[] = {
        {kOptionHead + "0 -- comment" + kOptionTail, '1', true, kOptionHead + "1" + kOptionTail},
        {kNoDeviceCount, '0', false, kNoDeviceCount},
        {"", '1', true, ""},
        // The last line without a line end is not edited.
        {"OptionInfoList[\"DEVICECNT\"] = 0", '1', true, "OptionInfoList[\"DEVICECNT\"] = 0"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(GraphicsFixOptionText(c.text, c.digit, c.appendMissing), c.expected) << c.text;
}
