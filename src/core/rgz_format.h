// The ".rgz" patch container without any file access: its gzip header, the
// streaming raw-DEFLATE payload with its trailer check, and the two layouts the
// payload can have (a tar archive or a record stream), walked as streams.
#pragma once

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// A forward-only stream of bytes. Read returns fewer than n bytes only at the
// end of the stream or on an error; Failed tells the two apart.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual size_t Read(uint8_t* buffer, size_t n) = 0;
    virtual bool Failed() const = 0;
};

// A stream over a buffer held in memory.
class MemorySource : public ByteSource {
public:
    MemorySource(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    size_t Read(uint8_t* buffer, size_t n) override;
    bool Failed() const override { return false; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

struct GzipHeader {
    size_t dataOffset = 0;  // first byte of the DEFLATE data
    bool hasName = false;
    std::string name;       // bytes as stored
};

// Reads the gzip member header from the first bytes of the file. head may be a
// prefix of the file (wholeFile false): a name or comment that runs past it is
// then refused instead of read without bound.
bool ParseGzipHeader(const uint8_t* head, size_t size, bool wholeFile, GzipHeader& out);

// The inflated payload of one gzip member. The compressed source starts at the
// DEFLATE data; the 8-byte trailer (CRC-32, ISIZE) that follows the end of the
// DEFLATE stream is checked by Finish.
class InflateSource : public ByteSource {
public:
    explicit InflateSource(ByteSource& compressed);
    ~InflateSource() override;
    InflateSource(const InflateSource&) = delete;
    InflateSource& operator=(const InflateSource&) = delete;

    size_t Read(uint8_t* buffer, size_t n) override;
    bool Failed() const override { return failed_; }
    // Makes up to want bytes (at most kBlock) available without consuming them.
    size_t Peek(const uint8_t** data, size_t want);
    // Reads what is left and tells whether the whole member was sound: the
    // DEFLATE stream ended and the trailer matches what was inflated.
    bool Finish();

    static constexpr size_t kBlock = 1 << 20;

private:
    bool Fill(size_t want);
    bool ReadTrailer();
    bool inputEnded_ = false;

    ByteSource& in_;
    z_stream z_{};
    bool zOpen_ = false;
    std::vector<uint8_t> inBuf_;
    std::vector<uint8_t> outBuf_;
    size_t outPos_ = 0;
    size_t outEnd_ = 0;
    bool ended_ = false;
    bool failed_ = false;
    bool trailerOk_ = false;
    uint32_t crc_ = 0;
    uint64_t total_ = 0;
};

// How a name's bytes are to be read: in the system code page, as every name
// is, or as UTF-8, which a pax header's path is by definition.
enum class NameEncoding { CodePage, Utf8 };

// Where the walkers put what they find. Names are relative, '\'-separated and
// already checked to stay below the destination.
class EntrySink {
public:
    virtual ~EntrySink() = default;
    virtual bool Directory(const std::string& name, NameEncoding encoding) = 0;
    virtual bool BeginFile(const std::string& name, NameEncoding encoding) = 0;
    virtual bool WriteFile(const uint8_t* data, size_t n) = 0;
    // keep is false when the entry broke off: the sink drops what it began.
    virtual bool EndFile(bool keep) = 0;
};

enum class WalkResult {
    Ok,           // the layout read to its end
    NotThisLayout,
    Damaged,      // cut short or malformed after it was recognised
    UnsafeName,   // a name that would leave the destination
    SinkFailed,   // the sink could not create or write an entry
};

struct WalkStats {
    size_t filesWritten = 0;
};

// Tar recognition: "ustar" at offset 257 of one of the first eight whole blocks.
bool LooksLikeTar(const uint8_t* data, size_t size);

struct TarHeader {
    std::string name;  // '\' separators, leading ".\" removed
    NameEncoding encoding = NameEncoding::CodePage;
    uint64_t size = 0;
    char type = 0;
};
// One header block on its own: the name field, behind the prefix field of a
// POSIX ustar header. False when the size field is not a number that fits in
// 64 bits.
bool ParseTarHeader(const uint8_t* block, TarHeader& out);

// GNU tar's long name ('L') and a pax header's path and size ('x') apply to
// the entry that follows them; long link names ('K') and pax global headers
// ('g') are skipped. No header entry is ever handed to the sink.
WalkResult WalkTar(ByteSource& payload, EntrySink& sink, WalkStats& stats);
// A stream that breaks before any file was written is NotThisLayout: the
// payload may be a single file that happens to begin with a record byte.
// A name or a write that fails is reported as such even then.
WalkResult WalkRecordStream(ByteSource& payload, EntrySink& sink, WalkStats& stats);
// True when the payload reads as records, with at least one file record, up to
// the end of the stream: a byte that begins no record ('e' among them) or the
// end of the payload. Writes nothing and checks no names: it tells whether a
// record that could not be written makes the extraction fail, or the payload
// is a single file after all.
bool ReadsAsRecordStream(ByteSource& payload);
// Copies the rest of the payload into one file.
WalkResult WriteSingleFile(ByteSource& payload, const std::string& name, EntrySink& sink,
                           WalkStats& stats);
