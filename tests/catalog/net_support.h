// Helpers for the catalog tests that talk to the loopback test server: a message-only
// window that collects posted messages, and bodies served from files.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace catalogtest {

// A message-only window owned by the creating thread; pump() moves the messages posted to
// it into `received`.
class MessageSink {
public:
    MessageSink();
    ~MessageSink();
    HWND window() const { return window_; }
    void pump();
    // Pumps until done() holds or ms have passed; returns done().
    bool waitUntil(const std::function<bool()>& done, DWORD ms);
    // Number of received messages with this id (and wParam, when given).
    int count(UINT message) const;
    int count(UINT message, WPARAM wParam) const;
    std::vector<MSG> received;

private:
    HWND window_ = nullptr;
};

// Serves these bytes at the exact server path (all later requests too), from a file
// under the build tree. Optional pause before answering.
bool serveBytes(const std::string& path, const std::string& bytes, int delayMs = 0);
// The script step that serves these bytes (from a file written for the path), for
// scripts that answer otherwise first; empty when the file cannot be written.
std::string bytesStep(const std::string& path, const std::string& bytes, int delayMs = 0);

// "http://127.0.0.1:PORT/t/<pid>-<n>": a base URL of its own for one test, with nothing
// recorded under it yet. Read requests back with prefix + "/".
std::wstring uniqueBase(std::string* prefix = nullptr);

}  // namespace catalogtest
