// File names of downloads: from the application name, from the server's final address,
// and the archive type recognised from a file's first bytes.
#pragma once

#include <cstddef>
#include <string>

// Forbidden characters and control characters dropped, trailing blanks removed, at most
// 50 characters; "app" when nothing usable is left (or the rest is a device name).
std::wstring sanitizeFileName(const std::wstring& name);

// Name from the last path segment of an address (query and fragment ignored),
// percent-decoded as strict UTF-8, with an accepted installer or archive extension.
// False when the address gives no acceptable name (the caller keeps its default).
bool fileNameFromAddress(const std::wstring& address, std::wstring& name);

// CON, PRN, AUX, NUL, COM1-9, LPT1-9 (any extension): names that open a device.
bool isDeviceName(const std::wstring& name);

// "zip", "rar" or "7z" from the first bytes of a file; empty for anything else.
std::string archiveTypeFromMagic(const unsigned char* data, size_t size);

// "dir\\setup.exe" numbered n: "dir\\setup (n).exe" (the number before the extension).
std::wstring numberedPath(const std::wstring& path, int n);

// Path with the extension of its file name replaced (or added) by "." + type.
std::wstring withExtension(const std::wstring& path, const std::string& type);
