#include "core/zip_reader.h"

namespace {

constexpr uint32_t kEndSignature = 0x06054b50;
constexpr uint32_t kZip64LocatorSignature = 0x07064b50;
constexpr uint32_t kZip64EndSignature = 0x06064b50;
constexpr uint32_t kCentralSignature = 0x02014b50;
constexpr uint32_t kLocalSignature = 0x04034b50;
constexpr size_t kEndSize = 22;
constexpr size_t kCentralSize = 46;
constexpr uint16_t kZip64ExtraId = 0x0001;
constexpr uint32_t kDosDirectoryAttribute = 0x10;

uint16_t Le16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
uint32_t Le32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint64_t Le64(const uint8_t* p) { return uint64_t(Le32(p)) | uint64_t(Le32(p + 4)) << 32; }

// a + b <= limit without overflowing.
bool FitsBelow(uint64_t a, uint64_t b, uint64_t limit) { return a <= limit && b <= limit - a; }

bool Fail(std::string& reason, const char* text)
{
    reason = text;
    return false;
}

// Replaces the 32-bit fields that hold 0xFFFFFFFF with the ZIP64 extra field's values.
bool ApplyZip64Extra(const uint8_t* extra, size_t size, ZipEntry& e, bool needUnc, bool needComp,
                     bool needOffset)
{
    size_t pos = 0;
    while (pos + 4 <= size) {
        const uint16_t id = Le16(extra + pos);
        const size_t len = Le16(extra + pos + 2);
        pos += 4;
        if (len > size - pos) return false;
        if (id == kZip64ExtraId) {
            const uint8_t* f = extra + pos;
            size_t need = 8 * (size_t(needUnc) + size_t(needComp) + size_t(needOffset));
            if (len < need) return false;
            if (needUnc) { e.uncompressedSize = Le64(f); f += 8; }
            if (needComp) { e.compressedSize = Le64(f); f += 8; }
            if (needOffset) e.localHeaderOffset = Le64(f);
            return true;
        }
        pos += len;
    }
    return !(needUnc || needComp || needOffset);
}

}  // namespace

bool ZipEntry::IsDirectory() const
{
    // Some Windows tools end directory names with '\'.
    return (!name.empty() && (name.back() == '/' || name.back() == '\\')) ||
           (externalAttributes & kDosDirectoryAttribute);
}

bool FindZipEnd(const uint8_t* tail, size_t tailSize, uint64_t fileSize, ZipDirectoryLocation& out,
                std::string& reason)
{
    out = ZipDirectoryLocation();
    if (tailSize < kEndSize || tailSize > fileSize) return Fail(reason, "not a ZIP archive (too short)");
    const uint64_t tailStart = fileSize - tailSize;
    // The last record whose comment fits in the file is the one that counts.
    for (size_t i = tailSize - kEndSize + 1; i-- > 0;) {
        const uint8_t* p = tail + i;
        if (Le32(p) != kEndSignature) continue;
        if (Le16(p + 20) > tailSize - kEndSize - i) continue;
        if (Le16(p + 4) != 0 || Le16(p + 6) != 0) return Fail(reason, "multi-volume ZIP archives are not supported");
        out.entries = Le16(p + 10);
        out.size = Le32(p + 12);
        out.offset = Le32(p + 16);
        out.endOffset = tailStart + i;
        if (i >= kZip64LocatorSize && Le32(p - kZip64LocatorSize) == kZip64LocatorSignature) {
            const uint8_t* loc = p - kZip64LocatorSize;
            out.zip64 = true;
            out.zip64RecordOffset = Le64(loc + 8);
            out.endOffset -= kZip64LocatorSize;
            if (!FitsBelow(out.zip64RecordOffset, kZip64EndRecordSize, out.endOffset))
                return Fail(reason, "ZIP64 end record lies outside the archive");
            return true;
        }
        if (out.entries == 0xFFFF || out.size == 0xFFFFFFFF || out.offset == 0xFFFFFFFF)
            return Fail(reason, "ZIP64 end locator missing");
        if (!FitsBelow(out.offset, out.size, out.endOffset))
            return Fail(reason, "central directory lies outside the archive");
        return true;
    }
    return Fail(reason, "end of central directory not found");
}

bool ReadZip64End(const uint8_t* record, size_t size, uint64_t fileSize, ZipDirectoryLocation& out,
                  std::string& reason)
{
    if (size < kZip64EndRecordSize || Le32(record) != kZip64EndSignature)
        return Fail(reason, "ZIP64 end record not found");
    if (Le32(record + 16) != 0 || Le32(record + 20) != 0)
        return Fail(reason, "multi-volume ZIP archives are not supported");
    out.entries = Le64(record + 32);
    out.size = Le64(record + 40);
    out.offset = Le64(record + 48);
    out.endOffset = out.zip64RecordOffset;
    if (out.endOffset > fileSize || !FitsBelow(out.offset, out.size, out.endOffset))
        return Fail(reason, "central directory lies outside the archive");
    return true;
}

bool ParseCentralDirectory(const uint8_t* data, size_t size, const ZipDirectoryLocation& where,
                           std::vector<ZipEntry>& entries, std::string& reason)
{
    entries.clear();
    if (where.entries > size / kCentralSize) return Fail(reason, "central directory too short for its entry count");
    entries.reserve(size_t(where.entries));
    size_t pos = 0;
    for (uint64_t n = 0; n < where.entries; ++n) {
        if (size - pos < kCentralSize || Le32(data + pos) != kCentralSignature)
            return Fail(reason, "damaged central directory entry");
        const uint8_t* p = data + pos;
        ZipEntry e;
        e.flags = Le16(p + 8);
        e.utf8Name = (e.flags & 0x0800) != 0;
        e.method = Le16(p + 10);
        e.dosTime = Le16(p + 12);
        e.dosDate = Le16(p + 14);
        e.crc32 = Le32(p + 16);
        e.compressedSize = Le32(p + 20);
        e.uncompressedSize = Le32(p + 24);
        const size_t nameLen = Le16(p + 28), extraLen = Le16(p + 30), commentLen = Le16(p + 32);
        e.externalAttributes = Le32(p + 38);
        e.localHeaderOffset = Le32(p + 42);
        const size_t total = kCentralSize + nameLen + extraLen + commentLen;
        if (total > size - pos) return Fail(reason, "central directory entry runs past the directory");
        e.name.assign(reinterpret_cast<const char*>(p + kCentralSize), nameLen);
        if (!ApplyZip64Extra(p + kCentralSize + nameLen, extraLen, e, e.uncompressedSize == 0xFFFFFFFF,
                             e.compressedSize == 0xFFFFFFFF, e.localHeaderOffset == 0xFFFFFFFF))
            return Fail(reason, "damaged ZIP64 extra field");
        // Header and data must both lie before the central directory.
        if (!FitsBelow(e.localHeaderOffset, kZipLocalHeaderSize, where.offset) ||
            !FitsBelow(e.localHeaderOffset + kZipLocalHeaderSize, e.compressedSize, where.offset))
            return Fail(reason, "entry points past the end of the archive data");
        entries.push_back(std::move(e));
        pos += total;
    }
    return true;
}

bool LocalDataOffset(const uint8_t* header, size_t size, const ZipEntry& entry,
                     const ZipDirectoryLocation& where, uint64_t& dataOffset, std::string& reason)
{
    if (size < kZipLocalHeaderSize || Le32(header) != kLocalSignature)
        return Fail(reason, "local header not found");
    const uint64_t start = entry.localHeaderOffset + kZipLocalHeaderSize;
    dataOffset = start + Le16(header + 26) + Le16(header + 28);
    if (!FitsBelow(dataOffset, entry.compressedSize, where.offset))
        return Fail(reason, "entry data runs into the central directory");
    return true;
}
