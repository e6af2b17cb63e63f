// The library's start-up on Windows. The effect keeps no per-thread state, so
// on process attach it turns off the loader's thread attach and detach calls,
// which only cost time in every thread the host starts; nothing else happens
// at load or unload.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
    if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
    return TRUE;
}
