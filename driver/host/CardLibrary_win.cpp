#include "CardLibrary.h"

#include <windows.h>

#include <string>

namespace {

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

} // namespace

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
