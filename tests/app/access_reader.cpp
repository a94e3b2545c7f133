// Reads another process's window the way a screen reader does, through
// AccessibleObjectFromWindow, and writes what it found to a file (UTF-8, one line each):
//
//   access_reader tree  HWND OUT            "count N", then "child I|role|state|name|l,t,w,h"
//   access_reader press HWND OUT CHILD      "press HRESULT"
//   access_reader watch HWND OUT READY EVENT  out-of-context hook for one event; creates
//                                           the file READY once hooked, writes "event NAME"
//                                           of the first one that arrives
//   access_reader after HWND OUT READY GONE holds the object, creates READY, waits for the
//                                           file GONE, then "after HRESULT" of a call
//
// Output goes to a file because a pipe can be handed on to Wine's own services.
#include <windows.h>
#include <oleacc.h>

#include "support/accessible_child.h"

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>

namespace {

const IID kIidAccessible = {0x618736E0, 0x3C3D, 0x11CF, {0x81, 0x0C, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};

std::string utf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(size_t(n > 0 ? n : 0), '\0');
    if (n > 0) WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), &out[0], n, nullptr, nullptr);
    return out;
}

std::wstring gOutPath;
void writeLine(const std::string& line) {
    FILE* f = _wfopen(gOutPath.c_str(), L"ab");
    if (!f) return;
    std::fwrite(line.data(), 1, line.size(), f);
    std::fputc('\n', f);
    std::fclose(f);
}

IAccessible* clientOf(HWND window) {
    IAccessible* object = nullptr;
    if (FAILED(AccessibleObjectFromWindow(window, static_cast<DWORD>(OBJID_CLIENT), kIidAccessible,
                                          reinterpret_cast<void**>(&object)))) {
        return nullptr;
    }
    return object;
}

void writeTree(IAccessible* object) {
    long count = 0;
    object->get_accChildCount(&count);
    writeLine("count " + std::to_string(count));
    for (long i = 1; i <= count; ++i) {
        const AccessibleChild c = readAccessibleChild(object, i);
        writeLine("child " + std::to_string(i) + "|" + std::to_string(c.role) + "|" + std::to_string(c.state) + "|" +
                  utf8(c.name) + "|" + std::to_string(c.left) + "," + std::to_string(c.top) + "," +
                  std::to_string(c.width) + "," + std::to_string(c.height));
    }
}

bool fileExists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void touch(const std::wstring& path) {
    HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (f != INVALID_HANDLE_VALUE) CloseHandle(f);
}

bool gEventSeen = false;
DWORD gWatched = 0;

void CALLBACK onEvent(HWINEVENTHOOK, DWORD event, HWND window, LONG object, LONG child, DWORD, DWORD) {
    if (event != gWatched || gEventSeen) return;
    IAccessible* source = nullptr;
    VARIANT id;
    VariantInit(&id);
    if (SUCCEEDED(AccessibleObjectFromEvent(window, static_cast<DWORD>(object), static_cast<DWORD>(child), &source,
                                            &id)) &&
        source) {
        writeLine("event " + utf8(accessibleName(source, id.vt == VT_I4 ? id.lVal : child)));
        source->Release();
    } else {
        writeLine("event without an object, child " + std::to_string(child));
    }
    gEventSeen = true;
}

// Pumps messages until done or about 20 s passed.
template <typename F>
void pumpUntil(F done) {
    for (int i = 0; i < 1000 && !done(); ++i) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 4) return 2;
    const std::wstring mode = argv[1];
    HWND window = reinterpret_cast<HWND>(static_cast<uintptr_t>(_wcstoui64(argv[2], nullptr, 10)));
    gOutPath = argv[3];
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    int code = 0;
    if (mode == L"tree" || mode == L"press") {
        IAccessible* object = clientOf(window);
        if (!object) {
            writeLine("no object");
            code = 1;
        } else if (mode == L"tree") {
            writeTree(object);
        } else if (argc >= 5) {
            const HRESULT hr = object->accDoDefaultAction(childId(std::wcstol(argv[4], nullptr, 10)));
            writeLine("press " + std::to_string(long(hr)));
        }
        if (object) object->Release();
    } else if (mode == L"watch" && argc >= 6) {
        gWatched = static_cast<DWORD>(std::wcstoul(argv[5], nullptr, 0));
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        // From EVENT_MIN, as screen readers hook: Wine tells a thread that winevent hooks
        // exist only for hooks whose range starts there.
        HWINEVENTHOOK hook = SetWinEventHook(EVENT_MIN, std::max<DWORD>(gWatched, EVENT_MIN), nullptr, onEvent,
                                             process, 0, WINEVENT_OUTOFCONTEXT);
        if (!hook) writeLine("no hook");
        touch(argv[4]);
        pumpUntil([] { return gEventSeen; });
        if (hook) UnhookWinEvent(hook);
        if (!gEventSeen) writeLine("no event");
    } else if (mode == L"after" && argc >= 6) {
        IAccessible* object = clientOf(window);
        touch(argv[4]);
        const std::wstring gone = argv[5];
        pumpUntil([&] { return fileExists(gone); });
        long count = 0;
        const HRESULT hr = object ? object->get_accChildCount(&count) : E_POINTER;
        writeLine("after " + std::to_string(long(hr)));
        if (object) object->Release();
    } else {
        code = 2;
    }
    CoUninitialize();
    return code;
}
