#include "SharedBlocks.h"

#include "HostLink.h"
#include "WindowsReason.h"
#include "driver/host/HostProtocol.h"

#include <windows.h>

struct SharedBlocks::Native {
    HANDLE section = nullptr;
};

std::unique_ptr<SharedBlocks> SharedBlocks::create(std::size_t bytes, QString& reason) {
    const auto size = static_cast<std::uint64_t>(bytes);
    // No name and default security: only handles reach it, and the only other
    // one is the copy made for the host.
    HANDLE section =
        CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE,
                           static_cast<DWORD>(size >> 32), static_cast<DWORD>(size), nullptr);
    if (section == nullptr) {
        reason = windowsReason(GetLastError());
        return nullptr;
    }
    void* view = MapViewOfFile(section, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, bytes);
    if (view == nullptr) {
        reason = windowsReason(GetLastError());
        CloseHandle(section);
        return nullptr;
    }
    auto native = std::make_unique<Native>();
    native->section = section;
    return std::unique_ptr<SharedBlocks>(new SharedBlocks(view, bytes, std::move(native)));
}

SharedBlocks::SharedBlocks(void* view, std::size_t bytes, std::unique_ptr<Native> native)
    : m_view(view), m_bytes(bytes), m_native(std::move(native)) {
}

SharedBlocks::~SharedBlocks() {
    UnmapViewOfFile(m_view);
    CloseHandle(m_native->section);
}

std::string SharedBlocks::reference(const HostLink& host, bool, QString& reason) {
    HANDLE process = OpenProcess(PROCESS_DUP_HANDLE, FALSE, static_cast<DWORD>(host.processId()));
    if (process == nullptr) {
        reason = windowsReason(GetLastError());
        return {};
    }
    // The host's own handle, which only it can use: the value travels in the
    // request, the handle itself is made in the host's table here.
    HANDLE remote = nullptr;
    const BOOL duplicated = DuplicateHandle(GetCurrentProcess(), m_native->section, process,
                                            &remote, FILE_MAP_READ | FILE_MAP_WRITE, FALSE, 0);
    const DWORD error = GetLastError();
    CloseHandle(process);
    if (!duplicated) {
        reason = windowsReason(error);
        return {};
    }
    std::string tail;
    hostproto::putU32(tail, hostproto::kMapHandle);
    hostproto::putU64(tail, static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(remote)));
    return tail;
}

void SharedBlocks::handedOver() {
}

QString SharedBlocks::path() const {
    return {};
}
