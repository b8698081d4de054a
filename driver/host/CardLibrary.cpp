#include "CardLibrary.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

#include <string>

namespace {

#if defined(_WIN32)
std::string systemReason(DWORD error) {
    char* text = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string reason = length > 0 ? std::string(text, length) : std::string("error");
    LocalFree(text);
    while (!reason.empty() &&
           (reason.back() == '\n' || reason.back() == '\r' || reason.back() == ' '))
        reason.pop_back();
    return reason + " (" + std::to_string(error) + ")";
}
#endif

} // namespace

void* CardLibrary::function(const char* name) {
#if defined(_WIN32)
    if (m_handle == nullptr) {
        // The library's own dependencies are looked for in its folder first, as
        // they would be beside the program that normally loads it.
        m_handle = LoadLibraryExA(m_path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
        if (m_handle == nullptr)
            throw LibraryFault{"", systemReason(GetLastError())};
    }
    FARPROC fn = GetProcAddress(static_cast<HMODULE>(m_handle), name);
    if (fn == nullptr)
        throw LibraryFault{name, systemReason(GetLastError())};
    return reinterpret_cast<void*>(fn);
#else
    if (m_handle == nullptr) {
        m_handle = dlopen(m_path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (m_handle == nullptr)
            throw LibraryFault{"", dlerror()};
    }
    dlerror();
    void* fn = dlsym(m_handle, name);
    if (fn == nullptr) {
        const char* reason = dlerror();
        throw LibraryFault{name, reason != nullptr ? reason : "the symbol is null"};
    }
    return fn;
#endif
}

std::string CardLibrary::besideHost() {
#if defined(_WIN32)
    char path[MAX_PATH * 4];
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string self(path, length);
    return self.substr(0, self.find_last_of("\\/") + 1) + "tovira.dll";
#else
    char path[4096];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path);
    std::string self = length > 0 ? std::string(path, static_cast<std::size_t>(length)) : "./";
    return self.substr(0, self.rfind('/') + 1) + "libtovira.so";
#endif
}
