#include "app/install_flow.h"
#include "app/settings_dialog.h"
#include "app/shadow.h"
#include "app/window_rules.h"
#include "ui/scale.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// Centred where the screen allows, else 30 pixels (scaled) from each edge.
TEST(WindowRect, CentresWhereTheScreenAllowsElseKeeps30PixelsFreeAtEveryScale) {
    const struct {
        int screenW, screenH, dpi;
        int x, y, w, h;
    } cases[] = {
        {1280, 1024, 96, 50, 122, 1180, 780},    {1100, 800, 96, 30, 30, 1040, 740},
        {1200, 820, 96, 10, 20, 1180, 780},      {1199, 819, 96, 30, 30, 1139, 759},
        {1921, 1081, 96, 370, 150, 1180, 780},   {1280, 1024, 120, 38, 38, 1205, 949},
        {1280, 1024, 144, 45, 45, 1190, 934},    {1280, 1024, 192, 60, 60, 1160, 904},
        {1920, 1080, 96, 370, 150, 1180, 780},   {1920, 1080, 120, 222, 52, 1475, 975},
        {1920, 1080, 144, 75, 45, 1770, 990},    {1920, 1080, 192, 60, 60, 1800, 960},
        {2560, 1440, 96, 690, 330, 1180, 780},   {2560, 1440, 120, 542, 232, 1475, 975},
        {2560, 1440, 144, 395, 135, 1770, 1170}, {2560, 1440, 192, 100, 60, 2360, 1320},
        {3840, 2160, 96, 1330, 690, 1180, 780},  {3840, 2160, 120, 1182, 592, 1475, 975},
        {3840, 2160, 144, 1035, 495, 1770, 1170}, {3840, 2160, 192, 740, 300, 2360, 1560},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.screenW << "x" << c.screenH << " at " << c.dpi);
        const WindowRect r = mainWindowRect(c.screenW, c.screenH, c.dpi);
        EXPECT_EQ(r.x, c.x);
        EXPECT_EQ(r.y, c.y);
        EXPECT_EQ(r.width, c.w);
        EXPECT_EQ(r.height, c.h);
    }
}

// 1000 x 660 scaled, never more than the work area.
TEST(MinimumSize, ScalesButNeverExceedsTheWorkArea) {
    const struct {
        int workW, workH, dpi;
        LONG cx, cy;
    } cases[] = {
        {1920, 1040, 96, 1000, 660},  {800, 600, 96, 800, 600},     {-5, 0, 96, 0, 0},
        {1920, 1160, 120, 1250, 825}, {1920, 1160, 144, 1500, 990}, {1920, 1160, 192, 1920, 1160},
        {3840, 2160, 192, 2000, 1320}, {1280, 984, 192, 1280, 984},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.workW << "x" << c.workH << " at " << c.dpi);
        const SIZE got = minimumWindowSize(c.workW, c.workH, c.dpi);
        EXPECT_EQ(got.cx, c.cx);
        EXPECT_EQ(got.cy, c.cy);
    }
}

// The size asked for at a new display scale: scaled from the old one, inside the work area
// less the window rule's margins, never under the minimum tracking size.
TEST(DpiScaledSize, ScalesByNewOverOldAndClampsAsTheWindowRuleDoes) {
    const struct {
        SIZE size;
        int oldDpi, newDpi, workW, workH;
        SIZE expected;
    } cases[] = {
        {{1180, 780}, 96, 96, 1920, 1160, {1180, 780}},
        {{1180, 780}, 96, 120, 1920, 1160, {1475, 975}},
        {{1180, 780}, 96, 144, 1920, 1160, {1770, 1070}},    // 1170 high: 1160 less 2 x 45
        {{1180, 780}, 96, 192, 1920, 1160, {1920, 1160}},    // the minimum 2000 x 1320 fills the work area
        {{1180, 780}, 96, 144, 3840, 2160, {1770, 1170}},
        {{1770, 1170}, 144, 96, 3840, 2160, {1180, 780}},
        {{2360, 1560}, 192, 96, 3840, 2160, {1180, 780}},
        {{1475, 975}, 120, 192, 3840, 2160, {2360, 1560}},
        {{1770, 1110}, 144, 96, 1920, 1200, {1180, 740}},
        {{1001, 661}, 96, 144, 3840, 2160, {1502, 992}},     // MulDiv rounds halves up
        {{1000, 660}, 144, 96, 1920, 1200, {1000, 660}},     // 667 x 440 is under the minimum
        {{1180, 780}, 96, 192, 1280, 984, {1280, 984}},      // a minimum larger than the screen is the screen
        {{900, 600}, 96, 120, 1280, 1024, {1250, 825}},
        {{1180, 780}, 0, 144, 3840, 2160, {1770, 1170}},     // an unknown old scale is 96
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.size.cx << "x" << c.size.cy << " " << c.oldDpi << " -> " << c.newDpi
                                        << " on " << c.workW << "x" << c.workH);
        const SIZE got = dpiScaledWindowSize(c.size, c.oldDpi, c.newDpi, c.workW, c.workH);
        EXPECT_EQ(got.cx, c.expected.cx);
        EXPECT_EQ(got.cy, c.expected.cy);
    }
}

// The resize bands (7 pixels on the left, 6 on the right and bottom) and the header's
// caption band, in the pixels of each scale; a recorded rectangle in the header is client,
// but never over a resize band.
TEST(FrameHitTest, ResizesAtTheSidesAndBottomAndDragsByTheEmptyHeaderAtEveryScale) {
    const struct {
        int dpi, w, h, left, edge, header;
    } scales[] = {
        {96, 1180, 780, 7, 6, 64},
        {120, 1475, 975, 9, 8, 80},
        {144, 1770, 1170, 11, 9, 96},
        {192, 2360, 1560, 14, 12, 128},
    };
    for (const auto& s : scales) {
        ScopedUiDpi scale(s.dpi);
        const int w = s.w, h = s.h, mid = w / 2, l = s.left, e = s.edge, top = s.header;
        const struct {
            int x, y;
            bool onHitRect;
            LRESULT expected;
        } cases[] = {
            {l - 1, top + 10, false, HTLEFT},     {l, top + 10, false, HTCLIENT},
            {w - e - 1, top + 10, false, HTCLIENT}, {w - e, top + 10, false, HTRIGHT},
            {mid, top - 1, false, HTCAPTION},     {mid, top, false, HTCLIENT},
            {mid, 0, false, HTCAPTION},           {mid, top - 1, true, HTCLIENT},
            {l - 1, top / 2, true, HTLEFT},       {mid, h - e - 1, false, HTCLIENT},
            {mid, h - e, false, HTBOTTOM},        {l - 1, h - e, false, HTBOTTOMLEFT},
            {l, h - 1, false, HTBOTTOM},          {w - e - 1, h - e, false, HTBOTTOM},
            {w - e, h - e, false, HTBOTTOMRIGHT}, {w - 1, h - 1, true, HTBOTTOMRIGHT},
        };
        for (const auto& c : cases) {
            SCOPED_TRACE(testing::Message() << "(" << c.x << ", " << c.y << ") on rect " << c.onHitRect << " at "
                                            << s.dpi);
            EXPECT_EQ(frameHitTest(c.x, c.y, w, h, c.onHitRect), c.expected);
        }
    }
}

TEST(HitRects, TheLastRecordedRectangleContainingThePointWins) {
    const std::vector<HitRect> rects = {
        {{0, 0, 100, 100}, 1, 0},
        {{50, 50, 150, 150}, 8, 7},
        {{60, 60, 70, 70}, 12, 9},
    };
    const struct {
        int x, y, kind, id;
    } cases[] = {{10, 10, 1, 0}, {55, 55, 8, 7}, {65, 65, 12, 9}, {120, 120, 8, 7}, {99, 99, 8, 7},
                 {100, 10, 0, 0}, {150, 150, 0, 0}, {-1, 0, 0, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "(" << c.x << ", " << c.y << ")");
        const HitRect* hit = hitRectAt(rects, c.x, c.y);
        if (c.kind == 0) {
            EXPECT_EQ(hit, nullptr);
        } else {
            ASSERT_NE(hit, nullptr);
            EXPECT_EQ(hit->kind, c.kind);
            EXPECT_EQ(hit->id, c.id);
        }
    }
    EXPECT_EQ(hitRectAt({}, 1, 1), nullptr);
}

ScrollbarGeom bar(int trackTop, int trackBottom, int thumbTop, int thumbBottom, int maxScroll) {
    ScrollbarGeom b;
    b.visible = true;
    b.trackLeft = 193;
    b.trackRight = 197;
    b.trackTop = trackTop;
    b.trackBottom = trackBottom;
    b.thumbLeft = 193;
    b.thumbRight = 197;
    b.thumbTop = thumbTop;
    b.thumbBottom = thumbBottom;
    b.maxScroll = maxScroll;
    return b;
}

TEST(ThumbDrag, PressBesideTheThumbCentresItOnThePointer) {
    // Track 78..646 (568), thumb 504 high: travel 64, range 72.
    const ScrollbarGeom b = bar(78, 646, 78, 582, 72);
    const struct {
        int x, y;
        bool drag;
        int grab, offset;
    } cases[] = {
        {195, 600, true, 252, 72},  // below the thumb: centred, clamped to the end
        {190, 600, true, 252, 72},  // 3 pixels left of the track still counts
        {200, 600, true, 252, 72},
        {189, 600, false, 0, 5},    // further left: not the bar
        {201, 600, false, 0, 5},
        {195, 77, false, 0, 5},     // above the track
        {195, 647, false, 0, 5},
        {195, 100, true, 22, 5},    // on the thumb: offset unchanged, grab where pressed
        {195, 582, true, 504, 5},   // thumb bottom edge is on the thumb
        {195, 583, true, 252, 72},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "(" << c.x << ", " << c.y << ")");
        const ThumbPress press = thumbPress(b, c.x, c.y, 5);
        EXPECT_EQ(press.drag, c.drag);
        EXPECT_EQ(press.grabOffset, c.grab);
        EXPECT_EQ(press.offset, c.offset);
    }
    // A thumb at the end of its travel: a press above it centres it, clamped to the top.
    const ScrollbarGeom atEnd = bar(78, 646, 142, 646, 72);
    EXPECT_EQ(thumbPress(atEnd, 195, 100, 72).offset, 0);
    EXPECT_EQ(thumbPress(atEnd, 195, 362, 72).offset, 72);
    // A shorter thumb lands part way: pos = 500 - 126 = 374, offset = 296 x 72 / 316 = 67.
    const ScrollbarGeom shortThumb = bar(78, 646, 78, 330, 72);  // 252 high, travel 316
    EXPECT_EQ(thumbPress(shortThumb, 195, 500, 0).offset, 67);
}

TEST(ThumbDrag, MovesFollowThePointerWithinTheTravel) {
    const ScrollbarGeom b = bar(100, 500, 100, 200, 1000);  // travel 300
    const struct {
        int y, grab, expected;
    } cases[] = {{150, 50, 0}, {0, 50, 0}, {200, 50, 166}, {300, 50, 500}, {400, 50, 833}, {900, 50, 1000},
                 {275, 25, 500}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.y);
        EXPECT_EQ(thumbDragOffset(b, c.y, c.grab, 42), c.expected);
    }
}

TEST(ThumbDrag, ABarThatCannotMoveNeverDrags) {
    const ScrollbarGeom full = bar(100, 500, 100, 500, 10);  // travel 0
    EXPECT_FALSE(thumbPress(full, 195, 300, 3).drag);
    EXPECT_EQ(thumbDragOffset(full, 300, 0, 3), 3);
    const ScrollbarGeom inverted = bar(100, 500, 100, 520, 10);  // travel < 0
    EXPECT_FALSE(thumbPress(inverted, 195, 300, 3).drag);
    ScrollbarGeom hidden = bar(100, 500, 100, 200, 10);
    hidden.visible = false;
    EXPECT_FALSE(thumbPress(hidden, 195, 300, 3).drag);
    const ScrollbarGeom noRange = bar(100, 500, 100, 200, 0);
    EXPECT_EQ(thumbDragOffset(noRange, 300, 0, 3), 3);
}

TEST(Wheel, SidebarBelowTheHeaderElseTheCurrentViewsContentAtEveryScale) {
    const struct {
        int dpi, x, y, view;
        WheelTarget target;
    } cases[] = {
        {96, 199, 65, 0, WheelTarget::Sidebar},  {96, 199, 65, 1, WheelTarget::Sidebar},
        {96, 200, 65, 0, WheelTarget::Grid},     {96, 199, 64, 0, WheelTarget::Grid},
        {96, 600, 400, 0, WheelTarget::Grid},    {96, 600, 400, 1, WheelTarget::Panel},
        {96, 199, 64, 1, WheelTarget::Panel},    {96, 0, 700, 1, WheelTarget::Sidebar},
        {120, 249, 81, 0, WheelTarget::Sidebar}, {120, 250, 81, 0, WheelTarget::Grid},
        {120, 249, 80, 0, WheelTarget::Grid},    {144, 299, 97, 0, WheelTarget::Sidebar},
        {144, 300, 97, 0, WheelTarget::Grid},    {144, 299, 96, 1, WheelTarget::Panel},
        {192, 399, 129, 0, WheelTarget::Sidebar}, {192, 400, 129, 0, WheelTarget::Grid},
        {192, 399, 128, 0, WheelTarget::Grid},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "(" << c.x << ", " << c.y << ") view " << c.view << " at " << c.dpi);
        ScopedUiDpi scale(c.dpi);
        EXPECT_EQ(wheelTarget(c.x, c.y, c.view), c.target);
    }
}

TEST(Timer, RepaintsOnlyWhileSomethingChangesByItself) {
    auto tasks = [](std::initializer_list<TaskState> states) {
        std::map<int32_t, TaskInfo> m;
        int id = 1;
        for (TaskState s : states) {
            TaskInfo info;
            info.appId = id;
            info.state = static_cast<int32_t>(s);
            m[id++] = info;
        }
        return m;
    };
    EXPECT_FALSE(timerNeedsRepaint(false, false, 0, {}));
    EXPECT_TRUE(timerNeedsRepaint(true, false, 0, {}));
    EXPECT_TRUE(timerNeedsRepaint(false, true, 0, {}));
    EXPECT_TRUE(timerNeedsRepaint(false, false, 1, {}));
    EXPECT_TRUE(timerNeedsRepaint(false, false, 0, tasks({TaskState::Completed, TaskState::Downloading})));
    EXPECT_TRUE(timerNeedsRepaint(false, false, 0, tasks({TaskState::Verifying})));
    EXPECT_FALSE(timerNeedsRepaint(false, false, 0,
                                   tasks({TaskState::Completed, TaskState::Failed, TaskState::Cancelled,
                                          TaskState::Installed, TaskState::Installing, TaskState::InstallFailed})));
}

TEST(CatalogLoaded, KeepsAnExistingSelectionInTheCatalogViewElseTakesTheFirst) {
    const std::vector<Category> cats = {{L"a", L"A"}, {L"b", L"B"}};
    EXPECT_EQ(selectionAfterLoad(0, L"b", cats), L"b");
    EXPECT_EQ(selectionAfterLoad(0, L"gone", cats), L"a");
    EXPECT_EQ(selectionAfterLoad(0, L"", cats), L"a");
    EXPECT_EQ(selectionAfterLoad(1, L"b", cats), L"a");  // back from the download manager
    EXPECT_EQ(selectionAfterLoad(0, L"b", {}), L"");
    EXPECT_EQ(selectionAfterLoad(1, L"b", {}), L"");
    EXPECT_EQ(selectionAfterLoad(0, L"B", cats), L"a");  // ids match exactly
}

TEST(DownloadUrl, PercentEncodesTheChannel) {
    const struct {
        const wchar_t* server;
        int id;
        const wchar_t* channel;
        const char* url;
    } cases[] = {
        {L"http://127.0.0.1:8080", 12, L"a b/\u00e9", "http://127.0.0.1:8080/api/client/download/12?channel=a%20b%2F%C3%A9"},
        {L"https://s.example", 7, L"my-channel_1.0", "https://s.example/api/client/download/7?channel=my-channel_1.0"},
        {L"https://s.example", 7, L"~", "https://s.example/api/client/download/7?channel=%7E"},
        {L"https://s.example", -3, L"", "https://s.example/api/client/download/-3?channel="},
        {L"https://\u661f.example", 0, L"&=?", "https://\xE6\x98\x9F.example/api/client/download/0?channel=%26%3D%3F"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        EXPECT_EQ(downloadUrl(c.server, c.id, c.channel), c.url);
    }
}

TaskInfo task(TaskState state, bool md5Ok = true, bool archive = false) {
    TaskInfo t;
    t.state = static_cast<int32_t>(state);
    t.md5Ok = md5Ok;
    t.isArchive = archive;
    return t;
}

// The catalog gave a digest but the file could not be read to check it.
TaskInfo unverified() {
    TaskInfo t = task(TaskState::Completed, false);
    t.md5Unverified = true;
    return t;
}

TEST(InstallRules, DecidesByPackageAndTaskState) {
    const struct {
        const char* name;
        bool hasPackage;
        bool hasTask;
        TaskInfo t;
        InstallStep step;
    } cases[] = {
        {"no package, no task", false, false, {}, InstallStep::NoPackage},
        {"no package beats an old task", false, true, task(TaskState::Completed), InstallStep::NoPackage},
        {"no task", true, false, {}, InstallStep::Download},
        {"failed", true, true, task(TaskState::Failed), InstallStep::Download},
        {"cancelled", true, true, task(TaskState::Cancelled), InstallStep::Download},
        {"installed", true, true, task(TaskState::Installed), InstallStep::Download},
        {"downloading", true, true, task(TaskState::Downloading), InstallStep::Busy},
        {"verifying", true, true, task(TaskState::Verifying), InstallStep::Busy},
        {"installing", true, true, task(TaskState::Installing), InstallStep::Busy},
        {"completed installer", true, true, task(TaskState::Completed), InstallStep::RunInstaller},
        {"install failed, again", true, true, task(TaskState::InstallFailed), InstallStep::RunInstaller},
        {"completed mismatch", true, true, task(TaskState::Completed, false), InstallStep::RefuseMismatch},
        {"install failed mismatch", true, true, task(TaskState::InstallFailed, false), InstallStep::RefuseMismatch},
        {"completed unverifiable", true, true, unverified(), InstallStep::RefuseUnverified},
        {"completed archive", true, true, task(TaskState::Completed, true, true), InstallStep::RevealArchive},
        {"archive with mismatch", true, true, task(TaskState::Completed, false, true), InstallStep::RevealArchive},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(installStep(c.hasPackage, c.hasTask ? &c.t : nullptr), c.step);
    }
}

TEST(InstallRules, ACardOfARunningJobShowsTheDownloadManager) {
    EXPECT_FALSE(cardShowsManager(nullptr));
    for (TaskState s : {TaskState::Downloading, TaskState::Verifying, TaskState::Installing}) {
        const TaskInfo t = task(s);
        EXPECT_TRUE(cardShowsManager(&t)) << static_cast<int>(s);
    }
    for (TaskState s : {TaskState::Completed, TaskState::Failed, TaskState::Cancelled, TaskState::Installed,
                        TaskState::InstallFailed}) {
        const TaskInfo t = task(s);
        EXPECT_FALSE(cardShowsManager(&t)) << static_cast<int>(s);
    }
}

TEST(InstallRules, AFinishedDownloadRunsOnlyAVerifiedInstaller) {
    EXPECT_EQ(finishedStep(task(TaskState::Completed, true, true)), FinishedStep::Archive);
    EXPECT_EQ(finishedStep(task(TaskState::Completed, false, true)), FinishedStep::Archive);
    EXPECT_EQ(finishedStep(task(TaskState::Completed, true, false)), FinishedStep::RunInstaller);
    EXPECT_EQ(finishedStep(task(TaskState::Completed, false, false)), FinishedStep::Mismatch);
    EXPECT_EQ(finishedStep(unverified()), FinishedStep::Unverified);
}

TEST(InstallRules, ToastTexts) {
    EXPECT_EQ(noPackageText(), L"该应用暂未上架安装包");
    EXPECT_EQ(downloadStartedText(L"飞鸽"), L"开始下载：飞鸽");
    EXPECT_EQ(archiveKeptText(L"飞速压缩"), L"「飞速压缩」是压缩包，已保存到下载目录，解压后即可使用");
    EXPECT_EQ(installerStartedText(L"飞鸽"), L"正在打开安装向导：飞鸽");
    EXPECT_EQ(installerStartedText(L""), L"正在打开安装向导：");
    EXPECT_EQ(mismatchRefusedText(), L"文件校验不一致，已禁止安装，请删除后重新下载");
    EXPECT_EQ(archiveDownloadedText(L"飞速压缩"), L"「飞速压缩」下载成功，压缩包已保存，可打开文件夹解压安装");
    EXPECT_EQ(installerDownloadedText(L"飞鸽"), L"「飞鸽」下载完成，正在打开安装向导");
    EXPECT_EQ(mismatchDownloadedText(), L"下载完成，但 MD5 校验不一致，请谨慎安装");
}

TEST(SettingsRules, TrimsSeparatorsAndTreatsDriveRootsAsTheDefault) {
    const struct {
        const wchar_t* typed;
        const wchar_t* saved;
    } cases[] = {
        {L"D:\\Soft\\", L"D:\\Soft"}, {L"D:\\Soft", L"D:\\Soft"},   {L"D:\\Soft\\/\\", L"D:\\Soft"},
        {L"D:\\", L""},               {L"D:", L""},                 {L"D:/", L""},
        {L"", L""},                   {L"\\\\\\", L""},             {L"abcd", L"abcd"},
        {L"abc", L""},                {L"   ", L""},                {L"  D:\\Soft\\  ", L"D:\\Soft"},
        {L"\tE:\\下载 目录\\", L"E:\\下载 目录"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "typed length " << wcslen(c.typed));
        EXPECT_EQ(trimDownloadDir(c.typed), c.saved);
    }
    const std::wstring long300 = L"C:\\" + std::wstring(297, L'x');
    EXPECT_EQ(trimDownloadDir(long300 + L"\\"), long300);  // nothing cut from a long path
}

TEST(SettingsRules, VersionCreditKeepsThreeComponents) {
    const struct {
        const wchar_t* version;
        const wchar_t* shown;
    } cases[] = {{L"1.4.25.0", L"1.4.25"}, {L"1.4.25", L"1.4.25"}, {L"1.4", L"1.4"},          {L"7", L"7"},
                 {L"1.2.3.4.5", L"1.2.3"}, {L"...", L".."},        {L"1.4.25.", L"1.4.25"}};
    for (const auto& c : cases) EXPECT_EQ(shortVersion(c.version), c.shown) << c.version;
    EXPECT_EQ(creditLine(L"1.4.25.0"), L"开发者：启明数码科技工作室    版本 v1.4.25");
    EXPECT_EQ(creditLine(L""), L"开发者：启明数码科技工作室");
}

TEST(SettingsRules, SaveToastTellsWhetherTheFileWasWritten) {
    EXPECT_EQ(savedText(L"D:\\Soft", true), L"下载目录已保存");
    EXPECT_EQ(savedText(L"", true), L"已恢复默认下载目录");
    EXPECT_EQ(savedText(L"D:\\Soft", false), L"下载目录已生效，但配置文件保存失败");
    EXPECT_EQ(savedText(L"", false), L"下载目录已生效，但配置文件保存失败");
    EXPECT_EQ(savedKind(true), 1);
    EXPECT_EQ(savedKind(false), 2);
}

// The shadow's margin (its 18 rings) and the window's rounded corner, at each scale.
TEST(ShadowRules, MarginAndCornerFollowTheScale) {
    const struct {
        int dpi, margin, corner;
    } cases[] = {{96, 18, 14}, {120, 23, 18}, {144, 27, 21}, {192, 36, 28}};
    for (const auto& c : cases) {
        ScopedUiDpi scale(c.dpi);
        EXPECT_EQ(shadowMargin(), c.margin) << c.dpi;
        EXPECT_EQ(windowCornerDiameter(), c.corner) << c.dpi;
    }
}

TEST(ShadowRules, RingAlphaFadesQuadraticallyToNothingOverTheMargin) {
    const int alpha[18] = {64, 57, 50, 44, 38, 33, 28, 23, 19, 16, 12, 9, 7, 4, 3, 1, 0, 0};
    for (int i = 0; i < 18; i++) EXPECT_EQ(shadowRingAlpha(i), alpha[i]) << i;
    EXPECT_EQ(shadowRingAlpha(0, 27), 64);
    EXPECT_EQ(shadowRingAlpha(13, 27), 17);
    EXPECT_EQ(shadowRingAlpha(26, 27), 0);
}

TEST(ShadowRules, PremultipliesOnlyPartlyTransparentPixels) {
    std::vector<uint32_t> px = {0x00FFFFFF, 0xFF1E2230, 0x401E2230, 0x80FFFFFF, 0x01FF0000};
    premultiplyPixels(px.data(), px.size());
    EXPECT_EQ(px[0], 0x00FFFFFFu);
    EXPECT_EQ(px[1], 0xFF1E2230u);
    EXPECT_EQ(px[2], 0x4007080Cu);  // 30, 34, 48 at a quarter, rounded down
    EXPECT_EQ(px[3], 0x80808080u);
    EXPECT_EQ(px[4], 0x01010000u);
}

}  // namespace
