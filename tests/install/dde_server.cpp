// A running program that the shell hands a file to over DDE instead of starting a process:
// serves "KVTestDde" / "System", exits 0 after the first execute command (10 s at most, then 2).
// Signals the named event given as its argument once it is ready.
#include <windows.h>
#include <ddeml.h>

namespace {

DWORD ddeInstance = 0;
bool executed = false;

HDDEDATA CALLBACK onDde(UINT type, UINT, HCONV, HSZ topic, HSZ, HDDEDATA, ULONG_PTR, ULONG_PTR) {
    switch (type) {
    case XTYP_CONNECT: {
        wchar_t name[64] = {};
        DdeQueryStringW(ddeInstance, topic, name, 64, CP_WINUNICODE);
        return reinterpret_cast<HDDEDATA>(static_cast<ULONG_PTR>(lstrcmpiW(name, L"System") == 0));
    }
    case XTYP_EXECUTE:
        executed = true;
        PostQuitMessage(0);
        return reinterpret_cast<HDDEDATA>(static_cast<ULONG_PTR>(DDE_FACK));
    default:
        return nullptr;
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR cmdLine, int) {
    if (DdeInitializeW(&ddeInstance, onDde, APPCLASS_STANDARD | CBF_FAIL_POKES | CBF_FAIL_REQUESTS | CBF_SKIP_ALLNOTIFICATIONS, 0) !=
        DMLERR_NO_ERROR)
        return 3;
    HSZ service = DdeCreateStringHandleW(ddeInstance, L"KVTestDde", CP_WINUNICODE);
    DdeNameService(ddeInstance, service, nullptr, DNS_REGISTER);
    HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, cmdLine);
    if (ready) {
        SetEvent(ready);
        CloseHandle(ready);
    }
    SetTimer(nullptr, 0, 10000, nullptr);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (msg.message == WM_TIMER) break;
        DispatchMessageW(&msg);
    }
    DdeNameService(ddeInstance, service, nullptr, DNS_UNREGISTER);
    DdeFreeStringHandle(ddeInstance, service);
    DdeUninitialize(ddeInstance);
    return executed ? 0 : 2;
}
