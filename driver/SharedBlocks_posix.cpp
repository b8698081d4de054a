#include "SharedBlocks.h"

#include "HostLink.h"
#include "driver/host/HostProtocol.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

struct SharedBlocks::Native {
    QByteArray path; // empty once removed
};

namespace {

// 128 random bits: nobody can guess the name while the file exists.
QByteArray unguessableName() {
    QByteArray name("/dev/shm/multibuf-blocks-");
    for (int i = 0; i < 4; ++i)
        name +=
            QByteArray::number(QRandomGenerator::system()->generate(), 16).rightJustified(8, '0');
    return name;
}

QString errnoText(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

std::unique_ptr<SharedBlocks> SharedBlocks::create(std::size_t bytes, QString& reason) {
    const QByteArray path = unguessableName();
    // O_EXCL: a file someone made there first is never taken for ours.
    const int fd =
        ::open(path.constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        reason = QStringLiteral("%1: %2").arg(QString::fromLocal8Bit(path), errnoText(errno));
        return nullptr;
    }
    // The pages are taken now, so a full /dev/shm fails here rather than
    // faulting later in the middle of a block.
    const int allocated = posix_fallocate(fd, 0, static_cast<off_t>(bytes));
    void* view = allocated == 0 ? mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0)
                                : MAP_FAILED;
    const int error = allocated != 0 ? allocated : errno;
    ::close(fd);
    if (view == MAP_FAILED) {
        ::unlink(path.constData());
        reason = QStringLiteral("%1: %2").arg(QString::fromLocal8Bit(path), errnoText(error));
        return nullptr;
    }
    auto native = std::make_unique<Native>();
    native->path = path;
    return std::unique_ptr<SharedBlocks>(new SharedBlocks(view, bytes, std::move(native)));
}

SharedBlocks::SharedBlocks(void* view, std::size_t bytes, std::unique_ptr<Native> native)
    : m_view(view), m_bytes(bytes), m_native(std::move(native)) {
}

SharedBlocks::~SharedBlocks() {
    handedOver();
    munmap(m_view, m_bytes);
}

std::string SharedBlocks::reference(const HostLink&, bool underWine, QString& reason) {
    if (m_native->path.isEmpty()) {
        reason = QStringLiteral("the mapping's file is gone");
        return {};
    }
    // Wine's drive Z: is the Linux file system's root.
    const QByteArray path = underWine
                                ? QDir::toNativeSeparators(QStringLiteral("Z:") +
                                                           QString::fromLocal8Bit(m_native->path))
                                      .toUtf8()
                                : m_native->path;
    std::string tail;
    hostproto::putU32(tail, hostproto::kMapPath);
    hostproto::putU32(tail, static_cast<std::uint32_t>(path.size()));
    tail.append(path.constData(), static_cast<std::size_t>(path.size()));
    return tail;
}

void SharedBlocks::handedOver() {
    if (!m_native->path.isEmpty()) {
        ::unlink(m_native->path.constData());
        m_native->path.clear();
    }
}

QString SharedBlocks::path() const {
    return QString::fromLocal8Bit(m_native->path);
}
