/* Windows entry point: only asks not to be told of thread start and end. */
#ifdef _WIN32
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
   if (reason == DLL_PROCESS_ATTACH)
      DisableThreadLibraryCalls(instance);
   return TRUE;
}
#endif
