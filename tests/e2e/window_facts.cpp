// Reads the program's windows the way another process sees them and writes the answers as
// JSON to a file (a pipe on standard output can be handed on to Wine's services and never end).
//   kv_window_facts OUT facts [CLASS]           main window (or another class), shadow, settings dialog
//   kv_window_facts OUT hit X Y [X Y ...]       WM_NCHITTEST answers at screen points
//   kv_window_facts OUT ping COUNT PAUSE_MS [TIMEOUT_MS]
//                                               WM_NULL round trips (each given up after
//                                               TIMEOUT_MS, 1000 by default): failures and slowest
//   kv_window_facts OUT uninstall PREFIX        current user's uninstall entries by key prefix
//   kv_window_facts OUT forget PREFIX           deletes those entries
//   kv_window_facts OUT ink HWND HEIGHT WEIGHT  the control's text drawn here with the program's
//                                               font at that LOGFONT height: extent and ink box
//   kv_window_facts OUT areas                   the main window's client origin and the children of
//                                               its accessible client object, as a screen reader
//                                               reads them: role, state, name, client rectangle
//   kv_window_facts DIR serve                   the commands above, served from a folder (see serve)
#include "scoped.h"
#include "support/accessible_child.h"

#include <windows.h>
#include <oleacc.h>
#include <psapi.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <string>
#include <utility>
#include <vector>

namespace {

struct RegionTraits {
    static HRGN invalid() { return nullptr; }
    static bool valid(HRGN h) { return h != nullptr; }
    static void close(HRGN h) { DeleteObject(h); }
};
using ScopedRegion = Scoped<HRGN, RegionTraits>;

BOOL CALLBACK collectMark(HWND, LPWSTR name, HANDLE value, ULONG_PTR param) {
    // Atom-named properties come with a name that is no pointer.
    if (IS_INTRESOURCE(name) || wcsncmp(name, L"KVMark", 6) != 0) return TRUE;
    reinterpret_cast<std::vector<std::pair<std::wstring, UINT_PTR>>*>(param)->emplace_back(
        name, reinterpret_cast<UINT_PTR>(value));
    return TRUE;
}

std::string utf8(const std::wstring& text) {
    if (text.empty()) return "";
    int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), &out[0], n, nullptr, nullptr);
    return out;
}

std::string quoted(const std::wstring& text) {
    std::string out = "\"";
    for (char c : utf8(text)) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char buf[8];
            snprintf(buf, sizeof buf, "\\u%04x", unsigned(c));
            out += buf;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string rectJson(const RECT& r) {
    char buf[96];
    snprintf(buf, sizeof buf, "[%ld, %ld, %ld, %ld]", r.left, r.top, r.right, r.bottom);
    return buf;
}

std::wstring textOf(HWND window) {
    wchar_t buf[512] = {};
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(buf), SMTO_ABORTIFHUNG, 2000, &copied))
        return L"";
    return std::wstring(buf, copied < 512 ? copied : 511);
}

std::wstring classOf(HWND window) {
    wchar_t buf[128] = {};
    int n = GetClassNameW(window, buf, 128);
    return std::wstring(buf, n > 0 ? n : 0);
}

// Which points of the window region (window coordinates) are inside it.
std::string regionJson(HWND window, const RECT& frame) {
    ScopedRegion region(CreateRectRgn(0, 0, 0, 0));
    int kind = region ? GetWindowRgn(window, region.get()) : ERROR;
    if (kind == ERROR || kind == NULLREGION) return "null";
    RECT box = {};
    GetRgnBox(region.get(), &box);
    int w = frame.right - frame.left, h = frame.bottom - frame.top;
    const POINT probes[] = {{0, 0}, {1, 1}, {7, 7}, {w / 2, 0}, {w - 1, 0}, {0, h - 1}, {w - 1, h - 1}, {w / 2, h / 2}};
    std::string inside;
    for (const POINT& p : probes) {
        if (!inside.empty()) inside += ", ";
        inside += PtInRegion(region.get(), p.x, p.y) ? "1" : "0";
    }
    char buf[64];
    snprintf(buf, sizeof buf, "%d", kind);
    return std::string("{\"kind\": ") + buf + ", \"box\": " + rectJson(box) + ", \"inside\": [" + inside + "]}";
}

std::string windowJson(HWND window) {
    if (!window) return "null";
    RECT frame = {}, client = {};
    GetWindowRect(window, &frame);
    GetClientRect(window, &client);
    char flags[256];
    snprintf(flags, sizeof flags,
             "\"hwnd\": %llu, \"enabled\": %d, \"visible\": %d, \"zoomed\": %d, \"iconic\": %d, "
             "\"style\": %lu, \"exstyle\": %lu",
             static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(window)), IsWindowEnabled(window) ? 1 : 0,
             IsWindowVisible(window) ? 1 : 0, IsZoomed(window) ? 1 : 0, IsIconic(window) ? 1 : 0,
             static_cast<unsigned long>(GetWindowLongW(window, GWL_STYLE)),
             static_cast<unsigned long>(GetWindowLongW(window, GWL_EXSTYLE)));
    HWND owner = GetWindow(window, GW_OWNER);
    // The windows just above and just below this one in the Z order.
    HWND above = GetWindow(window, GW_HWNDPREV);
    HWND below = GetWindow(window, GW_HWNDNEXT);
    POINT origin = {0, 0};
    ClientToScreen(window, &origin);
    char originText[64];
    snprintf(originText, sizeof originText, ", \"origin\": [%ld, %ld]", origin.x, origin.y);
    std::string out = std::string("{") + flags + ", \"window\": " + rectJson(frame) + ", \"client\": " + rectJson(client) +
                      ", \"title\": " + quoted(textOf(window)) + ", \"region\": " + regionJson(window, frame) +
                      ", \"owner\": " + std::to_string(static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(owner))) +
                      ", \"above\": " + std::to_string(static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(above))) +
                      ", \"below\": " + std::to_string(static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(below))) +
                      originText;

    MINMAXINFO limits = {};
    DWORD_PTR ignored = 0;
    if (SendMessageTimeoutW(window, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&limits), SMTO_ABORTIFHUNG, 2000,
                            &ignored)) {
        char buf[64];
        snprintf(buf, sizeof buf, ", \"minTrack\": [%ld, %ld]", limits.ptMinTrackSize.x, limits.ptMinTrackSize.y);
        out += buf;
    }

    // Counters the program keeps as window properties for tools like this one.
    for (const wchar_t* name : {L"KVPaintCount", L"KVCatalogFrameMs", L"KVCatalogIconsFrameMs", L"KVFirstPaintMs"}) {
        HANDLE value = GetPropW(window, name);
        out += ", " + quoted(name) + ": " + std::to_string(static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(value)));
    }
    // Start-up marks: however many the program sets, each "KVMark…" property as it stands.
    std::vector<std::pair<std::wstring, UINT_PTR>> marks;
    EnumPropsExW(window, collectMark, reinterpret_cast<LPARAM>(&marks));
    for (const auto& mark : marks)
        out += ", " + quoted(mark.first.c_str()) + ": " + std::to_string(static_cast<unsigned long long>(mark.second));

    GUITHREADINFO gui = {};
    gui.cbSize = sizeof gui;
    DWORD thread = GetWindowThreadProcessId(window, nullptr);
    if (GetGUIThreadInfo(thread, &gui)) {
        out += ", \"focus\": " + std::to_string(static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(gui.hwndFocus)));
        out += ", \"focusId\": " + std::to_string(gui.hwndFocus ? GetDlgCtrlID(gui.hwndFocus) : 0);
        out += ", \"active\": " + std::to_string(static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(gui.hwndActive)));
    }

    std::string children;
    for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        RECT r = {};
        GetWindowRect(child, &r);
        MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&r), 2);
        char buf[200];
        snprintf(buf, sizeof buf, "\"hwnd\": %llu, \"id\": %d, \"style\": %lu, \"exstyle\": %lu, \"visible\": %d, \"rect\": ",
                 static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(child)), GetDlgCtrlID(child),
                 static_cast<unsigned long>(GetWindowLongW(child, GWL_STYLE)),
                 static_cast<unsigned long>(GetWindowLongW(child, GWL_EXSTYLE)), IsWindowVisible(child) ? 1 : 0);
        if (!children.empty()) children += ", ";
        children += std::string("{") + buf + rectJson(r) + ", \"class\": " + quoted(classOf(child)) +
                    ", \"text\": " + quoted(textOf(child)) + "}";
    }
    return out + ", \"children\": [" + children + "]}";
}

std::string facts(const wchar_t* mainClass) {
    HWND main = FindWindowW(mainClass, nullptr);
    HWND shadow = FindWindowW(L"KVShadow", nullptr);
    HWND settings = FindWindowW(L"KVSettings", nullptr);
    return "{\"main\": " + windowJson(main) + ",\n \"shadow\": " + windowJson(shadow) + ",\n \"settings\": " +
           windowJson(settings) + "}\n";
}

std::string hitTests(int argc, wchar_t** argv) {
    HWND main = FindWindowW(L"KVMainWnd", nullptr);
    std::string out = "[";
    for (int i = 0; i + 1 < argc; i += 2) {
        int x = _wtoi(argv[i]), y = _wtoi(argv[i + 1]);
        DWORD_PTR answer = 0;
        long code = -1;
        if (main && SendMessageTimeoutW(main, WM_NCHITTEST, 0, MAKELPARAM(x, y), SMTO_ABORTIFHUNG, 2000, &answer))
            code = static_cast<long>(static_cast<LRESULT>(answer));
        if (i) out += ", ";
        out += std::to_string(code);
    }
    return out + "]\n";
}

std::string ping(int count, int pauseMs, int timeoutMs) {
    HWND main = FindWindowW(L"KVMainWnd", nullptr);
    int failures = 0;
    DWORD slowest = 0;
    for (int i = 0; i < count; i++) {
        DWORD start = GetTickCount();
        DWORD_PTR ignored = 0;
        if (!main || !SendMessageTimeoutW(main, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, static_cast<UINT>(timeoutMs), &ignored)) failures++;
        DWORD took = GetTickCount() - start;
        if (took > slowest) slowest = took;
        Sleep(pauseMs);
    }
    return "{\"count\": " + std::to_string(count) + ", \"failures\": " + std::to_string(failures) +
           ", \"slowestMs\": " + std::to_string(slowest) + "}\n";
}

// A control's font cannot be read from another process, so its text is drawn here in the
// font the program would have made for that height, black on white, for the caller to
// compare with the control's pixels on screen: the text's extent, the box of its ink (pixels
// darker than mid-grey) and, for an edit box, the distance the control itself puts between
// its first and last characters (EM_POSFROMCHAR) beside the extent of the text before the last.
std::string inkOf(HWND control, int height, int weight) {
    const std::wstring text = textOf(control);
    if (text.empty()) return "null\n";
    ScopedGdiObject font(CreateFontW(-height, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                                     CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH, L"Microsoft YaHei"));
    ScopedMemoryDc dc(CreateCompatibleDC(nullptr));
    if (!font || !dc) return "null\n";
    HGDIOBJ oldFont = SelectObject(dc.get(), font.get());
    SIZE extent = {}, before = {};
    GetTextExtentPoint32W(dc.get(), text.c_str(), int(text.size()), &extent);
    GetTextExtentPoint32W(dc.get(), text.c_str(), int(text.size()) - 1, &before);
    const int w = extent.cx + 2 * height, h = extent.cy + height;
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = -h;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    ScopedGdiObject bitmap(CreateDIBSection(dc.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!bitmap || !bits) {
        SelectObject(dc.get(), oldFont);
        return "null\n";
    }
    HGDIOBJ oldBitmap = SelectObject(dc.get(), bitmap.get());
    RECT all{0, 0, w, h};
    FillRect(dc.get(), &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    SetBkMode(dc.get(), TRANSPARENT);
    SetTextColor(dc.get(), RGB(0, 0, 0));
    RECT place{height, height / 2, w, h};
    DrawTextW(dc.get(), text.c_str(), int(text.size()), &place, DT_SINGLELINE | DT_NOPREFIX | DT_LEFT | DT_TOP);
    GdiFlush();
    int left = w, top = h, right = -1, bottom = -1;
    const auto* pixels = static_cast<const uint32_t*>(bits);
    for (int y = 0; y < h; y++) {
        for (int x = 0; x < w; x++) {
            const uint32_t p = pixels[size_t(y) * w + x];
            const int darkest = std::min({int(p & 0xFF), int((p >> 8) & 0xFF), int((p >> 16) & 0xFF)});
            if (darkest >= 128) continue;
            left = std::min(left, x), right = std::max(right, x);
            top = std::min(top, y), bottom = std::max(bottom, y);
        }
    }
    SelectObject(dc.get(), oldBitmap);
    SelectObject(dc.get(), oldFont);
    std::string out = "{\"extent\": " + std::to_string(extent.cx) + ", \"beforeLast\": " + std::to_string(before.cx) +
                      ", \"inkWidth\": " + std::to_string(right >= left ? right - left + 1 : 0) +
                      ", \"inkHeight\": " + std::to_string(bottom >= top ? bottom - top + 1 : 0);
    if (classOf(control) == L"Edit") {
        DWORD_PTR first = 0, last = 0;
        if (SendMessageTimeoutW(control, EM_POSFROMCHAR, 0, 0, SMTO_ABORTIFHUNG, 2000, &first) &&
            SendMessageTimeoutW(control, EM_POSFROMCHAR, text.size() - 1, 0, SMTO_ABORTIFHUNG, 2000, &last)) {
            out += ", \"charSpan\": " + std::to_string(short(LOWORD(last)) - short(LOWORD(first)));
        }
    }
    return out + "}\n";
}

const wchar_t kUninstall[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

std::vector<std::wstring> uninstallKeys(const std::wstring& prefix) {
    std::vector<std::wstring> names;
    ScopedKey root;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kUninstall, 0, KEY_READ, root.out()) != ERROR_SUCCESS) return names;
    for (DWORD i = 0; i < 100000; i++) {
        wchar_t name[256];
        DWORD length = 256;
        if (RegEnumKeyExW(root.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        std::wstring key(name, length);
        if (key.compare(0, prefix.size(), prefix) == 0) names.push_back(key);
    }
    return names;
}

std::string uninstallEntries(const std::wstring& prefix) {
    std::string out = "{";
    for (const std::wstring& key : uninstallKeys(prefix)) {
        wchar_t display[512] = {};
        DWORD bytes = sizeof display - sizeof(wchar_t);
        RegGetValueW(HKEY_CURRENT_USER, (std::wstring(kUninstall) + L"\\" + key).c_str(), L"DisplayName", RRF_RT_REG_SZ,
                     nullptr, display, &bytes);
        if (out.size() > 1) out += ", ";
        out += quoted(key) + ": " + quoted(display);
    }
    return out + "}\n";
}

std::string forget(const std::wstring& prefix) {
    int removed = 0;
    for (const std::wstring& key : uninstallKeys(prefix))
        if (RegDeleteKeyW(HKEY_CURRENT_USER, (std::wstring(kUninstall) + L"\\" + key).c_str()) == ERROR_SUCCESS) removed++;
    return "{\"removed\": " + std::to_string(removed) + "}\n";
}

}  // namespace

// Places the program itself tells a screen reader: the harness finds its buttons and rows
// here instead of working them out from the layout.
std::string accessibleAreas(const wchar_t* mainClass) {
    static const IID iidAccessible = {0x618736E0, 0x3C3D, 0x11CF, {0x81, 0x0C, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
    HWND main = FindWindowW(mainClass, nullptr);
    if (!main) return "{\"found\": false}\n";
    POINT origin = {0, 0};
    ClientToScreen(main, &origin);
    IAccessible* object = nullptr;
    if (FAILED(AccessibleObjectFromWindow(main, static_cast<DWORD>(OBJID_CLIENT), iidAccessible,
                                          reinterpret_cast<void**>(&object))) ||
        !object) {
        return "{\"found\": false}\n";
    }
    long count = 0;
    object->get_accChildCount(&count);
    std::string areas;
    for (long i = 1; i <= count; ++i) {
        const AccessibleChild child = readAccessibleChild(object, i);
        const RECT r = {child.left - origin.x, child.top - origin.y, child.left - origin.x + child.width,
                        child.top - origin.y + child.height};
        char buf[64];
        snprintf(buf, sizeof buf, "{\"role\": %ld, \"state\": %ld, \"name\": ", child.role, child.state);
        if (!areas.empty()) areas += ",\n  ";
        areas += buf + quoted(child.name) + ", \"rect\": " + rectJson(r) + "}";
    }
    object->Release();
    char head[96];
    snprintf(head, sizeof head, "{\"found\": true, \"origin\": [%ld, %ld], \"areas\": [\n  ", origin.x, origin.y);
    return head + areas + "]}\n";
}

// The main window's process: its memory now and at its peak, in bytes.
std::string memoryOf(const wchar_t* mainClass) {
    HWND main = FindWindowW(mainClass, nullptr);
    DWORD pid = 0;
    if (main) GetWindowThreadProcessId(main, &pid);
    ScopedHandle process(pid ? OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid) : nullptr);
    PROCESS_MEMORY_COUNTERS pmc = {};
    pmc.cb = sizeof pmc;
    if (!process || !GetProcessMemoryInfo(process.get(), &pmc, sizeof pmc)) return "{\"found\": false}\n";
    return "{\"found\": true, \"workingSet\": " + std::to_string(static_cast<unsigned long long>(pmc.WorkingSetSize)) +
           ", \"peakWorkingSet\": " + std::to_string(static_cast<unsigned long long>(pmc.PeakWorkingSetSize)) +
           ", \"private\": " + std::to_string(static_cast<unsigned long long>(pmc.PagefileUsage)) +
           ", \"peakPrivate\": " + std::to_string(static_cast<unsigned long long>(pmc.PeakPagefileUsage)) + "}\n";
}

// The answer to one command (its words after OUT), or an empty string for an unknown one.
std::string answerFor(std::vector<std::wstring> words) {
    const size_t n = words.size();
    std::vector<wchar_t*> argv;
    for (auto& w : words) argv.push_back(&w[0]);
    const std::wstring command = n ? words[0] : L"";
    if (command == L"facts") return facts(n >= 2 ? argv[1] : L"KVMainWnd");
    if (command == L"memory") return memoryOf(L"KVMainWnd");
    if (command == L"hit") return hitTests(int(n) - 1, argv.data() + 1);
    if (command == L"ping" && n >= 3) return ping(_wtoi(argv[1]), _wtoi(argv[2]), n >= 4 ? _wtoi(argv[3]) : 1000);
    if (command == L"uninstall" && n >= 2) return uninstallEntries(argv[1]);
    if (command == L"forget" && n >= 2) return forget(argv[1]);
    if (command == L"areas") {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        std::string answer = accessibleAreas(L"KVMainWnd");
        CoUninitialize();
        return answer;
    }
    if (command == L"ink" && n >= 4)
        return inkOf(reinterpret_cast<HWND>(static_cast<UINT_PTR>(_wcstoui64(argv[1], nullptr, 10))), _wtoi(argv[2]),
                     _wtoi(argv[3]));
    return "";
}

// Written whole to a temporary name and renamed, so a reader never sees half an answer.
bool writeAnswer(const std::wstring& out, const std::string& answer) {
    const std::wstring part = out + L".part";
    {
        ScopedFile file(CreateFileW(part.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) return false;
        DWORD written = 0;
        if (!WriteFile(file.get(), answer.data(), DWORD(answer.size()), &written, nullptr) || written != answer.size())
            return false;
    }
    return MoveFileExW(part.c_str(), out.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

std::wstring wide(const std::string& text) {
    if (text.empty()) return L"";
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0);
    std::wstring out(size_t(n > 0 ? n : 0), L'\0');
    if (n > 0) MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), &out[0], n);
    return out;
}

// Serves commands from the folder DIR: a file "request" of one line, "ID<TAB>word<TAB>word...",
// answered in "answer-ID.json"; a start of a Windows program under Wine costs about a second,
// a served command a few milliseconds. Ends on a file "quit", after ten idle minutes, or after
// an hour.
int serve(const std::wstring& folder) {
    const std::wstring request = folder + L"\\request", quit = folder + L"\\quit";
    const ULONGLONG started = GetTickCount64();
    ULONGLONG lastAsked = started;
    for (;;) {
        const ULONGLONG now = GetTickCount64();
        if (GetFileAttributesW(quit.c_str()) != INVALID_FILE_ATTRIBUTES || now - lastAsked > 600000 ||
            now - started > 3600000)
            return 0;
        std::string line;
        {
            ScopedFile file(CreateFileW(request.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
            if (file) {
                char buf[4096];
                DWORD got = 0;
                if (ReadFile(file.get(), buf, sizeof buf, &got, nullptr)) line.assign(buf, got);
            }
        }
        if (line.empty()) {
            Sleep(5);
            continue;
        }
        DeleteFileW(request.c_str());
        lastAsked = GetTickCount64();
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
        std::vector<std::wstring> words;
        size_t from = 0;
        for (;;) {
            const size_t tab = line.find('\t', from);
            words.push_back(wide(line.substr(from, tab == std::string::npos ? std::string::npos : tab - from)));
            if (tab == std::string::npos) break;
            from = tab + 1;
        }
        const std::wstring id = words[0];
        words.erase(words.begin());
        const std::string answer = answerFor(words);
        writeAnswer(folder + L"\\answer-" + id + L".json", answer.empty() ? "{\"unknown\": true}\n" : answer);
    }
}

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        fwprintf(stderr, L"usage: kv_window_facts OUT facts|memory|hit|ping|uninstall|forget|ink|areas ...\n"
                         L"       kv_window_facts DIR serve\n");
        return 2;
    }
    if (std::wstring(argv[2]) == L"serve") return serve(argv[1]);
    const std::string answer = answerFor(std::vector<std::wstring>(argv + 2, argv + argc));
    if (answer.empty()) {
        fwprintf(stderr, L"kv_window_facts: unknown command\n");
        return 2;
    }
    return writeAnswer(argv[1], answer) ? 0 : 3;
}
