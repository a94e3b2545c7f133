// The main window's keyboard and screen-reader side: the focused area, the keys, the
// focus ring, the client object answered to WM_GETOBJECT and the events screen readers
// listen for. User-interface thread only.
#pragma once

#include <windows.h>

#include "app/focus.h"

struct PaintFrame;

namespace Gdiplus {
class Graphics;
}

// What a left press on an area does; the keys and the default action use the same path.
using PressArea = void (*)(HWND window, int kind, int id);
void setAreaPress(PressArea press);

// WM_KEYDOWN: true when the key was used. repeated: the key was already down (an automatic
// repeat of a held key).
bool onKeyboardKey(HWND window, WPARAM virtualKey, bool repeated);
// A left press on the client (kind 0 when it hit no area): hides the ring and moves the
// focus to the pressed area, so that Tab goes on from there.
void onMousePress(int kind, int id);
// WM_GETOBJECT.
LRESULT onGetObject(HWND window, WPARAM wParam, LPARAM lParam);
// After each paint: focus moved away from a vanished area, a new toast, a focused label
// that changed are told to screen readers.
void announceAfterPaint(HWND window);
// WM_NCDESTROY: client objects still held by screen readers answer CO_E_OBJNOTCONNECTED.
void releaseAccessibility();

// Drawn last by the main view, after a key moved the focus and until the next press. It
// also settles the focus on this paint's areas.
void paintFocusRing(Gdiplus::Graphics& graphics, const PaintFrame& frame, int width, int height);

// For tests: the focused area and whether the ring shows.
FocusKey keyboardFocus();
bool focusRingShown();
void resetKeyboardFocus();
// For tests: how many focus orders and screen-reader child lists were made so far.
struct KeyboardCounts {
    unsigned orders = 0;
    unsigned children = 0;
};
KeyboardCounts keyboardCounts();
