// A Windows program that holds a file open as a spreadsheet holds the file it
// edits: readable by others, but neither writable nor replaceable.
//   hold_file <file> <ready flag> <release flag>
// Creates the ready flag once the file is held, then waits until the release
// flag exists, and exits.
#include <windows.h>

#include <string>

namespace {

std::wstring argument(int index) {
    int count = 0;
    wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
    std::wstring value = index < count ? args[index] : L"";
    LocalFree(args);
    return value;
}

} // namespace

int main() {
    const std::wstring file = argument(1);
    const std::wstring ready = argument(2);
    const std::wstring release = argument(3);
    if (file.empty() || ready.empty() || release.empty())
        return 2;
    HANDLE held = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (held == INVALID_HANDLE_VALUE)
        return 1;
    CloseHandle(CreateFileW(ready.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    // Bounded, so a test that fails before releasing it leaves nothing behind.
    for (int i = 0; i < 1200 && GetFileAttributesW(release.c_str()) == INVALID_FILE_ATTRIBUTES; ++i)
        Sleep(50);
    CloseHandle(held);
    return 0;
}
