// Whole-file reads and writes of the launcher's small files (records, the
// patch level, the client's option, archive and server lists), with the
// Windows error of a failed write.
#pragma once

#include <cstdint>
#include <string>

// The file's bytes; false (and out empty) when it cannot be opened or read.
bool ReadWholeFile(const std::string& path, std::string& out);

// Creates or truncates path and writes bytes. A write that fails part-way
// removes the file, so a truncated copy is never taken for a good one.
bool WriteWholeFile(const std::string& path, const std::string& bytes, uint32_t& error);

// Writes bytes beside path (path + ".tmp", flushed) and moves them over it,
// so that a failure or a crash leaves the old file whole. A read-only target
// stays as it is.
bool ReplaceWholeFile(const std::string& path, const std::string& bytes, uint32_t& error);
