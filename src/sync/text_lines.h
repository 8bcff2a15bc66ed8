// Line splitting shared by the readers of the service's patch list and the
// launcher's record files: lines end at LF, and one CR before it is dropped,
// so CR LF and LF documents read alike.
#pragma once

#include <string>

template <typename LineFn>
void ForEachLine(const std::string& text, LineFn onLine)
{
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        onLine(line);
    }
}
