// GDI+ with the min/max it expects, for every file that draws.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <algorithm>
namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <gdiplus.h>
