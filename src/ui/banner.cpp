// The completion banner: a small card in the bottom-right corner naming the finished
// download and saying what became of it; a click on it dismisses it.
#include "ui/layout.h"
#include "ui/looks.h"
#include "ui/scale.h"
#include "ui/ui.h"

void drawCompletionBanner(Gdiplus::Graphics& graphics, HDC hdc, int W, int H, const PaintFrame& frame) {
    ViewState& view = *frame.view;
    const RECT banner = bannerRect(W, H);
    fillRoundRect(graphics, banner, areaCornerRadius(HitBanner), BannerFill);
    strokeRoundRect(graphics, banner, areaCornerRadius(HitBanner), BannerBorder);

    // Only the current lists: an app dropped by a reload shows the "?" placeholder.
    drawAppIcon(graphics, findApp(frame.lists->apps, view.bannerTaskId), bannerIconRect(W, H), frame);

    const UINT line = DT_END_ELLIPSIS | DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX;  // "&" is a character
    drawText(hdc, view.bannerText, RECT{W - px(286), H - px(91), W - px(34), H - px(67)}, view.fontName, TextPrimary, line);
    auto task = frame.tasks.find(view.bannerTaskId);
    const BannerInstall install = shownBannerInstall(
        view.bannerInstall, task == frame.tasks.end() ? nullptr : &task->second, view.bannerGeneration);
    const BannerMessage message = bannerMessage(view.bannerVerified, view.bannerIsArchive, install, view.bannerUnverifiable);
    drawText(hdc, message.text, RECT{W - px(286), H - px(61), W - px(34), H - px(37)}, view.fontBody, message.colour, line);

    view.hitRects.push_back(HitRect{banner, HitBanner, 0});
}
