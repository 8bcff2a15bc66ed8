#include "sync/base_check.h"

#include "core/archive.h"
#include "core/checksum.h"
#include "core/game_client.h"
#include "core/handles.h"
#include "core/http.h"
#include "core/identity.h"
#include "core/log.h"
#include "core/zip_reader.h"

#include <zlib.h>

#include <algorithm>
#include <cstdint>

namespace {

void Report(const ProgressCallback& progress, const std::string& text, float percent)
{
    if (progress) progress(text, percent, 0, 0);
}

constexpr size_t kVerifyBlock = 262144;

class RandomAccessFile {
public:
    bool Open(const std::string& path)
    {
        file_.Reset(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr));
        LARGE_INTEGER size{};
        if (!file_ || !GetFileSizeEx(file_.Get(), &size)) return false;
        size_ = static_cast<uint64_t>(size.QuadPart);
        return true;
    }
    uint64_t Size() const { return size_; }
    bool ReadAt(uint64_t offset, void* buffer, size_t n)
    {
        if (offset > size_ || n > size_ - offset) return false;
        LARGE_INTEGER at{};
        at.QuadPart = static_cast<LONGLONG>(offset);
        if (!SetFilePointerEx(file_.Get(), at, nullptr, FILE_BEGIN)) return false;
        auto* out = static_cast<uint8_t*>(buffer);
        while (n > 0) {
            DWORD chunk = static_cast<DWORD>(std::min<size_t>(n, 1u << 30)), got = 0;
            if (!ReadFile(file_.Get(), out, chunk, &got, nullptr) || got == 0) return false;
            out += got;
            n -= got;
        }
        return true;
    }

private:
    UniqueHandle file_;
    uint64_t size_ = 0;
};

bool ReadZipDirectory(RandomAccessFile& file, ZipDirectoryLocation& where,
                      std::vector<ZipEntry>& entries)
{
    std::string reason;
    std::vector<uint8_t> tail(static_cast<size_t>(std::min<uint64_t>(file.Size(), kZipEndSearchSize)));
    if (!file.ReadAt(file.Size() - tail.size(), tail.data(), tail.size()) ||
        !FindZipEnd(tail.data(), tail.size(), file.Size(), where, reason))
        return false;
    if (where.zip64) {
        uint8_t record[kZip64EndRecordSize];
        if (!file.ReadAt(where.zip64RecordOffset, record, sizeof record) ||
            !ReadZip64End(record, sizeof record, file.Size(), where, reason))
            return false;
    }
    if (where.size > kZipMaxCentralDirectory) return false;
    std::vector<uint8_t> directory(static_cast<size_t>(where.size));
    return file.ReadAt(where.offset, directory.data(), directory.size()) &&
           ParseCentralDirectory(directory.data(), directory.size(), where, entries, reason);
}

bool InflateMatches(RandomAccessFile& file, uint64_t offset, const ZipEntry& entry,
                    std::vector<uint8_t>& in, std::vector<uint8_t>& out)
{
    z_stream z{};
    if (inflateInit2(&z, -15) != Z_OK) return false;
    uLong crc = crc32(0, nullptr, 0);
    uint64_t left = entry.compressedSize, produced = 0;
    int status = Z_OK;
    while (status != Z_STREAM_END) {
        if (z.avail_in == 0 && left > 0) {
            const size_t chunk = static_cast<size_t>(std::min<uint64_t>(left, in.size()));
            if (!file.ReadAt(offset, in.data(), chunk)) break;
            offset += chunk;
            left -= chunk;
            z.next_in = in.data();
            z.avail_in = static_cast<uInt>(chunk);
        }
        z.next_out = out.data();
        z.avail_out = static_cast<uInt>(out.size());
        // Z_BUF_ERROR: no progress is possible, so the data ended before the stream did.
        status = inflate(&z, Z_NO_FLUSH);
        if (status != Z_OK && status != Z_STREAM_END) break;
        const size_t got = out.size() - z.avail_out;
        crc = crc32(crc, out.data(), static_cast<uInt>(got));
        produced += got;
    }
    inflateEnd(&z);
    return status == Z_STREAM_END && produced == entry.uncompressedSize && crc == entry.crc32;
}

bool StoredMatches(RandomAccessFile& file, uint64_t offset, const ZipEntry& entry,
                   std::vector<uint8_t>& in)
{
    if (entry.compressedSize != entry.uncompressedSize) return false;
    uLong crc = crc32(0, nullptr, 0);
    for (uint64_t left = entry.uncompressedSize; left > 0;) {
        const size_t chunk = static_cast<size_t>(std::min<uint64_t>(left, in.size()));
        if (!file.ReadAt(offset, in.data(), chunk)) return false;
        crc = crc32(crc, in.data(), static_cast<uInt>(chunk));
        offset += chunk;
        left -= chunk;
    }
    return crc == entry.crc32;
}

bool VerifyEntry(RandomAccessFile& file, const ZipEntry& entry, const ZipDirectoryLocation& where,
                 std::vector<uint8_t>& in, std::vector<uint8_t>& out)
{
    uint8_t local[kZipLocalHeaderSize];
    uint64_t offset = 0;
    std::string reason;
    if (!file.ReadAt(entry.localHeaderOffset, local, sizeof local) ||
        !LocalDataOffset(local, sizeof local, entry, where, offset, reason))
        return false;
    if (offset > where.offset || entry.compressedSize > where.offset - offset) return false;
    if (entry.method == 0) return StoredMatches(file, offset, entry, in);
    if (entry.method == 8) return InflateMatches(file, offset, entry, in, out);
    return false;  // a method that cannot be checked here is not taken on trust
}

bool IsClientInstalled(const std::string& dir)
{
    const std::string path = dir + "\\" + kClientMainArchive;
    UniqueHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
    if (!file) return false;
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.Get(), &size)) return true;
    return static_cast<uint64_t>(size.QuadPart) >= kInstalledClientMinSize;
}

// What a failed extraction wrote must not pass for an installed client on the
// next start: the main archive goes, so the next check installs again.
void ForgetUnfinishedClient(const std::string& dir)
{
    const std::string path = dir + "\\" + kClientMainArchive;
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (DeleteFileA(path.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND) return;
    const std::string old = path + ".old";
    DeleteFileA(old.c_str());
    MoveFileExA(path.c_str(), old.c_str(), MOVEFILE_REPLACE_EXISTING);
}

}  // namespace

bool IsIntactZipArchive(const std::string& path)
{
    RandomAccessFile file;
    ZipDirectoryLocation where;
    std::vector<ZipEntry> entries;
    if (!file.Open(path) || !ReadZipDirectory(file, where, entries)) return false;
    std::vector<uint8_t> in(kVerifyBlock), out(kVerifyBlock);
    for (const ZipEntry& entry : entries)
        if (!VerifyEntry(file, entry, where, in, out)) return false;
    return true;
}

bool LegacyBaseCheck(HINTERNET session, const std::string& manifestUrl,
                     const std::string& fullClientUrl, const std::string& dir,
                     const ProgressCallback& progress, std::string& error)
{
    LogLine("[WARN] Could not load remote manifest.json from " + manifestUrl +
            ". Falling back to legacy base check.");
    if (IsClientInstalled(dir)) return true;
    if (fullClientUrl.empty()) return true;

    const std::string zip = dir + "\\temp_client.zip";
    Report(progress, "Downloading full game client (~5.1 GB)...", 0);
    // An archive kept whole from a failed extraction would only get a 416 to
    // its range request; a partial one is continued.
    if (!IsIntactZipArchive(zip) &&
        !DownloadFile(session, fullClientUrl, zip, "Full Client Archive", progress, true)) {
        error = "Failed to download full game client from server.";
        return false;
    }

    Report(progress, "Extracting game files (this may take a few minutes)...", 100);
    if (ExtractZipArchive(zip, dir)) {
        DeleteFileA(zip.c_str());
        return true;
    }
    ForgetUnfinishedClient(dir);
    if (IsIntactZipArchive(zip)) {
        LogLine("[WARN] Extraction failed but " + zip + " is intact; keeping it for the next try.");
    } else {
        DeleteFileA(zip.c_str());
    }
    error = "Failed to extract game client archive.";
    return false;
}

void SelfUpdateFromManifest(HINTERNET session, const std::vector<ManifestEntry>& entries,
                            const std::string& baseUrl, const ProgressCallback& progress)
{
    const std::string nameKey = ToLower(GetLauncherFileName());
    const std::string path = GetLauncherPath();

    const ManifestEntry* own = nullptr;
    for (const ManifestEntry& entry : entries) {
        if (PathKey(entry.path) == nameKey) {
            own = &entry;
            break;
        }
    }
    if (!own) return;

    std::string local;
    uint64_t size = 0;
    if (!ComputeFileCrc32(path, local, size, ProgressCallback(), "", 0, 0) || local == own->crc32)
        return;

    LogLine("[INFO] Launcher binary hash mismatch (local=" + local + ", server=" + own->crc32 +
            "). Downloading new launcher...");
    Report(progress, "Updating launcher to latest version...", 50);

    const std::string url = baseUrl + UrlEncodePath(own->path);
    const std::string fresh = path + ".new";
    if (ReplaceLauncherBinary(session, url, fresh, own->crc32, progress)) {
        InternetCloseHandle(session);
        RestartLauncher();
    }
    LogLine("[WARN] Could not self-update launcher binary from manifest; continuing.");
}

bool ReplaceLauncherBinary(HINTERNET session, const std::string& url, const std::string& fresh,
                           const std::string& expectedCrc, const ProgressCallback& progress)
{
    const std::string path = GetLauncherPath();
    if (!DownloadFile(session, url, fresh, GetLauncherFileName(), progress, false)) return false;

    // Only a download that is whole and is the listed build may replace the
    // running launcher.
    std::string got;
    uint64_t size = 0;
    if (!ComputeFileCrc32(fresh, got, size, ProgressCallback(), "", 0, 0) || got != expectedCrc) {
        DeleteFileA(fresh.c_str());
        return false;
    }
    if (!SwapLauncherFile(fresh, path)) {
        DeleteFileA(fresh.c_str());
        return false;
    }
    return true;
}

bool SwapLauncherFile(const std::string& fresh, const std::string& path)
{
    const std::string old = path + ".old";
    DeleteFileA(old.c_str());
    if (!MoveFileExA(path.c_str(), old.c_str(), MOVEFILE_REPLACE_EXISTING)) return false;
    if (MoveFileExA(fresh.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
    // A launcher must stay at its path, so the running file goes back.
    if (!MoveFileExA(old.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING))
        LogLine("[ERROR] Could not move " + old + " back to " + path);
    return false;
}
