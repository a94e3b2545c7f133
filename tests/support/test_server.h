// Access to the loopback test server (tools/testserver) from C++ tests.
// The server is started by the CTest fixture "testserver"; its ports are read from the
// file named by KV_TESTSERVER_DIR. Control requests use a private Winsock client, so the
// helpers work even when the code under test does not.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace testserver {

// "http://127.0.0.1:PORT" without a trailing slash; empty when the server is not running.
std::wstring httpBase();
std::wstring httpsBase();           // certificate signed by the CA trusted in the test prefix
std::wstring untrustedHttpsBase();  // certificate signed by a CA trusted nowhere
uint16_t httpPort();

// A path prefix no other test uses: "/t/<run>-<n>/<name>".
std::string uniquePath(const std::string& name);

// Scripts the answers for one exact path; stepsJson is a JSON array of steps
// (see tools/testserver/script.py), e.g. R"([{"status":503,"times":2},{"body_size":100}])".
bool script(const std::string& path, const std::string& stepsJson);

struct RecordedRequest {
    std::string method;
    std::string path;  // with the query
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    bool secure = false;
    double time = 0;  // when the server received it, seconds since 1970
    // Value of the first header with this name (any case); empty when absent.
    std::string header(const std::string& name) const;
};

// Requests the server received whose path starts with prefix, oldest first.
std::vector<RecordedRequest> requests(const std::string& prefix);

// Forgets recorded requests and scripts under prefix.
void reset(const std::string& prefix);

// Byte at this offset of every generated body ("body_size" steps, /_gen/bytes/N).
inline unsigned char patternByte(uint64_t offset) { return static_cast<unsigned char>(offset % 251); }
bool isPattern(const std::string& data, uint64_t offset = 0);

// A Linux path as the test program sees it under Wine (drive Z:).
std::wstring hostPathToWindows(const std::string& path);

}  // namespace testserver
