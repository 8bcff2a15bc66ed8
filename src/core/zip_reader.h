// ZIP archive structures read from buffers, without any file access: the end
// of central directory (with ZIP64), the central directory entries and the
// local header. Every size and offset is 64-bit and checked against the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct ZipEntry {
    std::string name;  // bytes as stored
    bool utf8Name = false;  // general purpose flag bit 11
    uint16_t flags = 0;
    uint16_t method = 0;
    uint16_t dosTime = 0;
    uint16_t dosDate = 0;
    uint32_t crc32 = 0;
    uint64_t compressedSize = 0;
    uint64_t uncompressedSize = 0;
    uint64_t localHeaderOffset = 0;
    uint32_t externalAttributes = 0;
    bool IsDirectory() const;
};

struct ZipDirectoryLocation {
    uint64_t offset = 0;
    uint64_t size = 0;
    uint64_t entries = 0;
    // Where the end records start: the central directory must lie before it.
    uint64_t endOffset = 0;
    // Set when the ZIP64 locator was found; its record is then read from here.
    bool zip64 = false;
    uint64_t zip64RecordOffset = 0;
};

// The longest tail of a file that holds the end record and its comment.
constexpr size_t kZipEndSearchSize = 65535 + 22;
constexpr size_t kZip64LocatorSize = 20;
constexpr size_t kZip64EndRecordSize = 56;
constexpr size_t kZipLocalHeaderSize = 30;
// A central directory larger than this is refused rather than read into memory.
constexpr uint64_t kZipMaxCentralDirectory = 256ull << 20;

// tail holds the last tailSize bytes of a file of fileSize bytes.
bool FindZipEnd(const uint8_t* tail, size_t tailSize, uint64_t fileSize,
                ZipDirectoryLocation& out, std::string& reason);
// Completes out from the ZIP64 end record (record holds kZip64EndRecordSize bytes).
bool ReadZip64End(const uint8_t* record, size_t size, uint64_t fileSize,
                  ZipDirectoryLocation& out, std::string& reason);
// Reads every entry of the central directory. Each entry's data must lie
// before the central directory.
bool ParseCentralDirectory(const uint8_t* data, size_t size, const ZipDirectoryLocation& where,
                           std::vector<ZipEntry>& entries, std::string& reason);
// The offset of an entry's data from its local header (kZipLocalHeaderSize bytes).
bool LocalDataOffset(const uint8_t* header, size_t size, const ZipEntry& entry,
                     const ZipDirectoryLocation& where, uint64_t& dataOffset,
                     std::string& reason);
