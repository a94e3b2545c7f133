// Counts of the process's live GDI objects and heap blocks, to tell whether a paint leaves
// anything behind. Wine answers 0 to GetGuiResources, so there the GDI objects are counted
// by asking GetObjectType about every index of the GDI handle table; GDI+ objects are heap
// memory, counted by walking every heap of the process.
#pragma once

#include <cstddef>

struct ObjectCensus {
    long gdiObjects = 0;
    size_t heapBlocks = 0;
    size_t heapBytes = 0;
};

ObjectCensus takeCensus();
const char* gdiCountMethod();  // how takeCensus counted GDI objects on this system
