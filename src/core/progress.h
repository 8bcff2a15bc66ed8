// The progress sink through which every long operation reports.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

// (text for the status line, percent 0..100, bytes done, bytes total or 0).
// May be empty; reporters call it on their own thread, synchronously.
using ProgressCallback =
    std::function<void(const std::string& text, float percent, uint64_t done, uint64_t total)>;
