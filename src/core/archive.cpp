#include "core/archive.h"

#include "core/archive_output.h"
#include "core/handles.h"
#include "core/path_limit.h"
#include "core/rgz_format.h"
#include "core/safe_path.h"
#include "core/zip_reader.h"

#include <windows.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

constexpr size_t kBlock = 1 << 20;
// The full client archive wraps everything in this folder; it is dropped so the
// files land directly in the game directory.
const char kFullClientPrefix[] = "Quillfen_Full\\";
// A gzip header longer than this (its name and comment) is refused.
constexpr size_t kGzipHeaderLimit = 256 * 1024;

UniqueHandle OpenForReading(const std::wstring& path)
{
    return UniqueHandle(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
}

// A seek, then plain reads: under Wine a read at an offset given in an
// OVERLAPPED costs about ten times as much on a handle opened for plain I/O.
bool ReadAt(HANDLE file, uint64_t offset, uint8_t* buffer, size_t n)
{
    LARGE_INTEGER at;
    at.QuadPart = LONGLONG(offset);
    if (!SetFilePointerEx(file, at, nullptr, FILE_BEGIN)) return false;
    while (n > 0) {
        DWORD chunk = n > kBlock ? DWORD(kBlock) : DWORD(n), got = 0;
        if (!ReadFile(file, buffer, chunk, &got, nullptr) || got != chunk) return false;
        buffer += chunk;
        n -= chunk;
    }
    return true;
}

bool FileSize(HANDLE file, uint64_t& size)
{
    LARGE_INTEGER li;
    if (!GetFileSizeEx(file, &li)) return false;
    size = uint64_t(li.QuadPart);
    return true;
}

// The system's path limit for one extraction: each entry's path below the
// destination, as the launcher's narrow calls will name it, leaves room for
// the longest name made of it (its staged name, or the caller's own).
class PathLimit {
public:
    PathLimit(const std::wstring& destination, const NameReserve& reserve)
        : base_(FullPathOf(destination.empty() ? L"." : destination)), reserve_(reserve)
    {
        if (!base_.empty() && base_.back() != L'\\') base_ += L'\\';
    }
    // name: relative, '\' separators; listName: as the caller's list gives it.
    bool FitsFile(const std::wstring& name, const std::string& listName)
    {
        return Fits(name, std::max(kBesideNameReserve, reserve_ ? reserve_(listName) : size_t(0)));
    }
    bool FitsFolder(const std::wstring& name) { return Fits(name, 0); }
    // Once the extraction is refused for it.
    void LogRefusal() const
    {
        if (!tooLong_.empty()) LogPathTooLong(tooLong_);
    }

private:
    // The first path that does not fit is kept for the log.
    bool Fits(const std::wstring& name, size_t reserve)
    {
        const std::wstring full = base_ + name;
        if (PathFits(full.size(), reserve)) return true;
        if (tooLong_.empty()) tooLong_ = full;
        return false;
    }

    std::wstring base_;
    NameReserve reserve_;
    std::wstring tooLong_;
};

// ---- ZIP ----

struct PlannedEntry {
    const ZipEntry* entry;
    std::wstring path;     // output path
    std::string listName;  // relative name for the caller's list
};

// Entry names are UTF-8 only when the archive says so (a ZIP entry's flag, a
// tar entry's pax path); any other name is system code page bytes, as the
// Windows tools that make the service's archives write them. Guessing from the
// bytes would misread names that happen to be valid UTF-8.
std::wstring EntryNameToWide(const std::string& name, bool utf8)
{
    if (name.empty()) return std::wstring();
    if (!utf8) return ToWide(name, CP_ACP);
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name.data(), int(name.size()), nullptr, 0) <= 0)
        return std::wstring();  // said to be UTF-8, but not: refused
    return ToWide(name, CP_UTF8);
}

// Every name is checked before anything is written, so a hostile archive
// leaves the destination untouched; so is every path against the system's
// limit, when a limit is given.
bool PlanZipEntries(const std::vector<ZipEntry>& entries, const std::wstring& destination,
                    PathLimit* limit, std::vector<PlannedEntry>& plan)
{
    for (const ZipEntry& e : entries) {
        std::wstring wide = EntryNameToWide(e.name, e.utf8Name);
        if (wide.empty() && !e.name.empty()) return false;
        std::replace(wide.begin(), wide.end(), L'/', L'\\');
        std::string utf8 = ToNarrow(wide, CP_UTF8);
        if (utf8.compare(0, sizeof kFullClientPrefix - 1, kFullClientPrefix) == 0) {
            utf8.erase(0, sizeof kFullClientPrefix - 1);
            wide = ToWide(utf8, CP_UTF8);
        }
        if (utf8.empty()) continue;  // the top folder's own entry
        if (!IsSafeRelativePath(utf8) || !KeepsItsNameOnWindows(utf8)) return false;
        std::string listName = ToNarrow(wide, CP_ACP);
        if (limit && !(e.IsDirectory() ? limit->FitsFolder(wide) : limit->FitsFile(wide, listName))) {
            limit->LogRefusal();
            return false;
        }
        plan.push_back({&e, JoinOutputPath(destination, wide), std::move(listName)});
    }
    return true;
}

bool DosTimeToFileTime(uint16_t date, uint16_t time, FILETIME& out)
{
    SYSTEMTIME st{};
    st.wYear = WORD(1980 + (date >> 9));
    st.wMonth = WORD((date >> 5) & 15);
    st.wDay = WORD(date & 31);
    st.wHour = WORD(time >> 11);
    st.wMinute = WORD((time >> 5) & 63);
    st.wSecond = WORD((time & 31) * 2);
    FILETIME local;
    // DOS times are local times.
    return SystemTimeToFileTime(&st, &local) && LocalFileTimeToFileTime(&local, &out);
}

// Room read beyond the name for a local extra field, which may be longer than
// the central directory's copy.
constexpr size_t kLocalExtraAllowance = 1024;

class ZipExtractor {
public:
    ZipExtractor(HANDLE archive, const ZipDirectoryLocation& where)
        : archive_(archive), where_(where), in_(kBlock), out_(kBlock) {}
    ~ZipExtractor()
    {
        if (inflaterReady_) inflateEnd(&z_);
    }
    ZipExtractor(const ZipExtractor&) = delete;
    ZipExtractor& operator=(const ZipExtractor&) = delete;
    // Streams the entry's data to out; true when it matched its size and CRC-32.
    bool WriteEntry(const ZipEntry& e, StagedFile& out);

private:
    bool HasInput() const { return aheadSize_ > 0 || left_ > 0; }
    bool NextInput(uint8_t*& data, size_t& n);
    bool Copy(StagedFile& out, uint32_t& crc);
    bool Inflate(const ZipEntry& e, StagedFile& out, uint32_t& crc);

    HANDLE archive_;
    ZipDirectoryLocation where_;
    std::vector<uint8_t> in_;
    std::vector<uint8_t> out_;
    // One inflater for all entries, reset for each rather than made anew.
    z_stream z_{};
    bool inflaterReady_ = false;
    // The entry's data still to come: first what arrived with its local
    // header, then reads of the archive.
    uint8_t* ahead_ = nullptr;
    size_t aheadSize_ = 0;
    uint64_t nextOffset_ = 0;
    uint64_t left_ = 0;
};

bool ZipExtractor::WriteEntry(const ZipEntry& e, StagedFile& out)
{
    if (e.flags & 0x0001) return false;  // encrypted
    // One read brings the local header and, for an entry that fits in the
    // block, its whole data: an archive of small entries costs one read an
    // entry rather than two. Nothing is read past the central directory's start.
    const size_t first = size_t(std::min<uint64_t>(
        {uint64_t(kBlock), where_.offset - e.localHeaderOffset,
         kZipLocalHeaderSize + e.name.size() + kLocalExtraAllowance + e.compressedSize}));
    uint64_t dataOffset = 0;
    std::string reason;
    if (!ReadAt(archive_, e.localHeaderOffset, in_.data(), first) ||
        !LocalDataOffset(in_.data(), first, e, where_, dataOffset, reason))
        return false;
    const uint64_t skip = dataOffset - e.localHeaderOffset;
    aheadSize_ = skip < first ? size_t(std::min<uint64_t>(first - skip, e.compressedSize)) : 0;
    ahead_ = in_.data() + (aheadSize_ > 0 ? skip : 0);
    nextOffset_ = dataOffset + aheadSize_;
    left_ = e.compressedSize - aheadSize_;

    uint32_t crc = uint32_t(crc32(0L, Z_NULL, 0));
    bool ok = false;
    if (e.method == 0) ok = e.compressedSize == e.uncompressedSize && Copy(out, crc);
    else if (e.method == Z_DEFLATED) ok = Inflate(e, out, crc);
    return ok && crc == e.crc32;
}

// The next block of the entry's data; it stays valid until the next call.
bool ZipExtractor::NextInput(uint8_t*& data, size_t& n)
{
    if (aheadSize_ > 0) {
        data = ahead_;
        n = aheadSize_;
        aheadSize_ = 0;
        return true;
    }
    n = left_ < kBlock ? size_t(left_) : kBlock;
    if (!ReadAt(archive_, nextOffset_, in_.data(), n)) return false;
    data = in_.data();
    nextOffset_ += n;
    left_ -= n;
    return true;
}

bool ZipExtractor::Copy(StagedFile& out, uint32_t& crc)
{
    while (HasInput()) {
        uint8_t* data = nullptr;
        size_t n = 0;
        if (!NextInput(data, n) || !out.Write(data, n)) return false;
        crc = uint32_t(crc32(crc, data, uInt(n)));
    }
    return true;
}

bool ZipExtractor::Inflate(const ZipEntry& e, StagedFile& out, uint32_t& crc)
{
    if (inflaterReady_ ? inflateReset(&z_) != Z_OK : inflateInit2(&z_, -15) != Z_OK) return false;
    inflaterReady_ = true;
    z_.avail_in = 0;
    uint64_t produced = 0;
    int rc = Z_OK;
    while (rc == Z_OK) {
        if (z_.avail_in == 0 && HasInput()) {
            uint8_t* data = nullptr;
            size_t n = 0;
            if (!NextInput(data, n)) break;
            z_.next_in = data;
            z_.avail_in = uInt(n);
        }
        // With all input taken, zlib may still hold output: only Z_BUF_ERROR
        // (no progress possible) means the data ends inside the stream.
        z_.next_out = out_.data();
        z_.avail_out = uInt(out_.size());
        rc = inflate(&z_, Z_NO_FLUSH);
        if (rc != Z_OK && rc != Z_STREAM_END) break;
        size_t n = out_.size() - z_.avail_out;
        produced += n;
        // More than the directory promised: damaged, stop before writing it.
        if (produced > e.uncompressedSize || !out.Write(out_.data(), n)) break;
        crc = uint32_t(crc32(crc, out_.data(), uInt(n)));
    }
    return rc == Z_STREAM_END && produced == e.uncompressedSize;
}

bool ReadCentralDirectory(HANDLE file, ZipDirectoryLocation& where, std::vector<ZipEntry>& entries)
{
    uint64_t size = 0;
    if (!FileSize(file, size)) return false;
    std::string reason;
    std::vector<uint8_t> tail(size_t(std::min<uint64_t>(size, kZipEndSearchSize)));
    if (!ReadAt(file, size - tail.size(), tail.data(), tail.size()) ||
        !FindZipEnd(tail.data(), tail.size(), size, where, reason))
        return false;
    if (where.zip64) {
        uint8_t record[kZip64EndRecordSize];
        if (!ReadAt(file, where.zip64RecordOffset, record, sizeof record) ||
            !ReadZip64End(record, sizeof record, size, where, reason))
            return false;
    }
    if (where.size > kZipMaxCentralDirectory) return false;
    std::vector<uint8_t> directory(size_t(where.size));
    return ReadAt(file, where.offset, directory.data(), directory.size()) &&
           ParseCentralDirectory(directory.data(), directory.size(), where, entries, reason);
}

// ---- ".rgz" ----

class FileSource : public ByteSource {
public:
    FileSource(HANDLE file, uint64_t offset, uint64_t end) : file_(file), offset_(offset), end_(end) {}
    size_t Read(uint8_t* buffer, size_t n) override
    {
        if (failed_) return 0;
        size_t take = size_t(std::min<uint64_t>(n, end_ - offset_));
        if (take && !ReadAt(file_, offset_, buffer, take)) {
            failed_ = true;
            return 0;
        }
        offset_ += take;
        return take;
    }
    bool Failed() const override { return failed_; }

private:
    HANDLE file_;
    uint64_t offset_, end_;
    bool failed_ = false;
};

// Files are staged as they come, and files and folders come into place only
// once the whole member has proved sound (DEFLATE end, trailer CRC-32 and
// length): a pass that fails, or turns out to be the wrong reading of the
// payload, leaves no folder behind.
class StagingSink : public EntrySink {
public:
    StagingSink(const std::wstring& destination, const NameReserve& reserve)
        : destination_(destination), limit_(destination, reserve) {}
    ~StagingSink() override
    {
        if (placed_) return;
        staged_.clear();
        // The folders made for the staged files go too, unless something else is in them.
        directories_.RemoveCreated();
    }
    bool Directory(const std::string& name, NameEncoding encoding) override
    {
        std::wstring wide;
        if (!Resolve(name, encoding, wide) || !limit_.FitsFolder(wide)) return false;
        folders_.push_back(JoinOutputPath(destination_, wide));
        return true;
    }
    bool BeginFile(const std::string& name, NameEncoding encoding) override
    {
        std::wstring wide;
        if (!Resolve(name, encoding, wide)) return false;
        std::string listName = ToNarrow(wide, CP_ACP);
        if (!limit_.FitsFile(wide, listName)) return false;
        std::wstring path = JoinOutputPath(destination_, wide);
        std::replace(path.begin(), path.end(), L'/', L'\\');
        names_.push_back(std::move(listName));
        staged_.emplace_back();
        // The temporary file stands beside its final path, so its folder is made now.
        return directories_.MakeParentOf(path) && staged_.back().Create(path);
    }
    bool WriteFile(const uint8_t* data, size_t n) override { return staged_.back().Write(data, n); }
    bool EndFile(bool keep) override
    {
        if (keep && staged_.back().Close()) return true;
        staged_.pop_back();
        names_.pop_back();
        return false;
    }
    bool PlaceAll(std::vector<std::string>* names)
    {
        placed_ = true;
        for (const std::wstring& folder : folders_)
            if (!directories_.Make(folder)) return false;
        for (size_t i = 0; i < staged_.size(); ++i) {
            if (!staged_[i].Place()) return false;
            if (names) names->push_back(names_[i]);
        }
        return true;
    }
    void LogRefusal() const { limit_.LogRefusal(); }

private:
    // The walkers checked the bytes; the name is checked again as the file
    // system will see it, after the conversion from its encoding.
    static bool Resolve(const std::string& name, NameEncoding encoding, std::wstring& wide)
    {
        wide = EntryNameToWide(name, encoding == NameEncoding::Utf8);
        const std::string utf8 = ToNarrow(wide, CP_UTF8);
        return !wide.empty() && IsSafeRelativePath(utf8) && KeepsItsNameOnWindows(utf8);
    }

    std::wstring destination_;
    PathLimit limit_;
    DirectoryMaker directories_;
    std::vector<std::wstring> folders_;  // the archive's own folder entries, in order
    std::vector<StagedFile> staged_;
    std::vector<std::string> names_;
    bool placed_ = false;
};

enum class Pass { Tar, Records, Single };

// One pass over a freshly inflated payload. Done tells the caller to stop with
// the given result; otherwise the next layout is tried.
bool RunPass(Pass pass, HANDLE file, const GzipHeader& header, uint64_t size,
             const std::wstring& destination, std::vector<std::string>* names,
             const NameReserve& reserve, bool& done)
{
    done = true;
    FileSource compressed(file, header.dataOffset, size);
    InflateSource payload(compressed);
    StagingSink sink(destination, reserve);
    WalkStats stats;
    WalkResult r = WalkResult::NotThisLayout;
    if (pass == Pass::Tar) {
        const uint8_t* head = nullptr;
        size_t have = payload.Peek(&head, 8 * 512);
        if (have == 0) return false;  // an empty or unreadable payload
        if (LooksLikeTar(head, have)) r = WalkTar(payload, sink, stats);
    } else if (pass == Pass::Records) {
        r = WalkRecordStream(payload, sink, stats);
    } else if (header.hasName && !header.name.empty()) {
        r = WriteSingleFile(payload, header.name, sink, stats);
    } else {
        return false;
    }
    if (r == WalkResult::Ok && stats.filesWritten > 0)
        return payload.Finish() && sink.PlaceAll(names);
    if (pass == Pass::Records && stats.filesWritten == 0 &&
        (r == WalkResult::UnsafeName || r == WalkResult::SinkFailed)) {
        // Written as one file, a record stream whose first record failed
        // would pass for an installed patch.
        FileSource again(file, header.dataOffset, size);
        InflateSource reread(again);
        done = ReadsAsRecordStream(reread) && reread.Finish();
    } else {
        done = r != WalkResult::Ok && r != WalkResult::NotThisLayout;
    }
    // Only a refusal that stands is logged: a wrong reading of the payload
    // may have met a name that the right one does not have.
    if (done) sink.LogRefusal();
    return false;
}

}  // namespace

bool ExtractArchive(const std::string& archive, const std::string& destination,
                    std::vector<std::string>* names, const NameReserve& reserve)
{
    if (archive.size() <= 3) return false;
    const std::string ending = archive.substr(archive.size() - 4);
    if (ending == ".zip" || ending == ".ZIP") return ExtractZipArchive(archive, destination, names, reserve);
    if (ending == ".rgz" || ending == ".RGZ") return ExtractRgzArchive(archive, destination, names, reserve);
    return false;
}

bool ExtractZipArchive(const std::string& archive, const std::string& destination,
                       std::vector<std::string>* names, const NameReserve& reserve)
{
    UniqueHandle file = OpenForReading(ToWide(archive, CP_ACP));
    if (!file) return false;
    ZipDirectoryLocation where;
    std::vector<ZipEntry> entries;
    std::vector<PlannedEntry> plan;
    const std::wstring dest = ToWide(destination, CP_ACP);
    PathLimit limit(dest, reserve);
    if (!ReadCentralDirectory(file.Get(), where, entries) || !PlanZipEntries(entries, dest, &limit, plan))
        return false;

    ZipExtractor extractor(file.Get(), where);
    DirectoryMaker directories;
    bool allWritten = true;
    for (const PlannedEntry& p : plan) {
        if (p.entry->IsDirectory()) {
            allWritten = directories.Make(p.path) && allWritten;
            continue;
        }
        FILETIME time;
        const bool haveTime = DosTimeToFileTime(p.entry->dosDate, p.entry->dosTime, time);
        StagedFile out;
        if (directories.MakeParentOf(p.path) && out.Create(p.path) && extractor.WriteEntry(*p.entry, out) &&
            out.Close(haveTime ? &time : nullptr) && out.Place()) {
            if (names) names->push_back(p.listName);
        } else {
            allWritten = false;  // a damaged entry leaves its target as it was
        }
    }
    return allWritten;
}

bool ReadZipEntries(const std::string& archive, std::vector<ZipEntry>& entries)
{
    UniqueHandle file = OpenForReading(ToWide(archive, CP_ACP));
    ZipDirectoryLocation where;
    return file && ReadCentralDirectory(file.Get(), where, entries);
}

// False as well when extraction would refuse one of the names, which would
// fail it on every try.
bool HasZipDirectory(const std::string& archive)
{
    std::vector<ZipEntry> entries;
    std::vector<PlannedEntry> plan;
    return ReadZipEntries(archive, entries) && PlanZipEntries(entries, L".", nullptr, plan);
}

bool ExtractRgzArchive(const std::string& archive, const std::string& destination,
                       std::vector<std::string>* names, const NameReserve& reserve)
{
    UniqueHandle file = OpenForReading(ToWide(archive, CP_ACP));
    uint64_t size = 0;
    if (!file || !FileSize(file.Get(), size)) return false;
    std::vector<uint8_t> head(size_t(std::min<uint64_t>(size, kGzipHeaderLimit)));
    GzipHeader header;
    if (!ReadAt(file.Get(), 0, head.data(), head.size()) ||
        !ParseGzipHeader(head.data(), head.size(), head.size() == size, header) ||
        size - header.dataOffset < 8)
        return false;

    const std::wstring dest = ToWide(destination, CP_ACP);
    for (Pass pass : {Pass::Tar, Pass::Records, Pass::Single}) {
        bool done = false;
        bool ok = RunPass(pass, file.Get(), header, size, dest, names, reserve, done);
        if (ok || done) return ok;
    }
    return false;
}
