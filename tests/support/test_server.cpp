#include "support/test_server.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "json/encoding.h"
#include "json/json.h"

namespace testserver {
namespace {

struct Ports {
    uint16_t http = 0, https = 0, untrusted = 0;
};

std::string envValue(const char* name) {
    char buf[4096];
    DWORD n = GetEnvironmentVariableA(name, buf, sizeof buf);
    return n > 0 && n < sizeof buf ? std::string(buf, n) : std::string();
}

const Ports& ports() {
    static Ports p;
    static std::once_flag once;
    std::call_once(once, [] {
        std::string dir = envValue("KV_TESTSERVER_DIR");
        if (dir.empty()) return;
        FILE* f = _wfopen(hostPathToWindows(dir + "/ports.txt").c_str(), L"r");
        if (!f) return;
        char buf[256];
        while (fgets(buf, sizeof buf, f)) {
            std::string line(buf);
            size_t eq = line.find('=');
            if (eq == std::string::npos) continue;
            std::string key = line.substr(0, eq);
            uint16_t port = static_cast<uint16_t>(std::atoi(line.c_str() + eq + 1));
            if (key == "http") p.http = port;
            if (key == "https") p.https = port;
            if (key == "https_untrusted") p.untrusted = port;
        }
        fclose(f);
    });
    return p;
}

std::wstring base(const wchar_t* scheme, uint16_t port) {
    if (!port) return std::wstring();
    return std::wstring(scheme) + L"://127.0.0.1:" + std::to_wstring(port);
}

struct SocketCloser {
    SOCKET s;
    ~SocketCloser() {
        if (s != INVALID_SOCKET) closesocket(s);
    }
};

// One HTTP/1.0 exchange with the server's plain listener; returns the status (0 on failure).
int exchange(const std::string& method, const std::string& path, const std::string& body, std::string& answer) {
    static std::once_flag wsa;
    std::call_once(wsa, [] {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
    });
    if (!ports().http) return 0;
    SocketCloser sock{socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)};
    if (sock.s == INVALID_SOCKET) return 0;
    DWORD timeoutMs = 10000;
    setsockopt(sock.s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeoutMs), sizeof timeoutMs);
    setsockopt(sock.s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&timeoutMs), sizeof timeoutMs);
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(ports().http);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(sock.s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return 0;
    std::string request = method + " " + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\nContent-Length: " +
                          std::to_string(body.size()) + "\r\n\r\n" + body;
    size_t sent = 0;
    while (sent < request.size()) {
        int n = send(sock.s, request.data() + sent, static_cast<int>(request.size() - sent), 0);
        if (n <= 0) return 0;
        sent += static_cast<size_t>(n);
    }
    std::string raw;
    char buf[16384];
    for (;;) {
        int n = recv(sock.s, buf, sizeof buf, 0);
        if (n <= 0) break;
        raw.append(buf, static_cast<size_t>(n));
    }
    size_t end = raw.find("\r\n\r\n");
    if (raw.compare(0, 5, "HTTP/") != 0 || end == std::string::npos) return 0;
    answer = raw.substr(end + 4);
    size_t sp = raw.find(' ');
    return sp == std::string::npos ? 0 : std::atoi(raw.c_str() + sp + 1);
}

std::string base64Decode(const std::string& in) {
    std::string out;
    unsigned value = 0;
    int bits = 0;
    for (char c : in) {
        int d;
        if (c >= 'A' && c <= 'Z') d = c - 'A';
        else if (c >= 'a' && c <= 'z') d = c - 'a' + 26;
        else if (c >= '0' && c <= '9') d = c - '0' + 52;
        else if (c == '+') d = 62;
        else if (c == '/') d = 63;
        else continue;
        value = (value << 6) | static_cast<unsigned>(d);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<char>((value >> bits) & 0xFF));
        }
    }
    return out;
}

std::string urlEncode(const std::string& s) {
    std::string out;
    char hex[4];
    for (unsigned char c : s) {
        if (isalnum(c) || c == '/' || c == '-' || c == '_' || c == '.') {
            out.push_back(static_cast<char>(c));
        } else {
            snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        }
    }
    return out;
}

}  // namespace

std::wstring httpBase() { return base(L"http", ports().http); }
std::wstring httpsBase() { return base(L"https", ports().https); }
std::wstring untrustedHttpsBase() { return base(L"https", ports().untrusted); }
uint16_t httpPort() { return ports().http; }

std::string uniquePath(const std::string& name) {
    // Wine reuses small process ids from run to run, and the server outlives a test program.
    static const std::string run = std::to_string(GetCurrentProcessId()) + "." + std::to_string(GetTickCount64());
    static std::atomic<int> counter{0};
    return "/t/" + run + "-" + std::to_string(++counter) + "/" + name;
}

bool script(const std::string& path, const std::string& stepsJson) {
    std::string answer;
    std::string request = "{\"path\":\"" + json::escape(path) + "\",\"steps\":" + stepsJson + "}";
    return exchange("POST", "/_control/script", request, answer) == 204;
}

std::string RecordedRequest::header(const std::string& name) const {
    for (const auto& h : headers) {
        if (h.first.size() == name.size() && _stricmp(h.first.c_str(), name.c_str()) == 0) return h.second;
    }
    return std::string();
}

std::vector<RecordedRequest> requests(const std::string& prefix) {
    std::vector<RecordedRequest> out;
    std::string answer;
    if (exchange("GET", "/_control/requests?prefix=" + urlEncode(prefix), "", answer) != 200) return out;
    auto root = json::parse(answer);
    if (!root) return out;
    for (const auto& item : root->array()) {
        RecordedRequest r;
        r.method = item->lookup("method") ? item->lookup("method")->asString("") : "";
        r.path = item->lookup("path") ? item->lookup("path")->asString("") : "";
        r.body = item->lookup("bodyBase64") ? base64Decode(item->lookup("bodyBase64")->asString("")) : "";
        r.secure = item->lookup("secure") && item->lookup("secure")->asBool(false);
        r.time = item->lookup("time") ? item->lookup("time")->asNumber(0) : 0;
        if (const json::Value* hs = item->lookup("headers")) {
            for (const auto& h : hs->array()) {
                const json::Value* n = h->at(0);
                const json::Value* v = h->at(1);
                if (n && v) r.headers.emplace_back(n->asString(""), v->asString(""));
            }
        }
        out.push_back(std::move(r));
    }
    return out;
}

void reset(const std::string& prefix) {
    std::string answer;
    exchange("POST", "/_control/reset?prefix=" + urlEncode(prefix), "", answer);
}

bool isPattern(const std::string& data, uint64_t offset) {
    for (size_t i = 0; i < data.size(); ++i) {
        if (static_cast<unsigned char>(data[i]) != patternByte(offset + i)) return false;
    }
    return true;
}

std::wstring hostPathToWindows(const std::string& path) {
    std::wstring out = L"Z:";
    std::wstring wide = json::toWide(path);
    for (wchar_t& c : wide) {
        if (c == L'/') c = L'\\';
    }
    return out + wide;
}

}  // namespace testserver
