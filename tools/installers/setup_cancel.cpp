// Test installer: behaves like a user who pressed "Cancel": registers nothing, exits with 1.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return 1; }
