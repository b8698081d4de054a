#include "BlockMapping.h"

#include "HostProtocol.h"
#include "WindowsText.h"

#include <windows.h>

namespace {

// A section handle: the one the program made this process's own, or one made
// here on the file the program named (a Linux program under Wine, where the
// file lies in /dev/shm and the program removes it once this has it open).
HANDLE sectionOf(const BlockMapping::Reference& reference, std::size_t bytes, std::string& reason) {
    if (reference.kind == hostproto::kMapHandle)
        return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(reference.handle));
    if (reference.kind != hostproto::kMapPath) {
        reason = "unknown kind of mapping";
        return nullptr;
    }
    HANDLE file = CreateFileW(wide(reference.path).c_str(), GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        reason = reference.path + ": " + systemReason(GetLastError());
        return nullptr;
    }
    const auto size = static_cast<std::uint64_t>(bytes);
    HANDLE section =
        CreateFileMappingW(file, nullptr, PAGE_READWRITE, static_cast<DWORD>(size >> 32),
                           static_cast<DWORD>(size), nullptr);
    const DWORD error = GetLastError();
    CloseHandle(file);
    if (section == nullptr)
        reason = reference.path + ": " + systemReason(error);
    return section;
}

} // namespace

std::unique_ptr<BlockMapping> BlockMapping::open(const Reference& reference, std::size_t bytes,
                                                 std::string& reason) {
    HANDLE section = sectionOf(reference, bytes, reason);
    if (section == nullptr)
        return nullptr;
    void* view = MapViewOfFile(section, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, bytes);
    const DWORD error = GetLastError();
    // The view keeps the section alive.
    CloseHandle(section);
    if (view == nullptr) {
        reason = systemReason(error);
        return nullptr;
    }
    return std::unique_ptr<BlockMapping>(new BlockMapping(view, bytes));
}

BlockMapping::~BlockMapping() {
    UnmapViewOfFile(m_view);
}
