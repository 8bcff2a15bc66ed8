// Owners for Windows handles, so that every path out of a function closes them.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <utility>

// A kernel handle (file, process, thread) closed with CloseHandle. Both null
// and INVALID_HANDLE_VALUE count as "no handle".
class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE h) : h_(h) {}
    ~UniqueHandle() { Reset(); }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& o) noexcept : h_(std::exchange(o.h_, nullptr)) {}
    UniqueHandle& operator=(UniqueHandle&& o) noexcept
    {
        if (this != &o) { Reset(); h_ = std::exchange(o.h_, nullptr); }
        return *this;
    }
    HANDLE Get() const { return h_; }
    bool Valid() const { return h_ != nullptr && h_ != INVALID_HANDLE_VALUE; }
    explicit operator bool() const { return Valid(); }
    void Reset(HANDLE h = nullptr)
    {
        if (Valid()) CloseHandle(h_);
        h_ = h;
    }

private:
    HANDLE h_ = nullptr;
};

// A WinINet session or request handle, closed with InternetCloseHandle.
class InternetHandle {
public:
    InternetHandle() = default;
    explicit InternetHandle(HINTERNET h) : h_(h) {}
    ~InternetHandle() { Reset(); }
    InternetHandle(const InternetHandle&) = delete;
    InternetHandle& operator=(const InternetHandle&) = delete;
    InternetHandle(InternetHandle&& o) noexcept : h_(std::exchange(o.h_, nullptr)) {}
    InternetHandle& operator=(InternetHandle&& o) noexcept
    {
        if (this != &o) { Reset(); h_ = std::exchange(o.h_, nullptr); }
        return *this;
    }
    HINTERNET Get() const { return h_; }
    explicit operator bool() const { return h_ != nullptr; }
    void Reset(HINTERNET h = nullptr)
    {
        if (h_) InternetCloseHandle(h_);
        h_ = h;
    }

private:
    HINTERNET h_ = nullptr;
};

// A directory listing from FindFirstFileA, closed with FindClose.
class FindHandle {
public:
    FindHandle() = default;
    explicit FindHandle(HANDLE h) : h_(h) {}
    ~FindHandle()
    {
        if (Valid()) FindClose(h_);
    }
    FindHandle(const FindHandle&) = delete;
    FindHandle& operator=(const FindHandle&) = delete;
    HANDLE Get() const { return h_; }
    bool Valid() const { return h_ != INVALID_HANDLE_VALUE; }

private:
    HANDLE h_ = INVALID_HANDLE_VALUE;
};
