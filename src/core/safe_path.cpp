#include "core/safe_path.h"

bool IsSafeRelativePath(const std::string& path)
{
    std::string p = path;
    for (char& c : p)
        if (c == '\\') c = '/';
    // A leading ".\" may come with its separator doubled (a JSON writer's
    // escape of ".\"): still relative. A path that begins with a separator
    // is not.
    while (p.compare(0, 2, "./") == 0) p.erase(0, p.find_first_not_of('/', 1));
    if (p.empty() || p[0] == '/') return false;       // absolute, or a share (//host)
    if (p.find(':') != std::string::npos) return false;  // drive letters, streams
    if (p.find('\0') != std::string::npos) return false;
    size_t start = 0;
    bool anyName = false;
    while (start <= p.size()) {
        size_t end = p.find('/', start);
        if (end == std::string::npos) end = p.size();
        std::string segment = p.substr(start, end - start);
        // Windows drops trailing dots and blanks from names, so "..." or ".. "
        // may still mean the parent: a segment of only dots and blanks is
        // refused unless it is a plain ".".
        if (segment != "." && !segment.empty() &&
            segment.find_first_not_of(". ") == std::string::npos)
            return false;
        if (!segment.empty() && segment != ".") anyName = true;
        start = end + 1;
    }
    return anyName;
}

bool KeepsItsNameOnWindows(const std::string& path)
{
    size_t start = 0;
    for (;;) {
        const size_t end = path.find_first_of("/\\", start);
        const std::string segment = path.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (segment != "." && !segment.empty() && (segment.back() == '.' || segment.back() == ' ')) return false;
        if (end == std::string::npos) return true;
        start = end + 1;
    }
}
