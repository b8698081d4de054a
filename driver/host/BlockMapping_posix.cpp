#include "BlockMapping.h"

#include "HostProtocol.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

std::unique_ptr<BlockMapping> BlockMapping::open(const Reference& reference, std::size_t bytes,
                                                 std::string& reason) {
    if (reference.kind != hostproto::kMapPath) {
        reason = "no handles to map on this system";
        return nullptr;
    }
    const int fd = ::open(reference.path.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        reason = reference.path + ": " + std::strerror(errno);
        return nullptr;
    }
    // The file must be as large as the program says: a shorter one would make
    // the host's writes past its end fault instead of failing here.
    struct stat st {};
    if (fstat(fd, &st) != 0 || static_cast<std::uint64_t>(st.st_size) < bytes) {
        reason = reference.path + ": smaller than the mapping";
        ::close(fd);
        return nullptr;
    }
    void* view = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    const int error = errno;
    ::close(fd);
    if (view == MAP_FAILED) {
        reason = reference.path + ": " + std::strerror(error);
        return nullptr;
    }
    return std::unique_ptr<BlockMapping>(new BlockMapping(view, bytes));
}

BlockMapping::~BlockMapping() {
    munmap(m_view, m_bytes);
}
