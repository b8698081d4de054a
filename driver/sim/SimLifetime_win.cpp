#include "SimLifetime.h"

#include <windows.h>

void keepLoaded() {
    static const bool pinned = [] {
        HMODULE self = nullptr;
        return GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                      GET_MODULE_HANDLE_EX_FLAG_PIN,
                                  reinterpret_cast<LPCWSTR>(&g_card), &self) != 0;
    }();
    (void)pinned;
}

// Runs before the library's static objects are destroyed. When the process
// ends (`reserved` set), Windows has stopped every other thread already, and
// joining the acquisition thread would wait for ever.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_DETACH && reserved != nullptr)
        g_card.abandon();
    return TRUE;
}
