#include "HostArguments.h"

#include <windows.h>
// After windows.h, which it builds on.
#include <shellapi.h>

#include <string>

namespace {

std::string utf8(const wchar_t* text, int length) {
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, length, result.data(), bytes, nullptr, nullptr);
    return result;
}

} // namespace

std::string hostArgument(char*[], int index) {
    int count = 0;
    wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
    std::string value = index < count ? utf8(args[index], -1) : std::string();
    LocalFree(args);
    // A length of -1 counted the terminating zero.
    if (!value.empty() && value.back() == '\0')
        value.pop_back();
    return value;
}

std::string libraryBesideHost() {
    wchar_t path[32768];
    const DWORD length = GetModuleFileNameW(nullptr, path, sizeof path / sizeof path[0]);
    const std::string self = utf8(path, static_cast<int>(length));
    return self.substr(0, self.find_last_of("\\/") + 1) + "tovira.dll";
}
