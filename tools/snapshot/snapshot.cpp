// kv_snapshot: paints the main view for named fixture states into PNG files, so that a
// person can judge the window by looking at it, and proves that every state paints.
//
//   kv_snapshot [--dpi N] [output folder] [demo catalog folder] [state ...]
//
// Without states every state is painted. --dpi paints at that display scale (96 when
// not given): the window, its texts and icons grow by N / 96. Prints one line per state and exits with the
// number of states that could not be painted or saved.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/app_state.h"
#include "app/main_view.h"
#include "fixtures.h"
#include "ui/paint_support.h"
#include "ui/palette.h"
#include "ui/scale.h"
#include "ui/ui.h"

#ifndef KV_SNAPSHOT_CATALOG_DIR
#define KV_SNAPSHOT_CATALOG_DIR "tools\\demo-catalog"
#endif

namespace {

using snapshot::Lists;
using snapshot::makeApp;
using snapshot::makeTask;

constexpr uint32_t kNow = 1000000;  // the frames' tick; toasts and banners are set just before it
constexpr wchar_t kDownloadDir[] = L"C:\\Users\\星舟\\Downloads\\星舟软件管家";
// Fixture frames never fetch icons; should a painter start one anyway it goes nowhere.
constexpr wchar_t kInertServer[] = L"http://127.0.0.1:9";

struct Fixtures {
    Lists demoIcons;     // the demo catalog with its icons decoded
    Lists demo;          // the demo catalog with placeholders
    Lists demoAll;       // the demo catalog with a "全部软件" category holding everything
    Lists demoMany;      // the demo catalog's categories and more, for the sidebar scrollbar
    Lists empty;         // no categories, no applications
    Lists emptyCategory; // a category without applications beside the demo ones
    Lists longNames;
    Lists cardStates;
    Lists panelApps;
    std::vector<TaskInfo> cardTasks;
    std::vector<TaskInfo> rowTasks;
};

struct Scene {
    int width = 1180;
    int height = 780;
    PaintFrame frame;
};

struct State {
    std::string name;  // the PNG's file name without ".png"
    std::function<void(const Fixtures&, Scene&)> setup;
};

std::wstring widen(const char* text) {
    std::wstring out;
    while (*text) out += static_cast<wchar_t>(static_cast<unsigned char>(*text++));
    return out;
}

void addTasks(Scene& scene, const std::vector<TaskInfo>& tasks, size_t count = SIZE_MAX) {
    for (size_t i = 0; i < tasks.size() && i < count; ++i) scene.frame.tasks[tasks[i].appId] = tasks[i];
}

void catalogOf(Scene& scene, const Lists& lists, const wchar_t* categoryId) {
    scene.frame.lists = lists;
    gApp.viewMode = 0;
    gApp.selectedCategoryId = categoryId;
}

void panelOf(Scene& scene, const Fixtures& fx, size_t taskCount) {
    scene.frame.lists = fx.panelApps;
    gApp.viewMode = 1;
    gApp.selectedCategoryId = L"1";
    addTasks(scene, fx.rowTasks, taskCount);
}

void hover(int kind, int id = 0) {
    gApp.hoverValid = true;
    gApp.hoverKind = kind;
    gApp.hoverId = id;
}

void toast(const wchar_t* text, int kind) {
    gApp.toastText = text;
    gApp.toastKind = kind;
    gApp.toastTick = kNow - 400;
}

void banner(const TaskInfo& task, bool verified, bool isArchive, BannerInstall install = BannerInstall::Started) {
    gApp.bannerText = task.name;
    gApp.bannerTaskId = task.appId;
    gApp.bannerVerified = verified;
    gApp.bannerIsArchive = isArchive;
    gApp.bannerGeneration = task.generation;
    gApp.bannerInstall = install;
    gApp.bannerUnverifiable = task.md5Unverified;
    gApp.bannerTick = kNow - 1500;
}

Lists makeLists(std::vector<Category> categories, std::vector<App> apps) {
    auto lists = std::make_shared<CatalogLists>();
    lists->categories = std::move(categories);
    lists->apps = std::move(apps);
    return lists;
}

// Applications whose cards show every button look, one per card, with the matching tasks.
void buildCardStates(Fixtures& fx) {
    struct Row {
        const wchar_t* name;
        const wchar_t* description;
        bool hasPackage;
        int state;  // -1 without a task
        int percent;
        bool isArchive;
    };
    static const Row rows[] = {
        {L"未上架软件", L"无安装包：敬请期待", false, -1, 0, false},
        {L"可安装软件", L"无任务：安 装", true, -1, 0, false},
        {L"刚开始下载", L"下载中 0%，没有进度条", true, 0, 0, false},
        {L"下载过半", L"下载中 40%", true, 0, 40, false},
        {L"正在校验", L"校验中", true, 1, 100, false},
        {L"压缩包软件", L"压缩包已下载：打开文件夹", true, 2, 100, true},
        {L"安装包软件", L"安装包已下载：立即安装", true, 2, 100, false},
        {L"下载失败软件", L"下载失败：重试", true, 3, 25, false},
        {L"已取消软件", L"已取消：重新下载", true, 4, 10, false},
        {L"已安装软件", L"已安装", true, 5, 100, false},
        {L"安装中软件", L"安装中", true, 6, 100, false},
        {L"安装未完成", L"安装已取消：立即安装", true, 7, 100, false},
    };
    std::vector<App> apps;
    int32_t id = 2000;
    for (const Row& row : rows) {
        apps.push_back(makeApp(id, row.name, L"2.1", row.description, 52428800, row.hasPackage, L"1"));
        if (row.state >= 0) {
            TaskInfo task = makeTask(id, row.name, static_cast<TaskState>(row.state), 52428800LL * row.percent / 100,
                                     52428800);
            task.isArchive = row.isArchive;
            fx.cardTasks.push_back(task);
        }
        ++id;
    }
    fx.cardStates = makeLists({{L"1", L"按钮状态"}}, std::move(apps));
}

// Download tasks in every row look; the applications behind them (one is missing on purpose).
void buildRowTasks(Fixtures& fx) {
    const int64_t mb = 1048576;
    std::vector<TaskInfo>& t = fx.rowTasks;
    t.push_back(makeTask(3001, L"星盾安全卫士", TaskState::Downloading, 37 * mb, 88 * mb));
    t.back().speed = 2411724;
    t.push_back(makeTask(3002, L"飞鸽聊天", TaskState::Downloading, 32 * mb, 216 * mb));
    t.back().speed = 524288;
    t.back().retryCount = 3;
    t.push_back(makeTask(3003, L"已下架的应用", TaskState::Downloading, 0, 0));
    t.push_back(makeTask(3004, L"蓝鲸浏览器", TaskState::Verifying, 135 * mb, 135 * mb));
    t.push_back(makeTask(3005, L"青柠播放器", TaskState::Completed, 63 * mb, 63 * mb));
    t.push_back(makeTask(3006, L"飞速压缩", TaskState::Completed, 3 * mb, 3 * mb));
    t.back().isArchive = true;
    t.push_back(makeTask(3007, L"墨竹 Office 2024 版", TaskState::Completed, 236 * mb, 236 * mb));
    t.back().md5Ok = false;
    t.push_back(makeTask(3008, L"知行笔记", TaskState::Failed, 20 * mb, 89 * mb));
    t.back().errorText = L"HTTP 503";
    t.push_back(makeTask(3009, L"晨曦拼音输入法", TaskState::Cancelled, 12 * mb, 48 * mb));
    t.push_back(makeTask(3010, L"银河电脑管家", TaskState::Installed, 95 * mb, 95 * mb));
    t.push_back(makeTask(3011, L"闪电驱动大师", TaskState::Installing, 28 * mb, 28 * mb));
    t.push_back(makeTask(3012, L"远程桌面助手", TaskState::InstallFailed, 52 * mb, 52 * mb));
    t.push_back(makeTask(3013, L"清风截图", TaskState::Completed, 9 * mb, 9 * mb));
    t.back().md5Ok = false;
    t.back().md5Unverified = true;

    std::vector<App> apps;
    for (const TaskInfo& task : t) {
        if (task.appId == 3003) continue;  // its row shows the "?" placeholder
        apps.push_back(makeApp(task.appId, task.name, L"1.0", L"", task.totalBytes, true, L"1"));
    }
    fx.panelApps = makeLists({{L"1", L"装机必备"}, {L"2", L"安全杀毒"}, {L"3", L"聊天社交"}}, std::move(apps));
}

void buildLongNames(Fixtures& fx) {
    std::vector<App> apps;
    const wchar_t* cat = L"1";
    apps.push_back(makeApp(4001, L"超级无敌长名字的电脑系统优化与垃圾清理专业版工具箱", L"12.3",
                           L"这是一段非常非常长的应用描述文字，用来检查卡片里的描述是否会被省略号截断而不会溢出卡片边界",
                           5905580032LL, true, cat));
    apps.push_back(makeApp(4002, L"WWWWWWWWWWWWWWWWWWWWWWWWWWWW", L"2024.10", L"Latin wide letters with a long version tag",
                           1536, true, cat));
    apps.push_back(makeApp(4003, L"", L"1.0", L"名称为空时只显示版本号", 1048576, true, cat));
    apps.push_back(makeApp(4004, L"没有版本号但名字特别长的应用程序名称展示", L"", L"无版本号", 1023, true, cat));
    apps.push_back(makeApp(4005, L"恰好", L"999.999", L"大小为 0：只显示日期", 0, true, cat));
    apps.push_back(makeApp(4006, L"无描述", L"1.2", L"", 734003200, false, cat));
    fx.longNames = makeLists({{L"1", L"系统工具与性能优化超级加速大全合集"},
                              {L"2", L"AI智能助手"},
                              {L"3", L"Extremely Long Category Name Here"},
                              {L"4", L"短"},
                              {L"5", L"设计绘图与照片编辑处理"}},
                             std::move(apps));
}

bool buildFixtures(const std::wstring& catalogDir, Fixtures& fx, std::wstring& error) {
    auto icons = snapshot::loadDemoCatalog(catalogDir, true, false, error);
    auto plain = snapshot::loadDemoCatalog(catalogDir, false, false, error);
    auto all = snapshot::loadDemoCatalog(catalogDir, false, true, error);
    auto many = snapshot::loadDemoCatalog(catalogDir, false, false, error);
    auto withEmpty = snapshot::loadDemoCatalog(catalogDir, false, false, error);
    if (!icons || !plain || !all || !many || !withEmpty) return false;
    if (snapshot::decodedIconCount() == 0) {
        error = L"no icon of " + catalogDir + L"\\icons could be decoded";
        return false;
    }
    for (const wchar_t* name : {L"网络工具", L"开发编程", L"教育学习", L"股票理财", L"手机管理", L"字体大全", L"桌面美化"}) {
        many->categories.push_back(Category{std::to_wstring(100 + many->categories.size()), name});
    }
    withEmpty->categories.push_back(Category{L"99", L"即将上线"});
    fx.demoIcons = icons;
    fx.demo = plain;
    fx.demoAll = all;
    fx.demoMany = many;
    fx.emptyCategory = withEmpty;
    fx.empty = std::make_shared<const CatalogLists>();
    buildCardStates(fx);
    buildRowTasks(fx);
    buildLongNames(fx);
    return true;
}

const TaskInfo& rowTask(const Fixtures& fx, int32_t appId) {
    for (const TaskInfo& task : fx.rowTasks) {
        if (task.appId == appId) return task;
    }
    return fx.rowTasks.front();
}

std::vector<State> mainViewStates() {
    std::vector<State> s;
    s.push_back({"catalog", [](const Fixtures& fx, Scene& sc) { catalogOf(sc, fx.demoIcons, L"1"); }});
    s.push_back({"catalog-placeholders", [](const Fixtures& fx, Scene& sc) { catalogOf(sc, fx.demo, L"1"); }});
    s.push_back({"loading", [](const Fixtures& fx, Scene& sc) {
                     catalogOf(sc, fx.empty, L"");
                     gApp.catalogLoading = true;
                 }});
    s.push_back({"connection-error", [](const Fixtures& fx, Scene& sc) {
                     catalogOf(sc, fx.empty, L"");
                     gApp.catalogLoadFailed = true;
                     gApp.config.server = kDefaultServer;
                 }});
    s.push_back({"empty-catalog", [](const Fixtures& fx, Scene& sc) { catalogOf(sc, fx.empty, L""); }});
    s.push_back({"empty-category", [](const Fixtures& fx, Scene& sc) { catalogOf(sc, fx.emptyCategory, L"99"); }});
    s.push_back({"long-names", [](const Fixtures& fx, Scene& sc) { catalogOf(sc, fx.longNames, L"1"); }});
    s.push_back({"long-names-panel", [](const Fixtures& fx, Scene& sc) {
                     panelOf(sc, fx, 0);
                     sc.frame.downloadDir =
                         L"D:\\非常长的目录名称\\用户下载的软件安装包存放位置\\第二层子目录\\第三层子目录\\第四层子目录\\第五层子目录\\星舟软件管家";
                     TaskInfo a = makeTask(3001, L"超级无敌长名字的电脑系统优化与垃圾清理专业版工具箱加长版本再加长一些用来检查省略号",
                                           TaskState::Completed, 5, 5);
                     a.md5Ok = false;
                     TaskInfo b = makeTask(3002, L"飞鸽聊天", TaskState::Failed, 1, 9);
                     b.errorText =
                         L"无法连接服务器（https://api.kelvo-soft.cn），请检查网络连接、代理设置和防火墙后再试一次";
                     TaskInfo c = makeTask(3004, L"蓝鲸浏览器", TaskState::Downloading, 1610612736LL, 5905580032LL);
                     c.speed = 12582912;
                     c.retryCount = 11;
                     for (const TaskInfo& t : {a, b, c}) sc.frame.tasks[t.appId] = t;
                 }});
    s.push_back({"card-buttons", [](const Fixtures& fx, Scene& sc) {
                     sc.height = 900;  // three rows of cards without scrolling
                     catalogOf(sc, fx.cardStates, L"1");
                     addTasks(sc, fx.cardTasks);
                 }});
    s.push_back({"download-rows", [](const Fixtures& fx, Scene& sc) {
                     sc.height = 1420;  // every row without scrolling
                     panelOf(sc, fx, SIZE_MAX);
                 }});
    s.push_back({"panel-scrolled", [](const Fixtures& fx, Scene& sc) {
                     panelOf(sc, fx, 10);
                     gApp.panelScroll = 150;
                 }});
    s.push_back({"panel-empty", [](const Fixtures& fx, Scene& sc) { panelOf(sc, fx, 0); }});
    // Downloads of the last run, as a new start shows them: one interrupted, one cancelled,
    // beside one that failed in this run; and the interrupted one's card.
    s.push_back({"panel-interrupted", [](const Fixtures& fx, Scene& sc) {
                     panelOf(sc, fx, 0);
                     TaskInfo a = makeTask(3004, L"蓝鲸浏览器", TaskState::Failed, 1288490189LL, 3435973837LL);
                     a.interrupted = true;
                     a.errorText = L"下载中断，可继续下载";
                     TaskInfo b = makeTask(3002, L"飞鸽聊天", TaskState::Cancelled, 52428800LL, 104857600LL);
                     TaskInfo c = makeTask(3001, L"极光视频", TaskState::Failed, 0, 0);
                     c.errorText = L"网络不稳定，重试多次仍失败，请稍后再试";
                     for (const TaskInfo& t : {a, b, c}) sc.frame.tasks[t.appId] = t;
                 }});
    s.push_back({"card-interrupted", [](const Fixtures& fx, Scene& sc) {
                     catalogOf(sc, fx.demoIcons, L"1");
                     TaskInfo a = makeTask(1001, L"interrupted", TaskState::Failed, 1288490189LL, 3435973837LL);
                     a.interrupted = true;
                     TaskInfo b = makeTask(1002, L"failed", TaskState::Failed, 0, 0);
                     for (const TaskInfo& t : {a, b}) sc.frame.tasks[t.appId] = t;
                 }});
    // One installer runs while the next waits its turn; another could not be started.
    s.push_back({"panel-install-queue", [](const Fixtures& fx, Scene& sc) {
                     panelOf(sc, fx, 0);
                     TaskInfo running = rowTask(fx, 3011);
                     TaskInfo waiting = rowTask(fx, 3010);
                     waiting.state = static_cast<int32_t>(TaskState::Installing);
                     waiting.installWaiting = true;
                     TaskInfo notStarted = rowTask(fx, 3012);
                     notStarted.errorText = L"安装程序未能启动，可点击右侧按钮重试";
                     TaskInfo cancelled = rowTask(fx, 3005);
                     cancelled.state = static_cast<int32_t>(TaskState::InstallFailed);
                     for (const TaskInfo& t : {running, waiting, notStarted, cancelled}) sc.frame.tasks[t.appId] = t;
                 }});

    struct HoverCase {
        const char* name;
        int kind;
        int id;
        bool panel;
    };
    static const HoverCase hovers[] = {
        {"hover-sidebar-row", HitSidebarRow, 2, false},
        {"hover-minimize", HitMinimize, 0, false},
        {"hover-maximize", HitMaximize, 0, false},
        {"hover-close", HitClose, 0, false},
        {"hover-downloads-tool", HitDownloadsTool, 0, false},
        {"hover-settings-tool", HitSettingsTool, 0, false},
        {"hover-card-button", HitCardButton, 1001, false},
        {"hover-clear-finished", HitPanelClear, 0, true},
        {"hover-open-dir", HitPanelOpenDir, 0, true},
        {"hover-change-dir", HitPanelChangeDir, 0, true},
        {"hover-panel-sidebar-row", HitSidebarRow, 1, true},
    };
    for (const HoverCase& h : hovers) {
        s.push_back({h.name, [h](const Fixtures& fx, Scene& sc) {
                         if (h.panel) {
                             panelOf(sc, fx, 4);
                         } else {
                             catalogOf(sc, fx.demo, L"1");
                         }
                         hover(h.kind, h.id);
                     }});
    }

    s.push_back({"toast-neutral", [](const Fixtures& fx, Scene& sc) {
                     catalogOf(sc, fx.demo, L"1");
                     toast(L"开始下载：星盾安全卫士", 0);
                 }});
    s.push_back({"toast-success", [](const Fixtures& fx, Scene& sc) {
                     catalogOf(sc, fx.demo, L"1");
                     toast(L"正在打开安装向导：星盾安全卫士", 1);
                 }});
    s.push_back({"toast-error", [](const Fixtures& fx, Scene& sc) {
                     catalogOf(sc, fx.demo, L"1");
                     toast(L"文件校验不一致，已禁止安装，请删除后重新下载", 2);
                 }});
    s.push_back({"toast-long", [](const Fixtures& fx, Scene& sc) {
                     catalogOf(sc, fx.demo, L"1");
                     toast(L"正在打开安装向导：超级无敌长名字的电脑系统优化与垃圾清理专业版工具箱", 1);
                 }});

    struct BannerCase {
        const char* name;
        int32_t appId;
        bool verified;
        bool isArchive;
        BannerInstall install;
    };
    static const BannerCase banners[] = {
        {"banner-installer", 3005, true, false, BannerInstall::Started},
        {"banner-opening", 3005, true, false, BannerInstall::Opening},
        {"banner-not-started", 3012, true, false, BannerInstall::NotStarted},
        {"banner-archive", 3006, true, true, BannerInstall::Started},
        {"banner-mismatch", 3007, false, false, BannerInstall::Started},
        {"banner-archive-mismatch", 3006, false, true, BannerInstall::Started},
        {"banner-missing-app", 3003, true, false, BannerInstall::Started},
        {"banner-unverified", 3013, false, false, BannerInstall::Started},
    };
    for (const BannerCase& b : banners) {
        s.push_back({b.name, [b](const Fixtures& fx, Scene& sc) {
                         catalogOf(sc, fx.panelApps, L"1");
                         addTasks(sc, fx.rowTasks);
                         banner(rowTask(fx, b.appId), b.verified, b.isArchive, b.install);
                     }});
    }
    // An installer still being opened that the queue holds behind another one.
    s.push_back({"banner-waiting", [](const Fixtures& fx, Scene& sc) {
                     catalogOf(sc, fx.panelApps, L"1");
                     addTasks(sc, fx.rowTasks);
                     TaskInfo& queued = sc.frame.tasks[3005];
                     queued.state = static_cast<int32_t>(TaskState::Installing);
                     queued.installWaiting = true;
                     banner(queued, true, false, BannerInstall::Opening);
                 }});
    s.push_back({"banner-over-panel", [](const Fixtures& fx, Scene& sc) {
                     panelOf(sc, fx, SIZE_MAX);
                     banner(rowTask(fx, 3005), true, false);
                 }});

    s.push_back({"sidebar-scrollbar", [](const Fixtures& fx, Scene& sc) {
                     sc.height = 660;
                     catalogOf(sc, fx.demoMany, L"5");
                     gApp.sidebarScroll = 120;
                 }});
    s.push_back({"grid-scrollbar", [](const Fixtures& fx, Scene& sc) {
                     catalogOf(sc, fx.demoAll, L"0");
                     gApp.gridScroll = 300;
                 }});
    s.push_back({"maximized", [](const Fixtures& fx, Scene& sc) {
                     catalogOf(sc, fx.demo, L"1");
                     sc.frame.maximized = true;
                 }});
    s.push_back({"small-window", [](const Fixtures& fx, Scene& sc) {
                     sc.width = 1000;
                     sc.height = 660;
                     catalogOf(sc, fx.demo, L"1");
                     addTasks(sc, fx.rowTasks, 2);
                 }});
    s.push_back({"wide-window", [](const Fixtures& fx, Scene& sc) {
                     sc.width = 1600;
                     sc.height = 900;
                     catalogOf(sc, fx.demoIcons, L"1");
                 }});
    return s;
}

// Whether anything differs from the background inside the rectangle.
bool paintedIn(const painttest::Canvas& canvas, const RECT& rect, COLORREF background) {
    for (int y = rect.top; y < rect.bottom; ++y) {
        for (int x = rect.left; x < rect.right; ++x) {
            if (!painttest::near(canvas.pixel(x, y), background, 0)) return true;
        }
    }
    return false;
}

bool savePng(const painttest::Canvas& canvas, const std::wstring& folder, const std::string& name,
             std::string& problem) {
    const std::filesystem::path file = std::filesystem::path(folder) / (widen(name.c_str()) + L".png");
    std::error_code ec;
    std::filesystem::remove(file, ec);
    if (!canvas.savePng(file.wstring())) {
        problem = "cannot save the PNG";
        return false;
    }
    if (std::filesystem::file_size(file, ec) == 0 || ec) {
        problem = "the PNG is empty";
        return false;
    }
    return true;
}

bool paintMainViewState(const State& state, const Fixtures& fx, const std::wstring& folder, std::string& problem) {
    painttest::resetViewState();
    gApp.config.server = kInertServer;
    Scene scene;
    scene.frame = painttest::frameWith(fx.demo, kNow);
    scene.frame.downloadDir = kDownloadDir;
    state.setup(fx, scene);
    scene.width = px(scene.width);
    scene.height = px(scene.height);
    gApp.catalog.publish(scene.frame.lists);

    const COLORREF background = RGB(1, 2, 3);  // never painted by the view
    painttest::Canvas canvas(scene.width, scene.height, background);
    const RECT client{0, 0, scene.width, scene.height};
    paintMainViewFrame(canvas.dc(), client, scene.frame);
    GdiFlush();
    // The header band and the sidebar are painted in every state.
    if (!paintedIn(canvas, RECT{0, 0, scene.width, px(64)}, background) ||
        !paintedIn(canvas, RECT{0, px(64), px(200), scene.height}, background)) {
        problem = "the view painted nothing";
        return false;
    }
    if (gApp.hitRects.empty()) {
        problem = "no hit rectangle was recorded";
        return false;
    }
    return savePng(canvas, folder, state.name, problem);
}

// The 17 sidebar glyphs at 20 and 64 pixels (at 96 DPI, scaled like the window), at rest
// and highlighted, labelled by kind.
bool paintGlyphSheet(const std::wstring& folder, std::string& problem) {
    struct Sample {
        int kind;
        const wchar_t* name;  // a category name that selects the kind
    };
    static const Sample samples[] = {
        {0, L"安全杀毒"},  {1, L"聊天社交"},  {2, L"浏览器"},    {3, L"影音播放"},  {4, L"办公文档"},   {5, L"输入法"},
        {6, L"压缩解压"},  {7, L"系统工具"},  {8, L"驱动硬件"},  {9, L"远程控制"},  {10, L"数据备份"},  {11, L"游戏娱乐"},
        {12, L"图片看图"}, {13, L"剪辑录屏"}, {14, L"AI智能助手"}, {15, L"设计绘图"}, {16, L"装机必备"},
    };
    const int cell = px(92), margin = px(16);
    const int width = margin * 2 + cell * 17, height = px(236);
    const COLORREF sidebar = RGB(250, 251, 253);
    painttest::Canvas canvas(width, height, sidebar);
    auto graphics = canvas.graphics();
    bool allMatched = true;
    for (int i = 0; i < 17; ++i) {
        const Sample& sample = samples[i];
        const GlyphChoice choice = glyphForCategoryName(sample.name);
        if (choice.kind != sample.kind) {
            std::fprintf(stderr, "glyphs: category %d was given kind %d, expected %d\n", i, choice.kind, sample.kind);
            allMatched = false;
        }
        const int x = margin + i * cell;
        drawText(canvas.dc(), std::to_wstring(sample.kind), RECT{x, px(6), x + cell, px(28)}, gApp.fontName, TextPrimary,
                 DT_SINGLELINE | DT_VCENTER | DT_CENTER);
        const RECT big{x + px(14), px(34), x + px(78), px(98)};
        fillRectArgb(*graphics, big, 0xFFFFFFFF);
        strokeRoundRect(*graphics, big, 0, 0xFFE5E6EB);
        drawGlyphIcon(*graphics, sample.kind, big, choice.colour);

        const RECT rest{x + px(36), px(110), x + px(56), px(130)};
        drawGlyphIcon(*graphics, sample.kind, rest, choice.colour);

        // As on a selected sidebar row: the wash behind, the darkened colour.
        fillRoundRect(*graphics, RECT{x + px(8), px(140), x + cell - px(8), px(178)}, px(8), 0xFFEEEDFF);
        drawGlyphIcon(*graphics, sample.kind, RECT{x + px(36), px(149), x + px(56), px(169)}, highlightedGlyphColour(choice.colour));

        // A wide box: the glyph stays square and centred.
        const RECT wide{x + px(26), px(186), x + px(66), px(206)};
        strokeRoundRect(*graphics, wide, 0, 0xFFE5E6EB);
        drawGlyphIcon(*graphics, sample.kind, wide, choice.colour);

        drawText(canvas.dc(), sample.name, RECT{x, px(210), x + cell, px(232)}, gApp.fontMeta, TextSecondary,
                 DT_SINGLELINE | DT_VCENTER | DT_CENTER | DT_END_ELLIPSIS);
        if (!paintedIn(canvas, rest, sidebar)) {
            problem = "glyph kind " + std::to_string(sample.kind) + " drew nothing at 20 px";
            return false;
        }
    }
    graphics.reset();
    if (!allMatched) std::fprintf(stderr, "glyphs: some category names chose another kind (drawn by kind anyway)\n");
    return savePng(canvas, folder, "glyphs", problem);
}

bool wanted(const std::vector<std::string>& only, const std::string& name) {
    if (only.empty()) return true;
    for (const std::string& w : only) {
        if (w == name) return true;
    }
    return false;
}

std::string narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) out += c < 128 ? static_cast<char>(c) : '?';
    return out;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::vector<std::wstring> args;
    int dpi = 96;
    for (int i = 1; i < argc; ++i) {
        if (std::wcscmp(argv[i], L"--dpi") == 0) {
            const int value = i + 1 < argc ? _wtoi(argv[i + 1]) : 0;
            if (value < 48 || value > 960) {
                std::fprintf(stderr, "kv_snapshot: --dpi needs a display scale from 48 to 960\n");
                return 1;
            }
            dpi = value;
            ++i;
        } else {
            args.push_back(argv[i]);
        }
    }
    const std::wstring folder = args.size() > 0 ? args[0] : L"snapshots";
    const std::wstring catalogDir = args.size() > 1 ? args[1] : L"" KV_SNAPSHOT_CATALOG_DIR;
    std::vector<std::string> only;
    for (size_t i = 2; i < args.size(); ++i) only.push_back(narrow(args[i]));

    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (!std::filesystem::is_directory(folder, ec)) {
        std::fprintf(stderr, "kv_snapshot: cannot create the output folder %s\n", narrow(folder).c_str());
        return 1;
    }

    painttest::ensureGraphics();
    setUiDpi(dpi);
    if (!createFonts(gApp, dpi)) {
        std::fprintf(stderr, "kv_snapshot: the fonts cannot be made at %d DPI\n", dpi);
        return 1;
    }
    Fixtures fx;
    std::wstring error;
    if (!buildFixtures(catalogDir, fx, error)) {
        std::fprintf(stderr, "kv_snapshot: %s\n", narrow(error).c_str());
        return 1;
    }

    int failures = 0, painted = 0;
    auto report = [&](const std::string& name, bool ok, const std::string& problem) {
        if (ok) {
            ++painted;
            std::printf("ok      %s.png\n", name.c_str());
        } else {
            ++failures;
            std::printf("FAILED  %s: %s\n", name.c_str(), problem.c_str());
        }
        std::fflush(stdout);
    };
    for (const State& state : mainViewStates()) {
        if (!wanted(only, state.name)) continue;
        std::string problem;
        bool ok = false;
        try {
            ok = paintMainViewState(state, fx, folder, problem);
        } catch (const std::exception& e) {
            problem = std::string("exception: ") + e.what();
        }
        report(state.name, ok, problem);
    }
    if (wanted(only, "glyphs")) {
        std::string problem;
        bool ok = false;
        try {
            ok = paintGlyphSheet(folder, problem);
        } catch (const std::exception& e) {
            problem = std::string("exception: ") + e.what();
        }
        report("glyphs", ok, problem);
    }
    painttest::resetViewState();
    std::printf("%d painted, %d failed, %d icons decoded, into %s\n", painted, failures, snapshot::decodedIconCount(),
                narrow(folder).c_str());
    return failures;
}
