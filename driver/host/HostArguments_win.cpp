#include "HostArguments.h"
#include "WindowsText.h"

#include <windows.h>
// After windows.h, which it builds on.
#include <shellapi.h>

#include <string>

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
