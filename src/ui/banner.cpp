// The completion banner: a small card in the bottom-right corner naming the finished
// download and saying what became of it; a click on it dismisses it.
#include "ui/looks.h"
#include "ui/ui.h"

void drawCompletionBanner(Gdiplus::Graphics& graphics, HDC hdc, int W, int H, const PaintFrame& frame) {
    const RECT banner = bannerRect(W, H);
    fillRoundRect(graphics, banner, 10, BannerFill);
    strokeRoundRect(graphics, banner, 10, BannerBorder);

    // Only the current lists: an app dropped by a reload shows the "?" placeholder.
    drawAppIcon(graphics, findApp(frame.lists->apps, gApp.bannerTaskId), RECT{W - 342, H - 84, W - 298, H - 40},
                frame);

    const UINT line = DT_END_ELLIPSIS | DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX;  // "&" is a character
    drawText(hdc, gApp.bannerText, RECT{W - 286, H - 91, W - 34, H - 67}, gApp.fontName, TextPrimary, line);
    auto task = frame.tasks.find(gApp.bannerTaskId);
    const BannerInstall install = shownBannerInstall(
        gApp.bannerInstall, task == frame.tasks.end() ? nullptr : &task->second, gApp.bannerGeneration);
    const BannerMessage message = bannerMessage(gApp.bannerVerified, gApp.bannerIsArchive, install);
    drawText(hdc, message.text, RECT{W - 286, H - 61, W - 34, H - 37}, gApp.fontBody, message.colour, line);

    gApp.hitRects.push_back(HitRect{banner, HitBanner, 0});
}
