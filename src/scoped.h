// Scoped owners for platform handles: each closes its handle on every path.
#pragma once

#include <windows.h>

#include <utility>

template <typename T, typename Traits>
class Scoped {
public:
    Scoped() = default;
    explicit Scoped(T h) : h_(h) {}
    ~Scoped() { reset(); }
    Scoped(const Scoped&) = delete;
    Scoped& operator=(const Scoped&) = delete;
    Scoped(Scoped&& o) noexcept : h_(o.release()) {}
    Scoped& operator=(Scoped&& o) noexcept {
        if (this != &o) reset(o.release());
        return *this;
    }

    T get() const { return h_; }
    T* out() {
        reset();
        return &h_;
    }
    explicit operator bool() const { return Traits::valid(h_); }
    T release() {
        T h = h_;
        h_ = Traits::invalid();
        return h;
    }
    void reset(T h = Traits::invalid()) {
        if (Traits::valid(h_)) Traits::close(h_);
        h_ = h;
    }

private:
    T h_ = Traits::invalid();
};

struct FileHandleTraits {  // CreateFileW: INVALID_HANDLE_VALUE on failure
    static HANDLE invalid() { return INVALID_HANDLE_VALUE; }
    static bool valid(HANDLE h) { return h != INVALID_HANDLE_VALUE && h != nullptr; }
    static void close(HANDLE h) { CloseHandle(h); }
};
struct KernelHandleTraits {  // threads, processes, events: null on failure
    static HANDLE invalid() { return nullptr; }
    static bool valid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void close(HANDLE h) { CloseHandle(h); }
};
struct RegKeyTraits {
    static HKEY invalid() { return nullptr; }
    static bool valid(HKEY h) { return h != nullptr; }
    static void close(HKEY h) { RegCloseKey(h); }
};
struct GdiObjectTraits {
    static HGDIOBJ invalid() { return nullptr; }
    static bool valid(HGDIOBJ h) { return h != nullptr; }
    static void close(HGDIOBJ h) { DeleteObject(h); }
};

using ScopedFile = Scoped<HANDLE, FileHandleTraits>;
using ScopedHandle = Scoped<HANDLE, KernelHandleTraits>;
using ScopedKey = Scoped<HKEY, RegKeyTraits>;
using ScopedGdiObject = Scoped<HGDIOBJ, GdiObjectTraits>;

struct MemoryDcTraits {  // CreateCompatibleDC
    static HDC invalid() { return nullptr; }
    static bool valid(HDC h) { return h != nullptr; }
    static void close(HDC h) { DeleteDC(h); }
};
using ScopedMemoryDc = Scoped<HDC, MemoryDcTraits>;

// Selects an object into a DC and puts the previous one back when it goes out of scope.
class SelectedObject {
public:
    SelectedObject(HDC dc, HGDIOBJ object) : dc_(dc), previous_(object ? SelectObject(dc, object) : nullptr) {}
    ~SelectedObject() {
        if (previous_) SelectObject(dc_, previous_);
    }
    SelectedObject(const SelectedObject&) = delete;
    SelectedObject& operator=(const SelectedObject&) = delete;

private:
    HDC dc_;
    HGDIOBJ previous_;
};

// SaveDC on construction, RestoreDC on every way out (clip regions, modes, colours).
class SavedDcState {
public:
    explicit SavedDcState(HDC dc) : dc_(dc), saved_(SaveDC(dc)) {}
    ~SavedDcState() {
        if (saved_) RestoreDC(dc_, saved_);
    }
    SavedDcState(const SavedDcState&) = delete;
    SavedDcState& operator=(const SavedDcState&) = delete;

private:
    HDC dc_;
    int saved_;
};
