#include "CardLibrary.h"
#include "WindowsText.h"

#include <windows.h>

#include <string>

void* CardLibrary::function(const char* name) {
    if (m_handle == nullptr) {
        // The library's own dependencies are looked for in its folder first, as
        // they would be beside the program that normally loads it.
        m_handle = LoadLibraryExW(wide(m_path).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
        if (m_handle == nullptr)
            throw LibraryFault{"", systemReason(GetLastError())};
    }
    FARPROC fn = GetProcAddress(static_cast<HMODULE>(m_handle), name);
    if (fn == nullptr)
        throw LibraryFault{name, systemReason(GetLastError())};
    return reinterpret_cast<void*>(fn);
}
