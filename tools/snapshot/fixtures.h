// Fixture data for the snapshot tool: the demo catalog read from its folder (with its
// icons decoded into bitmaps when asked) and small hand-made catalogs and tasks.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "catalog/catalog.h"
#include "download/task.h"

namespace snapshot {

using Lists = std::shared_ptr<const CatalogLists>;

// The demo catalog's bootstrap.json from `folder`. With decodeIcons each icon named by an
// application is read from the folder's icons/ and becomes a ready bitmap; every other
// icon is marked failed, so the cards keep their placeholders and nothing is fetched.
// allCategory adds a first category "全部软件" (id "0") holding every application.
// Null with `error` set when the bootstrap cannot be read.
std::shared_ptr<CatalogLists> loadDemoCatalog(const std::wstring& folder, bool decodeIcons, bool allCategory,
                                              std::wstring& error);

// How many icons loadDemoCatalog decoded into bitmaps in its last call with decodeIcons.
int decodedIconCount();

App makeApp(int32_t id, const std::wstring& name, const std::wstring& version, const std::wstring& description,
            int64_t packageSize, bool hasPackage, const std::wstring& categoryId);

TaskInfo makeTask(int32_t appId, const std::wstring& name, TaskState state, int64_t downloadedBytes = 0,
                  int64_t totalBytes = 0);

// A fixed update time (28 November 2024) for every hand-made application.
constexpr int64_t kFixtureUpdatedAt = 1732780800000;

}  // namespace snapshot
