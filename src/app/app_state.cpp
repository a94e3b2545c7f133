#include "app/app_state.h"

#include <utility>

#include "scoped.h"

// Never destroyed: load, icon and download threads may still reach the catalog store and
// the window handles while the process runs its exit handlers.
AppState& gApp = *new AppState;

HFONT createUiFont(int height, int weight) {
    return CreateFontW(-height, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                       CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH, L"Microsoft YaHei");
}

bool createFonts(AppState& state, int dpi) {
    struct FontRecipe {
        HFONT AppState::*field;
        int height;
        int weight;
    };
    static const FontRecipe recipes[] = {
        {&AppState::fontHeadline, 22, 700}, {&AppState::fontTitle, 19, 700},  {&AppState::fontSmall, 13, 400},
        {&AppState::fontName, 16, 700},     {&AppState::fontBody, 14, 400},   {&AppState::fontMeta, 13, 400},
        {&AppState::fontButton, 14, 400},   {&AppState::fontSection, 20, 700}, {&AppState::fontSidebar, 18, 400},
        {&AppState::fontRow, 14, 400},      {&AppState::fontToast, 14, 400},  {&AppState::fontInitial, 32, 700},
        {&AppState::fontTool, 15, 400},
    };
    constexpr size_t kCount = sizeof(recipes) / sizeof(recipes[0]);
    // The set of the current scale replaces the old one only once it is made whole.
    std::vector<ScopedGdiObject> made(kCount);
    bool all = true;
    for (size_t i = 0; i < kCount; ++i) {
        made[i].reset(createUiFont(MulDiv(recipes[i].height, dpi, 96), recipes[i].weight));
        all = all && made[i];
    }
    if (!all && state.fontHeadline) return false;  // keep the working set of the old scale
    for (size_t i = 0; i < kCount; ++i) {
        state.*recipes[i].field = static_cast<HFONT>(made[i].get());
    }
    state.fontHandles = std::move(made);
    state.fontDpi = dpi;
    return all;
}
