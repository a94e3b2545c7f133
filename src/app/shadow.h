// The main window's drop shadow: a click-through layered window 18 pixels larger on every
// side, placed directly below the main window and hidden while it is resized, minimized
// or maximized.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

constexpr int kShadowMargin = 18;
constexpr int kShadowRings = 18;

// Alpha of ring i (0 next to the window, 17 outermost): 64 x (1 - i/18)^2, truncated.
int shadowRingAlpha(int ring);
// Scales blue, green and red by alpha for every pixel whose alpha is neither 0 nor 255.
void premultiplyPixels(uint32_t* pixels, size_t count);
// The shadow of a window of windowWidth x windowHeight as premultiplied top-down BGRA
// pixels of (windowWidth + 36) x (windowHeight + 36); GDI+ must be started. False when
// the pixels cannot be drawn.
bool renderShadowPixels(int windowWidth, int windowHeight, uint32_t* pixels);

bool registerShadowClass(HINSTANCE instance);
// Creates gApp.shadowWindow, hidden, around the main window's current rectangle or, with no
// main window yet, empty until updateShadow places it (null on failure).
HWND createShadowWindow(HINSTANCE instance, HWND mainWindow);
// Starts drawing the shadow for a window of that size on a worker (GDI+ must be started),
// for prerenderShadow to take; without it, or for another size, prerenderShadow draws itself.
void startShadowDrawing(int windowWidth, int windowHeight);
// Renders the shadow for a window of that size ahead of showing it.
void prerenderShadow(int windowWidth, int windowHeight);
// Renders the shadow when the size changed and puts it directly below window.
void updateShadow(HWND window);
