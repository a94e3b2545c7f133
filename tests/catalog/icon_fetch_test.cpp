// Icon fetches against the loopback test server: bodies of each kind, the 4 MiB bound, the
// 1024-pixel bound read from the header, what a ready icon keeps, state and message rules,
// reloads while fetches run, and the fetch pool: at most four at once, newest first,
// failures retried after the pause, waiting requests of replaced lists dropped, no GDI
// object held per icon.
#include <gtest/gtest.h>

#include <objbase.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <gdiplus.h>

#include "app/object_census.h"
#include "catalog/catalog.h"
#include "catalog/icon_queue.h"
#include "catalog/images.h"
#include "catalog/net_support.h"
#include "json/encoding.h"
#include "json/json.h"
#include "net/http.h"
#include "support/test_server.h"

using catalogtest::MessageSink;
using testimages::IconEntry;

namespace {

class GdiplusEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        Gdiplus::GdiplusStartupInput input;
        ASSERT_EQ(Gdiplus::Ok, Gdiplus::GdiplusStartup(&token_, &input, nullptr));
    }

private:
    ULONG_PTR token_ = 0;
};
const auto* const kGdiplus = ::testing::AddGlobalTestEnvironment(new GdiplusEnvironment);

// A JPEG of one colour from the platform's own encoder.
std::string jpeg(int width, int height, uint32_t argb) {
    using namespace Gdiplus::DllExports;
    Gdiplus::GpBitmap* bitmap = nullptr;
    if (GdipCreateBitmapFromScan0(width, height, 0, PixelFormat24bppRGB, nullptr, &bitmap) != Gdiplus::Ok) return "";
    Gdiplus::GpGraphics* g = nullptr;
    GdipGetImageGraphicsContext(bitmap, &g);
    GdipGraphicsClear(g, argb);
    GdipDeleteGraphics(g);
    UINT count = 0, size = 0;
    GdipGetImageEncodersSize(&count, &size);
    std::vector<char> buffer(size);
    auto* codecs = reinterpret_cast<Gdiplus::ImageCodecInfo*>(buffer.data());
    GdipGetImageEncoders(count, size, codecs);
    std::string out;
    for (UINT i = 0; i < count; ++i) {
        if (std::wstring(codecs[i].MimeType) != L"image/jpeg") continue;
        IStream* stream = nullptr;
        CreateStreamOnHGlobal(nullptr, TRUE, &stream);
        if (GdipSaveImageToStream(bitmap, stream, &codecs[i].Clsid, nullptr) == Gdiplus::Ok) {
            HGLOBAL memory = nullptr;
            GetHGlobalFromStream(stream, &memory);
            STATSTG stat = {};
            stream->Stat(&stat, STATFLAG_NONAME);
            out.assign(static_cast<const char*>(GlobalLock(memory)), static_cast<size_t>(stat.cbSize.QuadPart));
            GlobalUnlock(memory);
        }
        stream->Release();
    }
    GdipDisposeImage(bitmap);
    return out;
}

// The size every test asks its icons to be kept at.
const std::vector<IconSize> kSizes = {{32, 32}};

// The worker posts its message after it publishes the state a test waits for, so the count
// is read once want messages came (or a bound passed), after a little longer for any extra.
int messagesOnceSettled(MessageSink& sink, UINT kind, int want) {
    sink.waitUntil([&] { return sink.count(kind) >= want; }, 10000);
    sink.waitUntil([] { return false; }, 300);
    return sink.count(kind);
}

COLORREF colourOf(uint32_t bgra) { return RGB((bgra >> 16) & 0xFF, (bgra >> 8) & 0xFF, bgra & 0xFF); }

struct KeptFacts {
    size_t copies = 0;
    int width = 0, height = 0;
    COLORREF centre = 0, corner = 0;
};

// The record's kept icon: how many copies and, of the first, its size and two pixels.
KeptFacts factsOf(const App& app) {
    KeptFacts facts;
    const std::shared_ptr<const IconImage> image = keptIcon(app);
    if (!image || image->copies.empty()) return facts;
    const IconCopy& copy = image->copies[0];
    facts.copies = image->copies.size();
    facts.width = copy.size.width;
    facts.height = copy.size.height;
    facts.centre = colourOf(copy.pixels[size_t(copy.size.height / 2) * copy.size.width + copy.size.width / 2]);
    facts.corner = colourOf(copy.pixels[0]);
    return facts;
}

// One published application whose icon lies at a path of its own.
struct OneIcon {
    CatalogState catalog;
    std::string path;
    AppRef app;

    explicit OneIcon(int id = 5, bool withIcon = true) {
        path = testserver::uniquePath("icon");
        testserver::reset(path);  // Wine reuses process ids: an earlier run may have used it
        auto lists = std::make_shared<CatalogLists>();
        App record;
        record.id = id;
        if (withIcon) record.icon = json::toWide(path);
        lists->apps.push_back(std::move(record));
        catalog.publish(lists);
        app = findApp(catalog, id);
        held = lists;
    }
    // The store must outlive the fetch threads it started: wait until they let go.
    ~OneIcon() {
        app.reset();
        catalog.publish(nullptr);
        const DWORD start = GetTickCount();
        while (!held.expired() && GetTickCount() - start < 30000) Sleep(10);
        EXPECT_TRUE(held.expired());
    }
    std::weak_ptr<const CatalogLists> held;
};

bool settled(const AppRef& app) { return app->iconState.load() >= 2; }

constexpr COLORREF kWhite = RGB(255, 255, 255);

// JPEG is lossy: each channel within 8.
bool closeColours(COLORREF a, COLORREF b) {
    for (int shift = 0; shift < 24; shift += 8) {
        if (std::abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF)) > 8) return false;
    }
    return true;
}


// Lists of n records whose icons lie at iconPath(i).
template <typename IconPath>
std::shared_ptr<CatalogLists> listsOfIcons(int n, int firstId, IconPath iconPath) {
    auto lists = std::make_shared<CatalogLists>();
    for (int i = 0; i < n; ++i) {
        App app;
        app.id = firstId + i;
        app.icon = json::toWide(iconPath(i));
        lists->apps.push_back(std::move(app));
    }
    return lists;
}

std::vector<AppRef> refsOf(const std::shared_ptr<const CatalogLists>& lists) {
    std::vector<AppRef> refs;
    for (const App& app : lists->apps) refs.push_back(AppRef(lists, &app));
    return refs;
}

bool allIn(const std::vector<AppRef>& apps, int32_t state) {
    return std::all_of(apps.begin(), apps.end(), [&](const AppRef& a) { return a->iconState.load() == state; });
}

// The pause before a retry, shortened for one test.
class RetryPause {
public:
    explicit RetryPause(unsigned ms) { setIconRetryPause(ms); }
    ~RetryPause() { setIconRetryPause(kIconRetryPauseMs); }
};

// Requests under prefix, in the order the server received them.
std::vector<std::string> pathsReceived(const std::string& prefix) {
    std::vector<std::string> paths;
    for (const testserver::RecordedRequest& r : testserver::requests(prefix)) paths.push_back(r.path);
    return paths;
}

}  // namespace

TEST(IconFetch, DecodesEachKindOfBody) {
    auto dibEntry = [](uint8_t size, uint16_t bits, uint32_t rgb) {
        IconEntry e;
        e.width = e.height = size;
        e.bitCount = bits;
        e.image = testimages::dib(size, size, bits, rgb);
        return e;
    };
    IconEntry pngEntry;
    pngEntry.width = pngEntry.height = 0;
    pngEntry.image = testimages::png(64, 64, 0x00FF00);
    IconEntry transparent = dibEntry(32, 32, 0x0000FF);
    transparent.image = testimages::dib(32, 32, 32, 0x0000FF, 0);
    struct Case {
        const char* what;
        std::string body;
        COLORREF centre;
    } cases[] = {
        {"png", testimages::png(20, 30, 0xFF0000), RGB(255, 0, 0)},
        {"jpeg", jpeg(24, 16, 0xFF0000FF), RGB(0, 0, 255)},
        {"icon 16/32/48", testimages::icon({dibEntry(16, 32, 0xFF0000), dibEntry(32, 32, 0x00FF00), dibEntry(48, 32, 0x0000FF)}),
         RGB(0, 0, 255)},
        {"icon 32 at 8 and 32 bits", testimages::icon({dibEntry(32, 8, 0xFF0000), dibEntry(32, 32, 0x00FF00)}),
         RGB(0, 255, 0)},
        {"icon tie", testimages::icon({dibEntry(48, 32, 0xFF0000), dibEntry(48, 32, 0x00FF00)}), RGB(255, 0, 0)},
        {"icon with a png inside", testimages::icon({dibEntry(48, 32, 0xFF0000), pngEntry}), RGB(0, 255, 0)},
        {"transparent on white", testimages::icon({transparent}), kWhite},
    };
    for (const Case& c : cases) {
        ASSERT_FALSE(c.body.empty()) << c.what;
        OneIcon one(-5);
        ASSERT_TRUE(catalogtest::serveBytes(one.path, c.body)) << c.what;
        MessageSink sink;
        requestIcon(one.catalog, sink.window(), one.app, testserver::httpBase(), kSizes);
        ASSERT_TRUE(sink.waitUntil([&] { return sink.count(kMsgIconReady) > 0; }, 30000)) << c.what;
        ASSERT_EQ(2, one.app->iconState.load()) << c.what;
        EXPECT_EQ(static_cast<WPARAM>(static_cast<INT_PTR>(-5)), sink.received[0].wParam) << "sign-extended id";
        const KeptFacts facts = factsOf(*one.app);
        EXPECT_EQ(1u, facts.copies) << c.what;
        EXPECT_EQ(32, facts.width) << c.what << ": kept at the size asked for";
        EXPECT_EQ(32, facts.height) << c.what;
        EXPECT_EQ(nullptr, one.app->iconBitmap.load()) << c.what << ": no GDI object is kept";
        EXPECT_TRUE(closeColours(c.centre, facts.centre)) << c.what << " " << std::hex << facts.centre;
    }
}

TEST(IconFetch, FailuresEndInStateThreeAndOnlyADecodeFailurePosts) {
    struct Case {
        const char* what;
        std::string steps;  // scripted answers; empty: serve `body`
        std::string body;
        bool posts;
    } cases[] = {
        {"404", R"([{"status":404,"body":"missing"}])", "", false},
        {"empty body", R"([{"status":200}])", "", false},
        {"one byte over 4 MiB", "", testimages::png(8, 8, 0xFF0000, kMaxIconBytes + 1), false},
        {"not an image", "", "GIF? no, just text", true},
        {"icon with a broken best image", "", testimages::icon({[] {
                                                    IconEntry e;
                                                    e.width = e.height = 48;
                                                    e.image = std::string(4, '\0') + std::string(200, 'x');
                                                    return e;
                                                }()}),
         true},
    };
    for (const Case& c : cases) {
        OneIcon one;
        if (c.steps.empty()) {
            ASSERT_TRUE(catalogtest::serveBytes(one.path, c.body)) << c.what;
        } else {
            ASSERT_TRUE(testserver::script(one.path, c.steps)) << c.what;
        }
        MessageSink sink;
        requestIcon(one.catalog, sink.window(), one.app, testserver::httpBase(), kSizes);
        ASSERT_TRUE(sink.waitUntil([&] { return settled(one.app); }, 30000)) << c.what;
        EXPECT_EQ(3, one.app->iconState.load()) << c.what;
        EXPECT_EQ(nullptr, keptIcon(*one.app)) << c.what;
        EXPECT_EQ(c.posts ? 1 : 0, messagesOnceSettled(sink, kMsgIconReady, c.posts ? 1 : 0)) << c.what;
    }
}

TEST(IconFetch, AnImageDeclaringMorePixelsThanAnyIconIsRefusedForGood) {
    RetryPause pause(100);
    const std::string dib = testimages::dib(16, 16, 32, 0xFF0000);
    IconEntry lying;
    lying.width = lying.height = 48;
    lying.image = testimages::pngDeclaring(20000, 20000);
    const struct {
        const char* what;
        std::string body;
    } cases[] = {
        {"png of 20000 x 20000", testimages::pngDeclaring(20000, 20000)},
        {"png one pixel too wide", testimages::pngDeclaring(1025, 1)},
        {"icon file whose png lies about its size", testimages::icon({lying})},
    };
    for (const auto& c : cases) {
        OneIcon one;
        ASSERT_TRUE(catalogtest::serveBytes(one.path, c.body)) << c.what;
        MessageSink sink;
        requestIcon(one.catalog, sink.window(), one.app, testserver::httpBase(), kSizes);
        ASSERT_TRUE(sink.waitUntil([&] { return settled(one.app); }, 30000)) << c.what;
        sink.waitUntil([] { return false; }, 600);  // several retry pauses
        EXPECT_EQ(3, one.app->iconState.load()) << c.what;
        EXPECT_EQ(nullptr, keptIcon(*one.app)) << c.what;
        EXPECT_EQ(1u, testserver::requests(one.path).size()) << c.what << ": never asked for again";
        EXPECT_EQ(1, messagesOnceSettled(sink, kMsgIconReady, 1)) << c.what << ": the card is repainted with its placeholder";
    }
    bool noMemory = false;
    EXPECT_EQ(nullptr, decodeIconImage(testimages::pngDeclaring(20000, 20000), noMemory)) << "refused undecoded";
    EXPECT_FALSE(noMemory);
}

TEST(IconFetch, AReadyIconKeepsOnlyItsCopiesAtTheSizesAsked) {
    OneIcon one;
    ASSERT_TRUE(catalogtest::serveBytes(one.path, testimages::png(1024, 1024, 0x3366CC)));
    MessageSink sink;
    const std::vector<IconSize> sizes = {{84, 84}, {48, 47}};
    requestIcon(one.catalog, sink.window(), one.app, testserver::httpBase(), sizes);
    ASSERT_TRUE(sink.waitUntil([&] { return settled(one.app); }, 30000));
    ASSERT_EQ(2, one.app->iconState.load());
    const std::shared_ptr<const IconImage> image = keptIcon(*one.app);
    ASSERT_NE(nullptr, image);
    EXPECT_EQ(sizes, image->sizes());
    EXPECT_EQ((84u * 84u + 48u * 47u) * 4u, image->bytes()) << "nothing of the 4 MiB decoded image";
    EXPECT_EQ(nullptr, one.app->iconBitmap.load());
    EXPECT_EQ(RGB(0x33, 0x66, 0xCC), colourOf(image->copy(IconSize{48, 47})->pixels[47 * 24 + 24]));

    // Kept at other sizes: fetched once more, the old copies drawn until the new arrive.
    refetchIcon(one.catalog, sink.window(), one.app, testserver::httpBase(), {IconSize{126, 126}});
    ASSERT_TRUE(sink.waitUntil([&] { return keptIcon(*one.app) != image; }, 30000));
    const std::vector<IconSize> larger = {{126, 126}};
    EXPECT_EQ(larger, keptIcon(*one.app)->sizes());
    EXPECT_EQ(2, one.app->iconState.load());
    EXPECT_EQ(2u, testserver::requests(one.path).size());
}

TEST(IconFetch, ExactlyFourMebibytesDecode) {
    OneIcon one;
    std::string body = testimages::png(8, 8, 0x00FF00, kMaxIconBytes);
    ASSERT_EQ(kMaxIconBytes, body.size());
    ASSERT_TRUE(catalogtest::serveBytes(one.path, body));
    MessageSink sink;
    requestIcon(one.catalog, sink.window(), one.app, testserver::httpBase(), kSizes);
    ASSERT_TRUE(sink.waitUntil([&] { return settled(one.app); }, 30000));
    EXPECT_EQ(2, one.app->iconState.load());
    EXPECT_EQ(RGB(0, 255, 0), factsOf(*one.app).centre);
}

TEST(IconFetch, OnlyTheFirstRequestOfARecordFetches) {
    OneIcon none(1, false);
    MessageSink sink;
    requestIcon(none.catalog, sink.window(), none.app, testserver::httpBase(), kSizes);
    EXPECT_EQ(0, none.app->iconState.load()) << "no icon location, no fetch";
    EXPECT_EQ(nullptr, none.catalog.notifyWindow.load());

    OneIcon one;
    ASSERT_TRUE(catalogtest::serveBytes(one.path, testimages::png(4, 4, 0xFF0000), 600));
    requestIcon(one.catalog, sink.window(), one.app, testserver::httpBase(), kSizes);
    EXPECT_EQ(1, one.app->iconState.load());
    EXPECT_EQ(sink.window(), one.catalog.notifyWindow.load());
    requestIcon(one.catalog, sink.window(), one.app, testserver::httpBase(), kSizes);
    ASSERT_TRUE(sink.waitUntil([&] { return sink.count(kMsgIconReady) > 0; }, 30000));
    requestIcon(one.catalog, sink.window(), one.app, testserver::httpBase(), kSizes);
    sink.waitUntil([] { return false; }, 300);
    EXPECT_EQ(1u, testserver::requests(one.path).size());
    EXPECT_EQ(1, sink.count(kMsgIconReady));
}

TEST(IconFetch, ReloadsWhileFetchesRunLeakNothing) {
    {  // the platform's first decode sets up objects of its own; count after it
        bool noMemory = false;
        DeleteObject(decodeIconImage(testimages::png(4, 4, 0), noMemory));
        GdiFlush();
    }
    const long baseline = takeCensus().gdiObjects;
    std::string prefix;
    catalogtest::uniqueBase(&prefix);
    auto makeLists = [&](int round) {
        auto lists = std::make_shared<CatalogLists>();
        for (int i = 0; i < 40; ++i) {
            App app;
            app.id = round * 100 + i;
            // The second answers slowly: it still runs when the reload comes, while the
            // others have their bitmaps.
            const int delay = i == 1 ? 1500 : 0;
            app.icon = json::toWide(prefix + "/_gen/icon/" + std::to_string(delay) + "/" + std::to_string(app.id) + ".png");
            lists->apps.push_back(std::move(app));
        }
        return lists;
    };
    CatalogState catalog;
    MessageSink sink;
    std::vector<AppRef> watched;
    std::vector<std::weak_ptr<const CatalogLists>> replaced;
    for (int round = 0; round < 3; ++round) {
        catalog.publish(makeLists(round));
        auto lists = catalog.lists();
        replaced.push_back(lists);
        for (const App& app : lists->apps) requestIcon(catalog, sink.window(), AppRef(lists, &app), testserver::httpBase(), kSizes);
        watched.push_back(AppRef(lists, &lists->apps[0]));
        watched.push_back(AppRef(lists, &lists->apps[1]));
        // Wait for the fast half, then reload while the slow half still runs.
        ASSERT_TRUE(sink.waitUntil([&] { return settled(watched[watched.size() - 2]); }, 30000));
        EXPECT_EQ(1, watched.back()->iconState.load()) << "the slow fetch is still running";
    }
    catalog.publish(nullptr);
    // Every fetch of a replaced list ends without a bitmap.
    ASSERT_TRUE(sink.waitUntil(
        [&] { return std::all_of(watched.begin(), watched.end(), [](const AppRef& a) { return settled(a); }); },
        30000));
    std::vector<std::weak_ptr<const IconImage>> made;
    for (size_t i = 0; i < watched.size(); i += 2) {
        EXPECT_EQ(2, watched[i]->iconState.load());
        EXPECT_EQ(3, watched[i + 1]->iconState.load()) << "finished after its list was replaced";
        EXPECT_EQ(nullptr, keptIcon(*watched[i + 1]));
        made.push_back(keptIcon(*watched[i]));
        EXPECT_FALSE(made.back().expired());
    }
    watched.clear();
    // The lists go when the last fetch thread lets go of them, and their icons with them.
    ASSERT_TRUE(sink.waitUntil(
        [&] {
            return std::all_of(replaced.begin(), replaced.end(), [](const auto& w) { return w.expired(); });
        },
        30000));
    for (const auto& image : made) EXPECT_TRUE(image.expired());
    EXPECT_LE(takeCensus().gdiObjects, baseline) << gdiCountMethod();
}

TEST(IconPool, TwoThousandReadyIconsHoldNoGdiObject) {
    {  // the platform's first decode sets up objects of its own; count after it
        bool noMemory = false;
        DeleteObject(decodeIconImage(testimages::png(4, 4, 0), noMemory));
        GdiFlush();
    }
    const long baseline = takeCensus().gdiObjects;
    std::string prefix;
    catalogtest::uniqueBase(&prefix);
    CatalogState catalog;
    catalog.publish(listsOfIcons(2000, 1, [&](int i) { return prefix + "/_gen/icon/0/" + std::to_string(i) + ".png"; }));
    std::vector<AppRef> apps = refsOf(catalog.lists());
    MessageSink sink;
    for (const AppRef& app : apps) requestIcon(catalog, sink.window(), app, testserver::httpBase(), kSizes);
    ASSERT_TRUE(sink.waitUntil([&] { return allIn(apps, 2); }, 300000));
    const long held = takeCensus().gdiObjects - baseline;
    std::printf("[ figures ] GDI objects held by 2000 ready icons: %ld (counted by %s)\n", held, gdiCountMethod());
    EXPECT_LE(held, 8);
    apps.clear();
    catalog.publish(nullptr);
}

TEST(IconFetch, EveryDemoCatalogIconDecodes) {
    CatalogState catalog;
    const std::wstring server = catalogtest::uniqueBase();
    ASSERT_TRUE(loadCatalog(catalog, server));
    auto lists = catalog.lists();
    std::weak_ptr<const CatalogLists> held = lists;
    MessageSink sink;
    std::vector<AppRef> withIcons;
    for (const App& app : lists->apps) {
        if (app.icon.empty()) continue;
        withIcons.push_back(AppRef(lists, &app));
        requestIcon(catalog, sink.window(), withIcons.back(), server, kSizes);
    }
    ASSERT_GE(withIcons.size(), 20u);
    ASSERT_TRUE(sink.waitUntil(
        [&] { return std::all_of(withIcons.begin(), withIcons.end(), [](const AppRef& a) { return settled(a); }); },
        60000));
    for (const AppRef& app : withIcons) {
        const std::string icon = json::toUtf8(app->icon);
        const bool exists = GetFileAttributesW(testserver::hostPathToWindows(
                                std::string(getenv("KV_SOURCE_DIR")) + "/tools/demo-catalog" + icon).c_str()) !=
                            INVALID_FILE_ATTRIBUTES;
        if (!exists) {
            EXPECT_EQ(3, app->iconState.load()) << icon;
            continue;
        }
        ASSERT_EQ(2, app->iconState.load()) << icon;
        const KeptFacts facts = factsOf(*app);
        EXPECT_EQ(32, facts.width) << icon;
        EXPECT_EQ(kWhite, facts.corner) << icon << ": transparent corners come out white";
    }
    withIcons.clear();
    lists.reset();
    catalog.publish(nullptr);
    EXPECT_TRUE(sink.waitUntil([&] { return held.expired(); }, 30000));
}

TEST(IconPool, TwoHundredThrottledIconsAllEndDrawnWithAtMostFourInFlight) {
    RetryPause pause(50);
    std::string prefix;
    catalogtest::uniqueBase(&prefix);
    CatalogState catalog;
    // Each icon is refused twice (429, then 503) before it is served; a request that finds
    // more than four in flight is refused too. Each answer takes 50 ms, so that fetches
    // overlap at the server even on a loaded machine.
    catalog.publish(listsOfIcons(200, 1000, [&](int i) {
        return prefix + "/_gen/throttled/2/50/" + std::to_string(i) + ".png";
    }));
    std::vector<AppRef> apps = refsOf(catalog.lists());
    MessageSink sink;
    for (const AppRef& app : apps) requestIcon(catalog, sink.window(), app, testserver::httpBase(), kSizes);
    ASSERT_TRUE(sink.waitUntil([&] { return allIn(apps, 2); }, 120000))
        << std::count_if(apps.begin(), apps.end(), [](const AppRef& a) { return a->iconState.load() == 2; })
        << " of 200 drawn";

    for (const AppRef& app : apps) EXPECT_NE(nullptr, keptIcon(*app)) << app->id;
    EXPECT_EQ(600u, pathsReceived(prefix + "/_gen/throttled/").size()) << "three attempts each, none more";
    std::string body;
    std::wstring errorText;
    ASSERT_TRUE(httpGetText(testserver::httpBase() + json::toWide(prefix + "/_gen/throttled/peak"), body, errorText));
    std::shared_ptr<json::Value> peak = json::parse(body);
    ASSERT_TRUE(peak) << body;
    ASSERT_TRUE(peak->lookup("peak")) << body;
    // Four at once is the bound; how close a run comes to it depends on the machine's load.
    EXPECT_LE(peak->lookup("peak")->asInt(-1), kIconFetchSlots) << body;
    EXPECT_GE(peak->lookup("peak")->asInt(-1), 2) << "fetches run side by side: " << body;
    // The last icon is drawn before its message is posted: pump until it arrives.
    sink.waitUntil([&] { return sink.count(kMsgIconReady) >= 200; }, 10000);
    EXPECT_EQ(200, sink.count(kMsgIconReady)) << "one message per drawn icon";
}

TEST(IconPool, AFailedIconIsFetchedAgainAfterThePauseThreeAttemptsInAll) {
    const unsigned kPauseMs = 400;
    RetryPause pause(kPauseMs);
    struct Case {
        const char* what;
        std::string refusals;  // script steps before the image would be served
        size_t requests;       // the server sees this many, then no more
        int32_t finalState;
        int messages;
    } cases[] = {
        {"404 three times", R"({"status":404,"body":"missing","times":3})", 3, 3, 0},
        {"refused twice, then served", R"({"status":503,"times":2})", 3, 2, 1},
        {"refused once, then served", R"({"status":429})", 2, 2, 1},
        {"refused three times", R"({"status":503,"times":3})", 3, 3, 0},
        {"undecodable three times", R"({"body":"no image at all","times":3})", 3, 3, 3},
    };
    for (const Case& c : cases) {
        OneIcon one;
        const std::string image = catalogtest::bytesStep(one.path, testimages::png(4, 4, 0x00FF00));
        ASSERT_FALSE(image.empty());
        ASSERT_TRUE(testserver::script(one.path, "[" + c.refusals + "," + image + "]")) << c.what;
        MessageSink sink;
        requestIcon(one.catalog, sink.window(), one.app, testserver::httpBase(), kSizes);
        ASSERT_TRUE(sink.waitUntil(
            [&] {
                return one.app->iconState.load() == c.finalState && testserver::requests(one.path).size() == c.requests;
            },
            30000))
            << c.what << ": state " << one.app->iconState.load() << ", " << testserver::requests(one.path).size()
            << " requests";
        // Longer than every pause still to come: nothing more is asked.
        sink.waitUntil([] { return false; }, 3 * kPauseMs);
        const std::vector<testserver::RecordedRequest> seen = testserver::requests(one.path);
        EXPECT_EQ(c.requests, seen.size()) << c.what;
        EXPECT_EQ(c.finalState, one.app->iconState.load()) << c.what;
        EXPECT_EQ(c.messages, messagesOnceSettled(sink, kMsgIconReady, c.messages)) << c.what;
        std::vector<double> times;
        for (const testserver::RecordedRequest& r : seen) times.push_back(r.time);
        for (size_t i = 1; i < times.size(); ++i)
            EXPECT_GE(times[i] - times[i - 1], kPauseMs / 1000.0 - 0.05) << c.what << ": retry " << i << " came early";
    }
}

TEST(IconPool, AFailedIconIsRetriedWithoutAnyRepaint) {
    RetryPause pause(200);
    OneIcon one;
    const std::string image = catalogtest::bytesStep(one.path, testimages::png(4, 4, 0x0000FF));
    ASSERT_TRUE(testserver::script(one.path, R"([{"status":503},)" + image + "]"));
    MessageSink sink;
    requestIcon(one.catalog, sink.window(), one.app, testserver::httpBase(), kSizes);
    ASSERT_TRUE(sink.waitUntil([&] { return one.app->iconState.load() == 2; }, 30000))
        << "the only call was the first paint's";
    EXPECT_EQ(1, messagesOnceSettled(sink, kMsgIconReady, 1)) << "the ready icon asks for the repaint";
}

TEST(IconPool, NewestRequestsAreServedFirst) {
    std::string prefix;
    catalogtest::uniqueBase(&prefix);
    CatalogState catalog;
    // Four slow icons hold every slot while the others are asked for; then one slot frees
    // and serves the waiting ones one by one while the other three are still held.
    auto lists = std::make_shared<CatalogLists>();
    const int kWaiting = 12;
    for (int i = 0; i < kIconFetchSlots + kWaiting; ++i) {
        App app;
        app.id = i;
        const std::string delay = i == 0 ? "800" : i < kIconFetchSlots ? "5000" : "0";
        app.icon = json::toWide(prefix + "/_gen/icon/" + delay + "/" + std::to_string(i) + ".png");
        lists->apps.push_back(std::move(app));
    }
    catalog.publish(lists);
    std::vector<AppRef> apps = refsOf(catalog.lists());
    MessageSink sink;
    for (int i = 0; i < kIconFetchSlots; ++i) requestIcon(catalog, sink.window(), apps[i], testserver::httpBase(), kSizes);
    ASSERT_TRUE(sink.waitUntil([&] { return pathsReceived(prefix).size() == kIconFetchSlots; }, 30000));
    // Later paints ask for the others, one card after another.
    for (size_t i = kIconFetchSlots; i < apps.size(); ++i) requestIcon(catalog, sink.window(), apps[i], testserver::httpBase(), kSizes);
    ASSERT_TRUE(sink.waitUntil([&] { return allIn(apps, 2); }, 60000));

    std::vector<std::string> order = pathsReceived(prefix);
    ASSERT_EQ(apps.size(), order.size());
    std::vector<std::string> expected;
    for (size_t i = apps.size(); i-- > kIconFetchSlots;) expected.push_back(json::toUtf8(apps[i]->icon));
    EXPECT_EQ(expected, std::vector<std::string>(order.begin() + kIconFetchSlots, order.end()))
        << "the latest request first, back to the oldest";
}

TEST(IconPool, AReloadDropsTheWaitingRequestsOfTheOldLists) {
    std::string prefix;
    catalogtest::uniqueBase(&prefix);
    CatalogState catalog;
    auto old = std::make_shared<CatalogLists>();
    const int kWaiting = 10;
    for (int i = 0; i < kIconFetchSlots + kWaiting; ++i) {
        App app;
        app.id = i;
        const std::string delay = i < kIconFetchSlots ? "1500" : "0";
        app.icon = json::toWide(prefix + "/_gen/icon/" + delay + "/old-" + std::to_string(i) + ".png");
        old->apps.push_back(std::move(app));
    }
    catalog.publish(old);
    std::vector<AppRef> oldApps = refsOf(catalog.lists());
    MessageSink sink;
    for (int i = 0; i < kIconFetchSlots; ++i) requestIcon(catalog, sink.window(), oldApps[i], testserver::httpBase(), kSizes);
    ASSERT_TRUE(sink.waitUntil([&] { return pathsReceived(prefix).size() == kIconFetchSlots; }, 30000));
    for (size_t i = kIconFetchSlots; i < oldApps.size(); ++i)
        requestIcon(catalog, sink.window(), oldApps[i], testserver::httpBase(), kSizes);

    catalog.publish(listsOfIcons(5, 100, [&](int i) { return prefix + "/_gen/icon/0/new-" + std::to_string(i) + ".png"; }));
    std::vector<AppRef> newApps = refsOf(catalog.lists());
    for (const AppRef& app : newApps) requestIcon(catalog, sink.window(), app, testserver::httpBase(), kSizes);
    ASSERT_TRUE(sink.waitUntil([&] { return allIn(newApps, 2) && allIn(oldApps, 3); }, 30000));

    for (const std::string& path : pathsReceived(prefix)) {
        EXPECT_TRUE(path.find("/new-") != std::string::npos || path.find("/_gen/icon/1500/") != std::string::npos)
            << path << ": asked for after its lists were replaced";
    }
    EXPECT_EQ(kIconFetchSlots + 5u, pathsReceived(prefix).size());
    for (const AppRef& app : oldApps) EXPECT_EQ(nullptr, keptIcon(*app)) << app->id;
}
