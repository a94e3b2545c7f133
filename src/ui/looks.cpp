#include "ui/looks.h"

#include <algorithm>
#include <climits>

#include "download/format.h"
#include "ui/palette.h"
#include "ui/scale.h"

namespace {

int kGridTitleSpace() { return px(48); }
int kGridMargin() { return px(14); }
int kGridGap() { return px(14); }
int kScrollRoom() { return px(14); }  // below the last row when scrolled to the end
int kThumbMin() { return px(36); }

int clampToInt(int64_t v) {
    return static_cast<int>(std::max<int64_t>(INT_MIN, std::min<int64_t>(INT_MAX, v)));
}

// The thin scrollbar shared by the grid and the panel: a 4-pixel track over the whole
// band and a thumb proportional to the visible share, never under 36 pixels scaled (nor taller
// than the track itself in a band too short for that).
ScrollbarGeom scrollbarGeom(int left, int top, int viewH, int contentH, int maxScroll, int scroll) {
    ScrollbarGeom bar;
    if (maxScroll <= 0 || viewH <= 0 || contentH <= 0) return bar;
    const int thumbH = static_cast<int>(
        std::min<int64_t>(viewH, std::max<int64_t>(kThumbMin(), int64_t(viewH) * viewH / contentH)));
    const int thumbTop = top + clampToInt(int64_t(viewH - thumbH) * scroll / maxScroll);
    bar.visible = true;
    bar.trackLeft = left;
    bar.trackTop = top;
    bar.trackRight = left + px(4);
    bar.trackBottom = top + viewH;
    bar.thumbLeft = left;
    bar.thumbTop = thumbTop;
    bar.thumbRight = left + px(4);
    bar.thumbBottom = thumbTop + thumbH;
    bar.maxScroll = maxScroll;
    return bar;
}

ButtonLook primaryLook(const wchar_t* label, bool hot) {
    ButtonLook look;
    look.label = label;
    look.fill = hot ? AccentHot : Accent;
    look.text = TextOnAccent;
    return look;
}

}  // namespace

GridGeometry gridGeometry(const RECT& area, bool hasTitle, int appCount, int scroll) {
    GridGeometry g;
    g.gridTop = area.top + (hasTitle ? kGridTitleSpace() : 0);
    g.width = area.right - area.left;
    g.viewH = area.bottom - g.gridTop;
    // The column rule is decided in 96-DPI pixels, so that a width scaled from one that
    // gives n columns gives n columns at every scale.
    const int width96 = MulDiv(g.width, 96, uiDpi());
    g.cols = width96 < 908 ? 3 : (width96 - 28) / 220;
    g.cardW = (g.width - 2 * kGridMargin() - (g.cols - 1) * kGridGap()) / g.cols;
    const int64_t count = std::max(0, appCount);
    g.rows = clampToInt((count + g.cols - 1) / g.cols);
    g.contentH = clampToInt(int64_t(g.rows) * gridRowPitch());
    // An empty list has nothing to scroll to, whatever the height of the view.
    g.maxScroll = count == 0 ? 0 : clampToInt(std::max<int64_t>(0, int64_t(g.contentH) - g.viewH + kScrollRoom()));
    g.scroll = std::max(0, std::min(scroll, g.maxScroll));
    return g;
}

RECT gridCardRect(const GridGeometry& g, const RECT& area, int index) {
    const int col = index % g.cols;
    const int row = index / g.cols;
    const int x0 = area.left + col * (g.cardW + kGridGap());
    const int y = clampToInt(int64_t(g.gridTop) + int64_t(row) * gridRowPitch() - g.scroll);
    return RECT{x0 + kGridMargin(), y, x0 + kGridMargin() + g.cardW, clampToInt(int64_t(y) + gridCardHeight())};
}

bool gridCardVisible(const GridGeometry& g, const RECT& area, const RECT& card) {
    return card.top < area.bottom && card.bottom > g.gridTop;
}

RECT gridButtonRect(const GridGeometry& g, const RECT& card) {
    const int left = card.left + (g.cardW - px(100)) / 2;
    return RECT{left, card.top + px(188), left + px(100), card.top + px(220)};
}

ScrollbarGeom gridScrollbarGeom(const GridGeometry& g, const RECT& area, int appCount) {
    if (appCount <= 0) return ScrollbarGeom();
    return scrollbarGeom(area.right - px(7), g.gridTop, g.viewH, g.contentH, g.maxScroll, g.scroll);
}

ButtonLook cardButtonLook(int state, int percent, bool isArchive, bool hasPackage, bool hot, bool interrupted) {
    const int p = std::max(0, std::min(100, percent));
    ButtonLook look;
    switch (state) {
    case 0:
    case 1:
        look.label = state == 0 ? L"下载中 " + std::to_wstring(p) + L"%" : std::wstring(L"校验中");
        look.fill = Neutral;
        look.text = TextAccent;
        if (p >= 1) {
            look.progressFill = AccentWash;
            look.progressWidth = px(p);  // one pixel per percent at 96 DPI
        }
        return look;
    case 2:
    case 7:
        return primaryLook(isArchive ? L"打开文件夹" : L"立即安装", hot);
    case 3:
        return primaryLook(interrupted ? L"继续下载" : L"重试", hot);
    case 4:
        return primaryLook(L"重新下载", hot);
    case 5:
    case 6:
        look.label = state == 5 ? L"已安装" : L"安装中";
        look.fill = SuccessWash;
        look.text = TextSuccess;
        return look;
    default:  // no task (or a state this build does not know): what the catalog offers
        if (!hasPackage) {
            look.label = L"敬请期待";
            look.fill = Neutral;
            look.text = TextDisabled;
            return look;
        }
        return primaryLook(L"安 装", hot);
    }
}

int taskPercent(int64_t downloadedBytes, int64_t totalBytes) {
    if (totalBytes < 1 || downloadedBytes <= 0) return 0;
    if (downloadedBytes >= totalBytes) return 100;
    if (downloadedBytes <= INT64_MAX / 100) return static_cast<int>(downloadedBytes * 100 / totalBytes);
    return static_cast<int>(static_cast<long double>(downloadedBytes) * 100 / totalBytes);
}

std::wstring metaLine(int64_t packageSize, int64_t updatedAt) {
    std::wstring text = packageSize >= 1 ? formatSize(packageSize) : std::wstring();
    const std::wstring date = formatDate(updatedAt);
    if (!date.empty()) {
        if (!text.empty()) text += L" · ";
        text += date;
        text += L"更新";
    }
    return text;
}

std::wstring sectionTitle(bool noCategories, const std::wstring& name, size_t count) {
    if (noCategories) return L"暂无分类";
    return name + L" · " + std::to_wstring(count) + L" 款";
}

int gridCardHeight() { return px(234); }
int gridRowPitch() { return px(248); }
int panelRowHeight() { return px(86); }
int panelRowPitch() { return px(96); }
int panelTrackLeft() { return px(298); }
int panelTrackRight(int width) { return width - px(260); }
int panelButtonTop() { return px(28); }
int panelButtonHeight() { return px(30); }

PanelGeometry panelGeometry(int height, int taskCount, int scroll) {
    PanelGeometry g;
    g.rowsTop = px(158);
    g.viewTop = px(158);
    g.viewBottom = std::max(height, g.viewTop);
    const int64_t count = std::max(0, taskCount);
    g.contentH = count == 0 ? 0 : clampToInt(count * panelRowPitch() - (panelRowPitch() - panelRowHeight()));
    const int viewH = g.viewBottom - g.viewTop;
    g.maxScroll = count == 0 ? 0 : clampToInt(std::max<int64_t>(0, int64_t(g.contentH) - viewH + kScrollRoom()));
    g.scroll = std::max(0, std::min(scroll, g.maxScroll));
    return g;
}

RECT panelRowRect(const PanelGeometry& g, int width, int index) {
    const int top = clampToInt(int64_t(g.rowsTop) + int64_t(index) * panelRowPitch() - g.scroll);
    return RECT{px(220), top, width - px(20), clampToInt(int64_t(top) + panelRowHeight())};
}

ScrollbarGeom panelScrollbarGeom(const PanelGeometry& g, int width) {
    return scrollbarGeom(width - px(19), g.viewTop, g.viewBottom - g.viewTop, g.contentH, g.maxScroll, g.scroll);
}

RowLook panelRowLook(const TaskInfo& task, int width) {
    RowLook look;
    look.name = task.name;
    look.nameColour = TextPrimary;
    if (task.state == 2 && !task.md5Ok && !task.md5Unverified) {
        look.nameSuffix = L"  (MD5 校验不一致)";
        look.nameColour = TextDanger;
    }

    const int p = taskPercent(task.downloadedBytes, task.totalBytes);
    const int trackW = panelTrackRight(width) - panelTrackLeft();
    if (trackW >= 1) {
        switch (task.state) {
        case 0:
            if (p >= 1) {
                look.barWidth = static_cast<int>(int64_t(trackW) * p / 100);
                if (look.barWidth >= 1) look.barFill = Accent;
                else look.barWidth = 0;
            }
            break;
        case 2:
        case 5:
        case 6:
        case 7:
            look.barFill = Success;
            look.barWidth = trackW;
            break;
        case 3:
            if (task.interrupted) {
                // Paused, not broken: the part already fetched, in the quiet accent.
                look.barWidth = static_cast<int>(int64_t(trackW) * p / 100);
                look.barFill = look.barWidth >= 1 ? AccentWash : 0;
                break;
            }
            look.barFill = DangerWash;
            look.barWidth = trackW;
            break;
        default:
            break;
        }
    }

    const int right = width - px(36);
    const PanelButton cancel{L"取消", HitPanelCancel, width - px(112), right, false};
    const PanelButton folderWide{L"打开文件夹", HitPanelFolder, width - px(136), right, false};
    switch (task.state) {
    case 0:
        // A stalled download has no speed text: no separator dangles before it.
        look.status = formatSize(task.downloadedBytes) + L" / " + formatSize(task.totalBytes);
        if (!formatSpeed(task.speed).empty()) look.status += L" · " + formatSpeed(task.speed);
        if (task.retryCount > 0) look.status += L" · 网络波动，正在重试";
        look.statusColour = TextSecondary;
        look.buttons = {cancel};
        break;
    case 1:
        look.status = L"正在校验文件...";
        look.statusColour = TextSecondary;
        look.buttons = {cancel};
        break;
    case 2:
    case 7:
        if (task.state == 2 && task.md5Unverified) {
            look.status = L"无法校验文件，已禁止安装";
            look.statusColour = TextDanger;
        } else if (task.state == 2) {
            look.status = task.isArchive ? L"下载成功 · 压缩包已保存" : L"下载完成";
            look.statusColour = TextSuccess;
        } else {
            // An installer that could not be started says why; one that ran and was
            // cancelled says so.
            look.status = task.errorText.empty() ? L"安装已取消，可点击右侧按钮重新安装" : task.errorText;
            look.statusColour = TextDanger;
        }
        if (task.isArchive) {
            look.buttons = {folderWide};
        } else {
            look.buttons = {PanelButton{L"打开文件夹", HitPanelFolder, width - px(198), width - px(122), false},
                            PanelButton{L"安装", HitPanelInstall, width - px(112), right, true}};
        }
        break;
    case 3:
    case 4:
        if (task.state == 3 && task.interrupted) {
            look.status = L"已下载 " + formatSize(task.downloadedBytes) + L" / " + formatSize(task.totalBytes) + L" · " +
                          task.errorText;
            look.statusColour = TextSecondary;
            look.buttons = {PanelButton{L"继续", HitPanelRetry, width - px(112), right, true}};
            break;
        }
        look.status = task.state == 3 ? L"下载失败：" + task.errorText : std::wstring(L"已取消");
        look.statusColour = task.state == 3 ? TextDanger : TextSecondary;
        look.buttons = {PanelButton{L"重试", HitPanelRetry, width - px(112), right, true}};
        break;
    case 5:
    case 6:
        if (task.state == 5)
            look.status = L"安装完成";
        else
            look.status = task.installWaiting ? L"等待其他安装完成" : L"正在安装，请稍候...";
        look.statusColour = TextSuccess;
        look.buttons = {folderWide};
        break;
    default:
        look.statusColour = TextSecondary;
        break;
    }
    return look;
}

std::wstring panelTitle(size_t taskCount) {
    return L"下载管理 · " + std::to_wstring(taskCount) + L" 个任务";
}

RECT bannerRect(int width, int height) {
    return RECT{width - px(356), height - px(104), width - px(20), height - px(20)};
}

BannerMessage bannerMessage(bool verified, bool isArchive, BannerInstall install, bool unverifiable) {
    const COLORREF colour = verified ? TextTertiary : TextWarning;
    if (unverifiable) return {L"无法校验文件，已禁止安装", TextWarning};
    if (isArchive) return {L"下载成功，压缩包已保存", colour};
    if (!verified) return {L"下载完成，校验不一致，请谨慎安装", colour};
    switch (install) {
    case BannerInstall::Opening:
        return {L"下载完成，正在打开安装向导", colour};
    case BannerInstall::Waiting:
        return {L"下载完成，等待其他安装完成", colour};
    case BannerInstall::NotStarted:
        return {L"下载完成，安装程序未能启动", TextWarning};
    case BannerInstall::Started:
        break;
    }
    return {L"下载完成，已打开安装向导", colour};
}

BannerInstall shownBannerInstall(BannerInstall stored, const TaskInfo* task, uint64_t generation) {
    if (stored == BannerInstall::Opening && task && task->generation == generation && task->installWaiting &&
        task->state == static_cast<int32_t>(TaskState::Installing))
        return BannerInstall::Waiting;
    return stored;
}
