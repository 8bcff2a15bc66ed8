#include "sync/record_file.h"

bool ReplaceFileContents(const std::string& path, const std::string& bytes, bool textMode)
{
    std::string data;
    if (textMode) {
        data.reserve(bytes.size() + bytes.size() / 16);
        for (char c : bytes) {
            if (c == '\n') data += '\r';
            data += c;
        }
    } else {
        data = bytes;
    }
    uint32_t error = 0;
    return ReplaceWholeFile(path, data, error);
}
