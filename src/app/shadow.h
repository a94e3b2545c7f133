// The main window's drop shadow: a click-through layered window 18 pixels larger on every
// side (at 96 DPI), placed directly below the main window and hidden while it is resized, minimized
// or maximized.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

// The shadow's margin on every side at the window's scale (18 at 96 DPI); it has one ring
// per pixel of the margin.
int shadowMargin();

// Alpha of ring i of rings (0 next to the window): 64 x (1 - i/rings)^2, truncated.
int shadowRingAlpha(int ring, int rings = 18);
// Scales blue, green and red by alpha for every pixel whose alpha is neither 0 nor 255.
void premultiplyPixels(uint32_t* pixels, size_t count);
// The shadow of a window of windowWidth x windowHeight as premultiplied top-down BGRA
// pixels of (windowWidth + 2 margins) x (windowHeight + 2 margins); GDI+ must be started. False when
// the pixels cannot be drawn. renderShadowPixels draws a small shadow and stretches its
// straight middle; drawShadowRings draws every ring at full size.
bool renderShadowPixels(int windowWidth, int windowHeight, uint32_t* pixels);
bool drawShadowRings(int windowWidth, int windowHeight, uint32_t* pixels);

bool registerShadowClass(HINSTANCE instance);
// Creates gApp.shadowWindow, hidden, around the main window's current rectangle or, with no
// main window yet, empty until updateShadow places it (null on failure).
HWND createShadowWindow(HINSTANCE instance, HWND mainWindow);
// Renders the shadow for a window of that size ahead of showing it.
void prerenderShadow(int windowWidth, int windowHeight);
// Renders the shadow when the size changed and puts it directly below window.
void updateShadow(HWND window);
