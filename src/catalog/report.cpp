#include <string>
#include <vector>

#include "catalog/catalog.h"
#include "json/encoding.h"
#include "json/json.h"
#include "net/http.h"

std::string installReportBody(int appId, const std::wstring& channel) {
    std::string body = "{\"appId\":";
    body += std::to_string(appId);
    body += ",\"event\":\"install\",\"channel\":\"";
    body += json::escape(json::toUtf8(channel));
    body += "\"}";
    return body;
}

bool reportInstall(const std::wstring& server, int appId, const std::wstring& channel) {
    const std::string body = installReportBody(appId, channel);
    const std::vector<HttpHeader> headers = {{L"Content-Type", L"application/json"}};
    HttpResponse response;
    std::wstring error;
    return httpRequest(server + L"/api/client/report", headers, &body, L"POST", HttpDataSink(), response, error,
                       nullptr) == HttpResult::Ok;
}
