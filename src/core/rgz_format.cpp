#include "core/rgz_format.h"

#include "core/safe_path.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint8_t kFlagHeaderCrc = 0x02;
constexpr uint8_t kFlagExtra = 0x04;
constexpr uint8_t kFlagName = 0x08;
constexpr uint8_t kFlagComment = 0x10;

constexpr size_t kTarBlock = 512;
constexpr size_t kTarProbeBlocks = 8;
constexpr size_t kCopyBlock = 1 << 20;
// A long name or pax header is held whole; a hostile archive may announce
// gigabytes for one, while a real one takes a few hundred bytes.
constexpr uint64_t kTarExtendedHeaderLimit = 1 << 20;

uint32_t ReadLe32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// Reads exactly n bytes; false when the stream ends first.
bool ReadExact(ByteSource& in, uint8_t* buffer, size_t n)
{
    return in.Read(buffer, n) == n;
}

// Copies size bytes of entry data from the payload into the sink's open file.
WalkResult CopyData(ByteSource& in, uint64_t size, EntrySink& sink, std::vector<uint8_t>& buffer)
{
    buffer.resize(kCopyBlock);
    while (size > 0) {
        size_t want = size < kCopyBlock ? size_t(size) : kCopyBlock;
        size_t got = in.Read(buffer.data(), want);
        if (got > 0 && !sink.WriteFile(buffer.data(), got)) return WalkResult::SinkFailed;
        if (got < want) return WalkResult::Damaged;
        size -= got;
    }
    return WalkResult::Ok;
}

WalkResult SkipData(ByteSource& in, uint64_t size, std::vector<uint8_t>& buffer)
{
    buffer.resize(kCopyBlock);
    while (size > 0) {
        size_t want = size < kCopyBlock ? size_t(size) : kCopyBlock;
        if (in.Read(buffer.data(), want) < want) return WalkResult::Damaged;
        size -= want;
    }
    return WalkResult::Ok;
}

WalkResult WriteEntry(ByteSource& in, const std::string& name, NameEncoding encoding, uint64_t size,
                      EntrySink& sink, std::vector<uint8_t>& buffer, WalkStats& stats)
{
    if (!sink.BeginFile(name, encoding)) return WalkResult::SinkFailed;
    WalkResult r = CopyData(in, size, sink, buffer);
    if (!sink.EndFile(r == WalkResult::Ok) && r == WalkResult::Ok) r = WalkResult::SinkFailed;
    if (r == WalkResult::Ok) ++stats.filesWritten;
    return r;
}

std::string WithBackslashes(std::string name)
{
    std::replace(name.begin(), name.end(), '/', '\\');
    return name;
}

// Octal digits (leading blanks skipped, ending at the first other byte), or
// the base-256 form that GNU tar uses for sizes of 8 GiB and more.
bool ParseTarNumber(const uint8_t* field, size_t len, uint64_t& out)
{
    out = 0;
    if (field[0] & 0x80) {
        if (field[0] != 0x80) return false;  // negative, or too large
        for (size_t i = 1; i < len; ++i) {
            if (out >> 56) return false;
            out = out << 8 | field[i];
        }
        return true;
    }
    size_t i = 0;
    while (i < len && field[i] == ' ') ++i;
    for (; i < len && field[i] >= '0' && field[i] <= '7'; ++i) {
        if (out >> 61) return false;
        out = out << 3 | uint64_t(field[i] - '0');
    }
    return true;
}

bool AllZero(const uint8_t* p, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        if (p[i]) return false;
    return true;
}

std::string UpToNul(const std::string& text)
{
    return text.substr(0, text.find('\0'));
}

// '\' separators, without the leading ".\" that "tar -cf - ." writes.
std::string TarName(const std::string& raw)
{
    std::string name = WithBackslashes(raw);
    while (name.compare(0, 2, ".\\") == 0) name.erase(0, 2);
    return name;
}

// What extended headers said about the entry that follows them.
struct PendingHeader {
    bool active = false;  // an 'L' or 'x' header still waits for its entry
    bool hasName = false;
    std::string name;
    NameEncoding encoding = NameEncoding::CodePage;
    bool hasSize = false;
    uint64_t size = 0;
};

bool ParseDecimal(const std::string& text, uint64_t& out)
{
    out = 0;
    for (char c : text) {
        if (c < '0' || c > '9' || out > (UINT64_MAX - 9) / 10) return false;
        out = out * 10 + uint64_t(c - '0');
    }
    return !text.empty();
}

// The records "<len> <key>=<value>\n" of a pax header, len counting the whole
// record. Python writes the real size here when the octal field cannot hold
// it, so the size matters as much as the path.
bool ParsePaxRecords(const std::string& data, PendingHeader& pending)
{
    size_t pos = 0;
    while (pos < data.size()) {
        const size_t space = data.find(' ', pos);
        uint64_t len = 0;
        if (space == std::string::npos || !ParseDecimal(data.substr(pos, space - pos), len) ||
            len > data.size() - pos || len < space - pos + 3 || data[pos + size_t(len) - 1] != '\n')
            return false;
        const size_t end = pos + size_t(len) - 1;
        const size_t equals = data.find('=', space + 1);
        if (equals >= end || equals == space + 1) return false;
        const std::string key = data.substr(space + 1, equals - space - 1);
        const std::string value = data.substr(equals + 1, end - equals - 1);
        if (key == "path") {
            pending.hasName = true;
            pending.name = UpToNul(value);
            pending.encoding = NameEncoding::Utf8;
        } else if (key == "size") {
            if (!ParseDecimal(value, pending.size)) return false;
            pending.hasSize = true;
        }
        pos = end + 1;
    }
    return true;
}

// The last entry's padding may be missing from a payload cut right after it.
bool SkipPadding(ByteSource& in, uint64_t size)
{
    const size_t padding = size_t((kTarBlock - size % kTarBlock) % kTarBlock);
    uint8_t pad[kTarBlock];
    return !padding || in.Read(pad, padding) == padding || !in.Failed();
}

// The data of an 'L', 'K', 'x' or 'g' header. Only a long name and a pax
// header describe the next entry; a link name and global records matter to
// no file written here.
bool ReadExtendedHeader(ByteSource& in, const TarHeader& h, PendingHeader& pending,
                        std::vector<uint8_t>& buffer)
{
    if (h.type == 'K' || h.type == 'g')
        return SkipData(in, h.size, buffer) == WalkResult::Ok && SkipPadding(in, h.size);
    if (h.size > kTarExtendedHeaderLimit) return false;
    std::string data(size_t(h.size), '\0');
    if (!ReadExact(in, reinterpret_cast<uint8_t*>(&data[0]), data.size()) || !SkipPadding(in, h.size))
        return false;
    pending.active = true;
    if (h.type == 'x') return ParsePaxRecords(data, pending);
    pending.hasName = true;
    pending.name = UpToNul(data);
    pending.encoding = NameEncoding::CodePage;
    return true;
}

void ApplyPending(PendingHeader& pending, TarHeader& h)
{
    if (pending.hasName) {
        h.name = TarName(pending.name);
        h.encoding = pending.encoding;
    }
    if (pending.hasSize) h.size = pending.size;
    pending = PendingHeader();
}

// One entry with its extended headers applied.
WalkResult TarMember(ByteSource& in, const TarHeader& h, EntrySink& sink, std::vector<uint8_t>& buffer,
                     WalkStats& stats)
{
    const bool directory = h.type == '5' || (!h.name.empty() && h.name.back() == '\\');
    if (h.name.empty() || h.name.find("PaxHeader") != std::string::npos) return SkipData(in, h.size, buffer);
    if (!IsSafeRelativePath(h.name)) return WalkResult::UnsafeName;
    if (!directory) return WriteEntry(in, h.name, h.encoding, h.size, sink, buffer, stats);
    if (!sink.Directory(h.name, h.encoding)) return WalkResult::SinkFailed;
    return SkipData(in, h.size, buffer);
}

}  // namespace

size_t MemorySource::Read(uint8_t* buffer, size_t n)
{
    size_t take = std::min(n, size_ - pos_);
    if (take) std::memcpy(buffer, data_ + pos_, take);
    pos_ += take;
    return take;
}

bool ParseGzipHeader(const uint8_t* head, size_t size, bool wholeFile, GzipHeader& out)
{
    out = GzipHeader();
    if (size < 10 || head[0] != 0x1F || head[1] != 0x8B) return false;
    const uint8_t flags = head[3];
    size_t pos = 10;
    if (flags & kFlagExtra) {
        if (size < 12) return false;
        pos = 12 + (size_t(head[10]) | size_t(head[11]) << 8);
    }
    auto skipToNul = [&](std::string* collect) {
        if (pos > size) return false;
        const uint8_t* nul = static_cast<const uint8_t*>(std::memchr(head + pos, 0, size - pos));
        if (!nul) return false;  // runs past what was read, or past the end of the file
        if (collect) collect->assign(reinterpret_cast<const char*>(head + pos), nul - (head + pos));
        pos = size_t(nul - head) + 1;
        return true;
    };
    if (flags & kFlagName) {
        if (!skipToNul(&out.name)) return false;
        out.hasName = true;
    }
    if ((flags & kFlagComment) && !skipToNul(nullptr)) return false;
    if (flags & kFlagHeaderCrc) pos += 2;
    // The trailer alone takes 8 bytes after the data.
    if (pos > size || (wholeFile && size - pos < 8)) return false;
    out.dataOffset = pos;
    return true;
}

InflateSource::InflateSource(ByteSource& compressed) : in_(compressed)
{
    zOpen_ = inflateInit2(&z_, -15) == Z_OK;
    failed_ = !zOpen_;
    crc_ = uint32_t(crc32(0L, Z_NULL, 0));
}

InflateSource::~InflateSource()
{
    if (zOpen_) inflateEnd(&z_);
}

bool InflateSource::Fill(size_t want)
{
    if (outPos_ > 0 && outEnd_ > outPos_) {
        std::memmove(outBuf_.data(), outBuf_.data() + outPos_, outEnd_ - outPos_);
    }
    outEnd_ -= outPos_;
    outPos_ = 0;
    if (outBuf_.empty()) outBuf_.resize(kBlock);
    if (inBuf_.empty()) inBuf_.resize(kBlock);
    while (!ended_ && !failed_ && outEnd_ < want) {
        if (z_.avail_in == 0 && !inputEnded_) {
            size_t got = in_.Read(inBuf_.data(), inBuf_.size());
            inputEnded_ = got == 0;
            z_.next_in = inBuf_.data();
            z_.avail_in = uInt(got);
        }
        z_.next_out = outBuf_.data() + outEnd_;
        z_.avail_out = uInt(outBuf_.size() - outEnd_);
        int rc = inflate(&z_, Z_NO_FLUSH);
        size_t produced = (outBuf_.size() - outEnd_) - z_.avail_out;
        crc_ = uint32_t(crc32(crc_, outBuf_.data() + outEnd_, uInt(produced)));
        total_ += produced;
        outEnd_ += produced;
        if (rc == Z_STREAM_END) {
            ended_ = true;
            trailerOk_ = ReadTrailer();
        } else if (rc != Z_OK && rc != Z_BUF_ERROR) {
            failed_ = true;  // damaged DEFLATE data
        } else if (produced == 0 && inputEnded_) {
            failed_ = true;  // the file ends inside the DEFLATE stream
        }
    }
    return outEnd_ > 0;
}

bool InflateSource::ReadTrailer()
{
    uint8_t trailer[8];
    size_t have = std::min<size_t>(z_.avail_in, 8);
    std::memcpy(trailer, z_.next_in, have);
    if (have < 8 && !ReadExact(in_, trailer + have, 8 - have)) return false;
    return ReadLe32(trailer) == crc_ && ReadLe32(trailer + 4) == uint32_t(total_);
}

size_t InflateSource::Read(uint8_t* buffer, size_t n)
{
    size_t done = 0;
    while (done < n) {
        if (outPos_ == outEnd_ && !Fill(1)) break;
        size_t take = std::min(n - done, outEnd_ - outPos_);
        std::memcpy(buffer + done, outBuf_.data() + outPos_, take);
        outPos_ += take;
        done += take;
    }
    return done;
}

size_t InflateSource::Peek(const uint8_t** data, size_t want)
{
    want = std::min(want, kBlock);
    if (outEnd_ - outPos_ < want) Fill(want);
    *data = outBuf_.data() + outPos_;
    return std::min(want, outEnd_ - outPos_);
}

bool InflateSource::Finish()
{
    while (!ended_ && !failed_) {
        outPos_ = outEnd_;
        Fill(kBlock);
    }
    outPos_ = outEnd_;
    return ended_ && !failed_ && trailerOk_;
}

bool LooksLikeTar(const uint8_t* data, size_t size)
{
    for (size_t k = 0; k < kTarProbeBlocks && (k + 1) * kTarBlock <= size; ++k)
        if (std::memcmp(data + k * kTarBlock + 257, "ustar", 5) == 0) return true;
    return false;
}

bool ParseTarHeader(const uint8_t* block, TarHeader& out)
{
    const char* raw = reinterpret_cast<const char*>(block);
    std::string name(raw, strnlen(raw, 100));
    // GNU tar's own magic ("ustar  ") keeps other fields where POSIX has the prefix.
    if (std::memcmp(block + 257, "ustar\0" "00", 8) == 0 && block[345] != 0)
        name = std::string(raw + 345, strnlen(raw + 345, 155)) + "/" + name;
    out.name = TarName(name);
    out.encoding = NameEncoding::CodePage;
    out.type = char(block[156]);
    return ParseTarNumber(block + 124, 12, out.size);
}

WalkResult WalkTar(ByteSource& in, EntrySink& sink, WalkStats& stats)
{
    std::vector<uint8_t> buffer;
    uint8_t block[kTarBlock];
    PendingHeader pending;
    for (;;) {
        size_t got = in.Read(block, kTarBlock);
        if (got < kTarBlock) {
            // A long name or pax header without its entry: the archive was cut.
            if (in.Failed() || pending.active) return WalkResult::Damaged;
            // The payload may end anywhere in the zero blocks that close the archive.
            return AllZero(block, got) ? WalkResult::Ok : WalkResult::Damaged;
        }
        if (block[0] == 0) continue;
        TarHeader h;
        if (!ParseTarHeader(block, h)) return WalkResult::Damaged;
        if (h.type == 'L' || h.type == 'K' || h.type == 'x' || h.type == 'g') {
            if (!ReadExtendedHeader(in, h, pending, buffer)) return WalkResult::Damaged;
            continue;
        }
        ApplyPending(pending, h);
        WalkResult r = TarMember(in, h, sink, buffer, stats);
        if (r != WalkResult::Ok) return r;
        if (!SkipPadding(in, h.size)) return WalkResult::Damaged;
    }
}

WalkResult WalkRecordStream(ByteSource& in, EntrySink& sink, WalkStats& stats)
{
    std::vector<uint8_t> buffer;
    // Until a first file stands, bytes that do not read as records mean the
    // payload is something else; a name or a write that fails is reported as
    // it is, for the caller to tell with ReadsAsRecordStream.
    auto fault = [&](WalkResult r) {
        if (stats.filesWritten || r == WalkResult::UnsafeName || r == WalkResult::SinkFailed) return r;
        return WalkResult::NotThisLayout;
    };
    for (;;) {
        uint8_t type = 0;
        if (in.Read(&type, 1) == 0) return in.Failed() ? fault(WalkResult::Damaged) : WalkResult::Ok;
        // Any byte but a record's ends the stream, as 'e' does.
        if (type != 'd' && type != 'f') return WalkResult::Ok;
        uint8_t len = 0;
        char raw[256];
        if (!ReadExact(in, &len, 1) || !ReadExact(in, reinterpret_cast<uint8_t*>(raw), len))
            return fault(WalkResult::Damaged);
        std::string name = WithBackslashes(std::string(raw, strnlen(raw, len)));
        if (!IsSafeRelativePath(name)) return fault(WalkResult::UnsafeName);
        if (type == 'd') {
            if (!sink.Directory(name, NameEncoding::CodePage)) return fault(WalkResult::SinkFailed);
            continue;
        }
        uint8_t sizeBytes[4];
        if (!ReadExact(in, sizeBytes, 4)) return fault(WalkResult::Damaged);
        WalkResult r = WriteEntry(in, name, NameEncoding::CodePage, ReadLe32(sizeBytes), sink, buffer, stats);
        if (r != WalkResult::Ok) return fault(r);
    }
}

bool ReadsAsRecordStream(ByteSource& in)
{
    std::vector<uint8_t> buffer;
    bool fileRecord = false;
    for (;;) {
        uint8_t type = 0;
        if (in.Read(&type, 1) == 0) return !in.Failed() && fileRecord;
        if (type != 'd' && type != 'f') return fileRecord;
        uint8_t len = 0;
        uint8_t name[256];
        if (!ReadExact(in, &len, 1) || !ReadExact(in, name, len)) return false;
        if (type == 'd') continue;
        uint8_t sizeBytes[4];
        if (!ReadExact(in, sizeBytes, 4) || SkipData(in, ReadLe32(sizeBytes), buffer) != WalkResult::Ok)
            return false;
        fileRecord = true;
    }
}

WalkResult WriteSingleFile(ByteSource& in, const std::string& name, EntrySink& sink,
                           WalkStats& stats)
{
    if (!IsSafeRelativePath(name)) return WalkResult::UnsafeName;
    if (!sink.BeginFile(name, NameEncoding::CodePage)) return WalkResult::SinkFailed;
    std::vector<uint8_t> buffer(kCopyBlock);
    bool ok = true;
    for (;;) {
        size_t got = in.Read(buffer.data(), buffer.size());
        if (got > 0 && !sink.WriteFile(buffer.data(), got)) {
            ok = false;
            break;
        }
        if (got < buffer.size()) break;
    }
    const bool damaged = in.Failed();
    if (!sink.EndFile(ok && !damaged)) ok = false;
    if (damaged) return WalkResult::Damaged;
    if (!ok) return WalkResult::SinkFailed;
    ++stats.filesWritten;
    return WalkResult::Ok;
}
