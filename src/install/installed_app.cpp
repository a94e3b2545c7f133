// Telling the installed application apart from the rest of an installer's process tree.
#include "install/installed_app.h"

namespace {

bool isSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

wchar_t foldCase(wchar_t c) {
    return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

std::wstring trimmed(const std::wstring& s) {
    size_t begin = 0, end = s.size();
    while (begin < end && (s[begin] == L' ' || s[begin] == L'\t')) begin++;
    while (end > begin && (s[end - 1] == L' ' || s[end - 1] == L'\t')) end--;
    return s.substr(begin, end - begin);
}

// Backslashes only, no trailing separator; empty unless absolute ("X:\..." or "\\server\...").
std::wstring normalFolder(std::wstring folder) {
    folder = trimmed(folder);
    if (folder.size() >= 2 && folder.front() == L'"' && folder.back() == L'"')
        folder = folder.substr(1, folder.size() - 2);
    for (wchar_t& c : folder) {
        if (c == L'/') c = L'\\';
    }
    while (!folder.empty() && folder.back() == L'\\') folder.pop_back();
    bool drive = folder.size() >= 2 && folder[1] == L':' && (folder.size() == 2 || folder[2] == L'\\');
    bool unc = folder.size() > 2 && folder[0] == L'\\' && folder[1] == L'\\';
    return drive || unc ? folder : std::wstring();
}

// ",0" or ",-101" at the end of an icon reference.
std::wstring withoutIconIndex(const std::wstring& s) {
    size_t comma = s.rfind(L',');
    if (comma == std::wstring::npos) return s;
    size_t i = comma + 1;
    if (i < s.size() && s[i] == L'-') i++;
    if (i == s.size()) return s;
    for (; i < s.size(); i++) {
        if (s[i] < L'0' || s[i] > L'9') return s;
    }
    return trimmed(s.substr(0, comma));
}

// An unquoted command line: the program ends at the first ".exe" followed by a space, or the
// whole text is the path.
std::wstring unquotedProgram(const std::wstring& s) {
    for (size_t i = 0; i + 4 <= s.size(); i++) {
        if (s[i] == L'.' && foldCase(s[i + 1]) == L'e' && foldCase(s[i + 2]) == L'x' && foldCase(s[i + 3]) == L'e' &&
            (i + 4 == s.size() || s[i + 4] == L' ' || s[i + 4] == L'\t'))
            return s.substr(0, i + 4);
    }
    return s;
}

bool sameOrInside(const std::wstring& a, const std::wstring& b) {
    if (a.size() < b.size()) return false;
    for (size_t i = 0; i < b.size(); i++) {
        wchar_t x = isSeparator(a[i]) ? L'\\' : foldCase(a[i]);
        wchar_t y = isSeparator(b[i]) ? L'\\' : foldCase(b[i]);
        if (x != y) return false;
    }
    return a.size() == b.size() || isSeparator(a[b.size()]);
}

}  // namespace

std::wstring folderOfCommand(const std::wstring& command) {
    std::wstring s = trimmed(command);
    std::wstring program;
    if (!s.empty() && s[0] == L'"') {
        size_t close = s.find(L'"', 1);
        program = s.substr(1, close == std::wstring::npos ? std::wstring::npos : close - 1);
    } else {
        program = unquotedProgram(withoutIconIndex(s));
    }
    size_t slash = program.find_last_of(L"\\/");
    if (slash == std::wstring::npos) return std::wstring();
    return normalFolder(program.substr(0, slash));
}

bool isUnderFolder(const std::wstring& path, const std::wstring& folder) {
    std::wstring base = normalFolder(folder);
    return !base.empty() && path.size() > base.size() + 1 && sameOrInside(path, base);
}

std::vector<std::wstring> installedAppFolders(const std::vector<UninstallPlaces>& entries,
                                              const std::vector<std::wstring>& excluded) {
    std::vector<std::wstring> out;
    for (const UninstallPlaces& e : entries) {
        for (std::wstring folder : {normalFolder(e.installLocation), folderOfCommand(e.displayIcon),
                                    folderOfCommand(e.uninstallString)}) {
            // A drive's root ("C:") or a share's would take in every process.
            if (folder.size() <= 2 || (folder[0] == L'\\' && folder.find(L'\\', 2) == std::wstring::npos)) continue;
            bool overlaps = false;
            for (const std::wstring& x : excluded) {
                std::wstring other = normalFolder(x);
                if (!other.empty() && (sameOrInside(folder, other) || sameOrInside(other, folder))) overlaps = true;
            }
            if (!overlaps) out.push_back(folder);
        }
    }
    return out;
}

bool onlyInstalledAppLeft(const std::vector<std::wstring>& images, const std::vector<std::wstring>& appFolders) {
    for (const std::wstring& image : images) {
        bool app = false;
        for (const std::wstring& folder : appFolders) app = app || isUnderFolder(image, folder);
        if (!app) return false;
    }
    return true;
}
