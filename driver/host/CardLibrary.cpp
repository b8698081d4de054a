#include "CardLibrary.h"

#if defined(_WIN32)
#include <windows.h>
// After windows.h, which it builds on.
#include <shellapi.h>
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

std::wstring wide(const std::string& utf8) {
    const int length =
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring text(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), text.data(),
                        length);
    return text;
}

std::string utf8(const wchar_t* text, int length) {
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, length, result.data(), bytes, nullptr, nullptr);
    return result;
}
#endif

} // namespace

void* CardLibrary::function(const char* name) {
#if defined(_WIN32)
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
    wchar_t path[32768];
    const DWORD length = GetModuleFileNameW(nullptr, path, sizeof path / sizeof path[0]);
    const std::string self = utf8(path, static_cast<int>(length));
    return self.substr(0, self.find_last_of("\\/") + 1) + "tovira.dll";
#else
    char path[4096];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path);
    std::string self = length > 0 ? std::string(path, static_cast<std::size_t>(length)) : "./";
    return self.substr(0, self.rfind('/') + 1) + "libtovira.so";
#endif
}

std::string CardLibrary::argument([[maybe_unused]] char* argv[], int index) {
#if defined(_WIN32)
    int count = 0;
    wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
    std::string value = index < count ? utf8(args[index], -1) : std::string();
    LocalFree(args);
    // A length of -1 counted the terminating zero.
    if (!value.empty() && value.back() == '\0')
        value.pop_back();
    return value;
#else
    return argv[index];
#endif
}
