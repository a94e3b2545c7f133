// Which proxy a request goes through, as plain decisions over plain data: the user's proxy
// settings, proxy lists with per-scheme entries, bypass lists, and the memory of slow
// automatic-configuration outcomes. No system calls here (proxy_resolve.h makes them).
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "net/url.h"

namespace proxy {

// The current user's proxy settings as Windows keeps them.
struct UserSettings {
    bool autoDetect = false;  // look for a configuration script on the network (WPAD)
    std::wstring pacUrl;      // address of a configuration script
    std::wstring proxy;       // fixed proxy list: "host:port" or "http=host:port;https=host:port"
    std::wstring bypass;      // entries that go direct: "<local>", "*.example.com", "10.*"
};

// What one request goes through. MachineDefault leaves the choice to the machine-wide
// WinHTTP setting.
struct Route {
    enum class Kind { MachineDefault, Direct, Named };
    Kind kind = Kind::MachineDefault;
    std::wstring proxy;  // "host:port" for Named
    bool operator==(const Route& o) const { return kind == o.kind && proxy == o.proxy; }
    bool operator<(const Route& o) const { return kind != o.kind ? kind < o.kind : proxy < o.proxy; }
};

// The answer of a configuration script for one address: ok with a proxy list (empty for
// DIRECT) and its bypass list, or not ok when the script could not be had or run.
struct AutoAnswer {
    bool ok = false;
    std::wstring proxy;
    std::wstring bypass;
};

// The proxy of a list for a scheme ("http" or "https"): the entry "scheme=host:port" when
// there is one, else the first entry without a scheme; empty when none applies. Entries are
// separated by semicolons or blanks; a leading "http://" on a proxy is dropped.
std::wstring proxyForScheme(const std::wstring& list, const std::wstring& scheme);

// True when the bypass list sends this address direct. Entries are separated by semicolons
// or blanks and compared without regard to case: "<local>" matches a host without a dot;
// "*" stands for any run of characters ("*.example.com", "10.*"); an entry may start with
// "http://" or "https://" (that scheme only) and end with ":port" (that port only).
bool bypassed(const std::wstring& list, const UrlParts& url);

// True when the settings ask for a configuration script (detected or given).
inline bool wantsAutomatic(const UserSettings& s) { return s.autoDetect || !s.pacUrl.empty(); }

// The route for an address: the script's answer when there is one, else the fixed proxy
// with its bypass list, else the machine-wide setting.
Route chooseRoute(const UserSettings& settings, const AutoAnswer& automatic, const UrlParts& url);

// Outcomes of slow automatic-configuration steps (network detection, fetching a script),
// kept for a while so that the many requests of a page of icons do not each wait for them.
class AutoMemory {
public:
    struct Outcome {
        bool ok = false;
        std::wstring text;  // e.g. the script address that detection found
    };
    explicit AutoMemory(uint64_t keepMs) : keepMs_(keepMs) {}
    void setKeep(uint64_t keepMs) { keepMs_ = keepMs; }
    // True and the outcome when one was remembered for key less than keepMs before now.
    bool recall(const std::wstring& key, uint64_t now, Outcome& outcome) const;
    void remember(const std::wstring& key, const Outcome& outcome, uint64_t now);

private:
    struct Entry {
        Outcome outcome;
        uint64_t at = 0;
    };
    uint64_t keepMs_;
    std::map<std::wstring, Entry> entries_;
};

constexpr uint64_t kAutoKeepMs = 300000;   // five minutes
constexpr uint32_t kAutoBoundMs = 5000;    // longest wait for detection or a script

}  // namespace proxy
