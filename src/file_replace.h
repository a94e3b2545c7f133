// Replacing a file's whole content in one step, so a reader (or a power cut)
// sees either the old text or the new, never half of one.
#pragma once

#include <windows.h>

#include <string>

#include "scoped.h"

// Writes text to path + tempSuffix, flushes it, then moves it over path; on
// failure path keeps its old content and the temporary file is gone. A read-only
// path is not replaced. Writers that may run at once on one path give each
// thread its own suffix.
inline bool replaceFileContents(const std::wstring& path, const std::string& text,
                                const std::wstring& tempSuffix = L".tmp") {
    if (text.size() > MAXDWORD) return false;
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) return false;
    const std::wstring temp = path + tempSuffix;
    {
        ScopedFile file(CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                    nullptr));
        if (!file) return false;
        DWORD written = 0;
        // Flushed before the move so the new name never points at data still in the cache.
        const bool ok = WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
                        written == text.size() && FlushFileBuffers(file.get());
        if (!ok) {
            file.reset();
            DeleteFileW(temp.c_str());
            return false;
        }
    }
    if (!MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileW(temp.c_str());
        return false;
    }
    return true;
}
