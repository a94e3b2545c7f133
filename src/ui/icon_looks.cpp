#include "ui/looks.h"

#include "ui/palette.h"

COLORREF placeholderColour(int32_t appId) { return PlaceholderColours[appId < 0 ? 0 : appId % 5]; }

COLORREF tint(COLORREF colour, int percent) {
    auto channel = [percent](int v) { return 255 - ((255 - v) * percent) / 100; };
    return RGB(channel(GetRValue(colour)), channel(GetGValue(colour)), channel(GetBValue(colour)));
}

int placeholderRadius(int width) { return (width * 12) / 64; }

wchar_t placeholderLetter(const App* app) { return app && !app->name.empty() ? app->name[0] : L'?'; }
