#include "app/object_census.h"

#include <windows.h>

#include <vector>

namespace {

bool gdiTableWalked = false;

// Wine hands out GDI handles as a table index in the low word and a type-and-generation
// tag in the high word, and accepts a handle whose high word is zero for any live entry.
long walkGdiTable() {
    long count = 0;
    for (uintptr_t index = 1; index < 0x10000; ++index) {
        if (GetObjectType(reinterpret_cast<HGDIOBJ>(index)) != 0) ++count;
    }
    return count;
}

// Kernel handles are multiples of four, handed out lowest first; the walk covers 16383 of
// them, far more than a test process holds.
long walkHandleTable() {
    long count = 0;
    for (uintptr_t value = 4; value < 0x10000; value += 4) {
        DWORD flags = 0;
        if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++count;
    }
    return count;
}

}  // namespace

ObjectCensus takeCensus() {
    ObjectCensus census;
    const DWORD reported = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    gdiTableWalked = reported == 0;
    census.gdiObjects = gdiTableWalked ? walkGdiTable() : static_cast<long>(reported);

    std::vector<HANDLE> heaps(64);
    DWORD count = GetProcessHeaps(static_cast<DWORD>(heaps.size()), heaps.data());
    if (count > heaps.size()) {
        heaps.resize(count);
        count = GetProcessHeaps(count, heaps.data());
    }
    heaps.resize(count < heaps.size() ? count : heaps.size());
    for (HANDLE heap : heaps) {
        if (!HeapLock(heap)) continue;
        PROCESS_HEAP_ENTRY entry{};
        while (HeapWalk(heap, &entry)) {
            if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) {
                ++census.heapBlocks;
                census.heapBytes += entry.cbData;
            }
        }
        HeapUnlock(heap);
    }
    return census;
}

long kernelHandleCount() {
    DWORD handles = 0;
    return GetProcessHandleCount(GetCurrentProcess(), &handles) && handles != 0 ? static_cast<long>(handles)
                                                                                : walkHandleTable();
}

const char* gdiCountMethod() {
    return gdiTableWalked ? "GDI handle table walked with GetObjectType" : "GetGuiResources(GR_GDIOBJECTS)";
}
