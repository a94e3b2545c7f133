#include "fixtures.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <utility>

#include "ui/layout.h"
#include "ui/scale.h"

namespace snapshot {

namespace {

int lastDecodedIcons = 0;

bool readFile(const std::filesystem::path& path, std::string& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

// An icon path of the catalog ("/icons/app-1001.ico") as a file below the demo folder.
std::filesystem::path iconFile(const std::wstring& folder, const std::wstring& iconPath) {
    std::wstring relative = iconPath;
    while (!relative.empty() && (relative[0] == L'/' || relative[0] == L'\\')) relative.erase(0, 1);
    return std::filesystem::path(folder) / std::filesystem::path(relative).make_preferred();
}

// The bitmap the icon fetcher would make from the file's bytes, or null.
HBITMAP decodeIconFile(const std::filesystem::path& path) {
    std::string body;
    if (!readFile(path, body) || body.empty() || body.size() > kMaxIconBytes) return nullptr;
    std::string rebuilt;
    const std::string& bytes = rebuildIconFile(body, rebuilt) ? rebuilt : body;
    bool noMemory = false;
    return decodeIconImage(bytes, noMemory);
}

// Kept as the fetch worker keeps it, at the sizes of every scale a snapshot is taken at.
void keepSnapshotIcon(const App& app, HBITMAP bitmap) {
    std::vector<IconSize> sizes;
    for (int dpi : {96, 120, 144, 168, 192}) {
        const ScopedUiDpi scale(dpi);
        for (const IconSize size : iconSizes()) sizes.push_back(size);
    }
    keepIcon(app, scaleIconImage(bitmap, sizes));
    DeleteObject(bitmap);
    app.iconState.store(2);
}

}  // namespace

std::shared_ptr<CatalogLists> loadDemoCatalog(const std::wstring& folder, bool decodeIcons, bool allCategory,
                                              std::wstring& error) {
    const std::filesystem::path bootstrap = std::filesystem::path(folder) / L"bootstrap.json";
    std::string body;
    if (!readFile(bootstrap, body) || body.empty()) {
        error = L"cannot read " + bootstrap.wstring();
        return nullptr;
    }
    auto lists = std::make_shared<CatalogLists>();
    if (!parseBootstrap(body, *lists)) {
        error = L"cannot parse " + bootstrap.wstring();
        return nullptr;
    }
    if (decodeIcons) lastDecodedIcons = 0;
    for (App& app : lists->apps) {
        HBITMAP bitmap = nullptr;
        if (decodeIcons && !app.icon.empty()) bitmap = decodeIconFile(iconFile(folder, app.icon));
        if (bitmap) {
            keepSnapshotIcon(app, bitmap);
            ++lastDecodedIcons;
        } else {
            app.iconState.store(3);
        }
        if (allCategory) app.categoryIds.push_back(L"0");
    }
    if (allCategory) lists->categories.insert(lists->categories.begin(), Category{L"0", L"全部软件"});
    return lists;
}

int decodedIconCount() { return lastDecodedIcons; }

App makeApp(int32_t id, const std::wstring& name, const std::wstring& version, const std::wstring& description,
            int64_t packageSize, bool hasPackage, const std::wstring& categoryId) {
    App app;
    app.id = id;
    app.name = name;
    app.version = version;
    app.description = description;
    app.packageSize = packageSize;
    app.hasPackage = hasPackage;
    app.updatedAt = kFixtureUpdatedAt;
    app.categoryIds.push_back(categoryId);
    app.iconState.store(3);  // no icon: the placeholder, and no fetch
    return app;
}

TaskInfo makeTask(int32_t appId, const std::wstring& name, TaskState state, int64_t downloadedBytes,
                  int64_t totalBytes) {
    TaskInfo task;
    task.appId = appId;
    task.name = name;
    task.state = static_cast<int32_t>(state);
    task.downloadedBytes = downloadedBytes;
    task.totalBytes = totalBytes;
    return task;
}

}  // namespace snapshot
