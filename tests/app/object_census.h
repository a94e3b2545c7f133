// Counts of the process's live GDI objects, heap blocks and kernel handles, to tell whether
// a paint or a request leaves anything behind. Wine answers 0 to GetGuiResources and to
// GetProcessHandleCount, so there the GDI objects are counted by asking GetObjectType about
// every index of the GDI handle table, and the kernel handles by asking GetHandleInformation
// about every handle value; GDI+ objects are heap memory, counted by walking every heap.
#pragma once

#include <cstddef>

struct ObjectCensus {
    long gdiObjects = 0;
    size_t heapBlocks = 0;
    size_t heapBytes = 0;
};

ObjectCensus takeCensus();
long kernelHandleCount();  // the process's open kernel handles (a walk of the table under Wine)
const char* gdiCountMethod();  // how takeCensus counted GDI objects on this system
