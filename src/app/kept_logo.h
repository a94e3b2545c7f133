// The header logo as the header draws it, kept with the icons on disk (catalog/icon_cache.h)
// under a key made from the logo's resource bytes: a start reads a few kilobytes instead of
// decoding and scaling the 256-pixel original, and another logo in another build is
// another key. Any thread; GDI+ must be started.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "catalog/icon_image.h"
#include "ui/gdiplus.h"

// The module's logo resource (resource data 2) as stored; empty when it is missing.
std::string logoResourceBytes(HMODULE module);

// original scaled to width x height as the header draws it: high-quality bicubic,
// premultiplied, transparent around; null on failure.
std::unique_ptr<Gdiplus::Bitmap> scaleLogo(Gdiplus::Bitmap& original, int width, int height);

// The pixels of a drawing (premultiplied, top row first); none (size 0) on failure.
IconCopy drawnPixels(Gdiplus::Bitmap& drawn);

// The kept drawing of the module's logo at width x height; null when none is kept.
std::unique_ptr<Gdiplus::Bitmap> readKeptLogo(HMODULE module, int width, int height);
// Keeps drawn as the drawing of the module's logo at its size, beside those kept before.
bool keepLogo(HMODULE module, const IconCopy& drawn);
