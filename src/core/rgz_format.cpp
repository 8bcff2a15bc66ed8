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

WalkResult WriteEntry(ByteSource& in, const std::string& name, uint64_t size, EntrySink& sink,
                      std::vector<uint8_t>& buffer, WalkStats& stats)
{
    if (!sink.BeginFile(name)) return WalkResult::SinkFailed;
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
    out.name = WithBackslashes(std::string(raw, strnlen(raw, 100)));
    while (out.name.compare(0, 2, ".\\") == 0) out.name.erase(0, 2);
    out.type = char(block[156]);
    return ParseTarNumber(block + 124, 12, out.size);
}

WalkResult WalkTar(ByteSource& in, EntrySink& sink, WalkStats& stats)
{
    std::vector<uint8_t> buffer;
    uint8_t block[kTarBlock];
    for (;;) {
        size_t got = in.Read(block, kTarBlock);
        if (got < kTarBlock) {
            if (in.Failed()) return WalkResult::Damaged;
            // The payload may end anywhere in the zero blocks that close the archive.
            return AllZero(block, got) ? WalkResult::Ok : WalkResult::Damaged;
        }
        if (block[0] == 0) continue;
        TarHeader h;
        if (!ParseTarHeader(block, h)) return WalkResult::Damaged;
        const uint64_t padding = (kTarBlock - h.size % kTarBlock) % kTarBlock;
        const bool pax = h.type == 'x' || h.type == 'g' || h.name.find("PaxHeader") != std::string::npos;
        const bool directory = h.type == '5' || (!h.name.empty() && h.name.back() == '\\');
        if (pax || h.name.empty()) {
            if (SkipData(in, h.size, buffer) != WalkResult::Ok) return WalkResult::Damaged;
        } else if (!IsSafeRelativePath(h.name)) {
            return WalkResult::UnsafeName;
        } else if (directory) {
            if (!sink.Directory(h.name)) return WalkResult::SinkFailed;
            if (SkipData(in, h.size, buffer) != WalkResult::Ok) return WalkResult::Damaged;
        } else {
            WalkResult r = WriteEntry(in, h.name, h.size, sink, buffer, stats);
            if (r != WalkResult::Ok) return r;
        }
        // The last entry's padding may be missing from a payload cut right after it.
        uint8_t pad[kTarBlock];
        if (padding && in.Read(pad, size_t(padding)) < padding && in.Failed()) return WalkResult::Damaged;
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
            if (!sink.Directory(name)) return fault(WalkResult::SinkFailed);
            continue;
        }
        uint8_t sizeBytes[4];
        if (!ReadExact(in, sizeBytes, 4)) return fault(WalkResult::Damaged);
        WalkResult r = WriteEntry(in, name, ReadLe32(sizeBytes), sink, buffer, stats);
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
    if (!sink.BeginFile(name)) return WalkResult::SinkFailed;
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
