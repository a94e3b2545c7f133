// The window's layout as plain functions of the display scale (ui/scale.h): the header,
// sidebar, content area and overlays. The painters, hit-testing, keyboard focus, scrolling
// and the accessible tree all take their places from here, so they cannot disagree.
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "catalog/catalog.h"
#include "download/task.h"
#include "ui/view_state.h"

int headerHeight();                 // the header band, 64 at 96 DPI
int sidebarWidth();                 // 200; the divider line lies at this x
int sidebarRowsTop();               // 78
int sidebarRowsBottom(int clientHeight);  // h - 14
int sidebarRowHeight();             // 46
int sidebarRowPitch();              // 54
int sidebarRowLeft();               // 12
int sidebarRowRight();              // 188
RECT gridArea(int clientWidth, int clientHeight);  // (212, 78)-(w - 12, h)
RECT toastRect(int clientWidth);    // 360 x 42 centred at y 80
// The icon boxes of the views, as their painters place them, and their sizes at the
// window's scale: the fetch worker keeps each icon at exactly these sizes.
RECT cardIconRect(int cardLeft, int cardTop, int cardWidth);
RECT rowIconRect(int rowTop);
RECT bannerIconRect(int clientWidth, int clientHeight);
std::vector<IconSize> iconSizes();
int gridPageHeight(int clientHeight);   // the grid's visible band below its title
int panelPageHeight(int clientHeight);  // the panel's rows band

struct SidebarGeometry {
    int contentH = 0;
    int viewport = 0;
    int maxScroll = 0;
    int scroll = 0;  // clamped
};
SidebarGeometry sidebarGeometry(int clientHeight, int rowCount, int scroll);
int sidebarRowTop(const SidebarGeometry& g, int index);  // before skipping invisible rows
ScrollbarGeom sidebarScrollbarGeom(const SidebarGeometry& g, int clientHeight);
int sidebarNameShift(int nameWidth);
// The corner radius a pressable area of this hit kind is drawn with (0 for square ones);
// the painters and the focus ring around the area both take it from here.
int areaCornerRadius(int kind);  // (149 - width) / 2 below 148, else 0

bool toastShowing(uint32_t now, uint32_t toastTick);    // drawn while now - tick <= 2199
bool bannerShowing(uint32_t now, uint32_t bannerTick);  // drawn while now - tick < 5000
int activeDownloadCount(const std::map<int32_t, TaskInfo>& tasks);  // Downloading only
// What the catalog view shows for the selected category: the section title, the
// applications in catalog order and, when there are none, the text shown instead.
struct CatalogSection {
    std::wstring title;
    std::vector<const App*> apps;
    std::wstring emptyText;  // empty while there are applications
};
CatalogSection catalogSection(const CatalogLists& lists, const std::wstring& selectedId);

