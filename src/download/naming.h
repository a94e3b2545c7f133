// File names of downloads: from the application name, from the server's final address,
// and the archive type recognised from a file's first bytes.
#pragma once

#include <cstddef>
#include <string>

// Forbidden, control, zero-width and direction characters dropped, trailing dots and blanks
// removed, at most 50 characters (never half a surrogate pair); "app" when nothing usable
// is left (or the rest is a device name).
std::wstring sanitizeFileName(const std::wstring& name);

// Name from the last path segment of an address (query and fragment ignored),
// percent-decoded as strict UTF-8, with an accepted installer or archive extension.
// False when the address gives no acceptable name (the caller keeps its default).
bool fileNameFromAddress(const std::wstring& address, std::wstring& name);

// Characters no file name taken from a server keeps: C0 and C1 controls, zero-width
// characters and the marks that change the direction text is shown in.
bool isHiddenOrControl(wchar_t c);

// CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM0-9 and LPT0-9 (also with a superscript 1, 2
// or 3), with any extension: names that open a device.
bool isDeviceName(const std::wstring& name);

// "zip", "rar" or "7z" from the first bytes of a file; empty for anything else.
std::string archiveTypeFromMagic(const unsigned char* data, size_t size);

// "dir\\setup.exe" numbered n: "dir\\setup (n).exe" (the number before the extension).
std::wstring numberedPath(const std::wstring& path, int n);

// Path with the extension of its file name replaced (or added) by "." + type.
std::wstring withExtension(const std::wstring& path, const std::string& type);
