// Test "installer" of a portable program: runs, registers nothing and exits with 0.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return 0; }
