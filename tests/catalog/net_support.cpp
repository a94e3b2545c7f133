#include "catalog/net_support.h"

#include <cstdio>

#include "json/encoding.h"
#include "json/json.h"
#include "support/test_server.h"

namespace catalogtest {

MessageSink::MessageSink() {
    static const wchar_t* kClass = L"KVCatalogTestSink";
    WNDCLASSW wc = {};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = kClass;
    RegisterClassW(&wc);  // already registered by an earlier sink: fine
    window_ = CreateWindowExW(0, kClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
}

MessageSink::~MessageSink() {
    if (window_) DestroyWindow(window_);
}

void MessageSink::pump() {
    MSG msg;
    while (PeekMessageW(&msg, window_, 0, 0, PM_REMOVE)) {
        if (msg.message >= WM_APP) received.push_back(msg);
        DispatchMessageW(&msg);
    }
}

bool MessageSink::waitUntil(const std::function<bool()>& done, DWORD ms) {
    const DWORD start = GetTickCount();
    for (;;) {
        pump();
        if (done()) return true;
        if (GetTickCount() - start >= ms) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

int MessageSink::count(UINT message) const {
    int n = 0;
    for (const MSG& m : received) n += m.message == message;
    return n;
}

int MessageSink::count(UINT message, WPARAM wParam) const {
    int n = 0;
    for (const MSG& m : received) n += m.message == message && m.wParam == wParam;
    return n;
}

std::string bytesStep(const std::string& path, const std::string& bytes, int delayMs) {
    char buf[4096];
    const DWORD n = GetEnvironmentVariableA("KV_BINARY_DIR", buf, sizeof buf);
    if (n == 0 || n >= sizeof buf) return "";
    const std::string dir = std::string(buf, n) + "/catalog-test-files";
    CreateDirectoryW(testserver::hostPathToWindows(dir).c_str(), nullptr);
    std::string name = path;
    for (char& c : name) {
        if (c == '/') c = '_';
    }
    const std::string file = dir + "/" + name;
    FILE* f = _wfopen(testserver::hostPathToWindows(file).c_str(), L"wb");
    if (!f) return "";
    const bool written = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    fclose(f);
    if (!written) return "";
    std::string step = "{\"file\":\"" + json::escape(file) + "\"";
    if (delayMs > 0) step += ",\"delay_ms\":" + std::to_string(delayMs);
    return step + "}";
}

bool serveBytes(const std::string& path, const std::string& bytes, int delayMs) {
    const std::string step = bytesStep(path, bytes, delayMs);
    return !step.empty() && testserver::script(path, "[" + step + "]");
}

std::wstring uniqueBase(std::string* prefix) {
    std::string p = testserver::uniquePath("x");
    p.resize(p.rfind('/'));
    // Wine reuses process ids once its server has gone, so an earlier run may have left
    // requests under the same prefix.
    testserver::reset(p + "/");
    if (prefix) *prefix = p;
    return testserver::httpBase() + json::toWide(p);
}

}  // namespace catalogtest
