// The proxy route of one request address, from the current user's Windows settings read
// anew for every request (a proxy turned on applies to the next request).
#pragma once

#include <cstdint>
#include <string>

#include "net/proxy.h"
#include "net/url.h"

// url and its parts. Detection and configuration scripts are waited for at most the bound;
// their failures, and what detection found, are remembered for a while.
proxy::Route resolveProxyRoute(const std::wstring& url, const UrlParts& parts);

// The wait bound and how long outcomes are kept (kAutoBoundMs, kAutoKeepMs unless a test
// sets others); they apply to requests that start afterwards.
void setAutoProxyLimits(uint32_t boundMs, uint64_t keepMs);
