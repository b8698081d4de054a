// The block slots shared with the card host, on Linux: who can reach them and
// what the host sees, and a host whose replies point outside them.

#include "driver/SharedBlocks.h"
#include "driver/HostDriver.h"
#include "driver/host/HostProtocol.h"
#include "tests/support/FatalText.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using namespace hostproto;

TEST(SharedBlocks, OnlyThisUserReachesThemAndOnlyUntilTheHostHasThem) {
    constexpr std::size_t kBytes = 64 * 1024;
    QString reason;
    auto blocks = SharedBlocks::create(kBytes, reason);
    ASSERT_TRUE(blocks) << reason.toStdString();
    const QByteArray path = blocks->path().toLocal8Bit();
    struct stat st {};
    ASSERT_EQ(::stat(path.constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600U);
    EXPECT_EQ(st.st_uid, ::getuid());
    EXPECT_EQ(static_cast<std::size_t>(st.st_size), kBytes);
    // 128 random bits in the name: no two mappings share one.
    const QString name = QFileInfo(blocks->path()).fileName();
    EXPECT_TRUE(name.startsWith(QStringLiteral("multibuf-blocks-"))) << name.toStdString();
    EXPECT_EQ(name.size() - QStringLiteral("multibuf-blocks-").size(), 32);
    auto other = SharedBlocks::create(kBytes, reason);
    ASSERT_TRUE(other);
    EXPECT_NE(other->path(), blocks->path());

    // Another process opening the file, as the host does, sees the same pages
    // both ways, also after the name is gone.
    const int fd = ::open(path.constData(), O_RDWR);
    ASSERT_GE(fd, 0);
    void* view = mmap(nullptr, kBytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    ::close(fd);
    ASSERT_NE(view, MAP_FAILED);
    blocks->handedOver();
    EXPECT_FALSE(QFile::exists(QString::fromLocal8Bit(path)));
    EXPECT_TRUE(blocks->path().isEmpty());
    auto* theirs = static_cast<std::int16_t*>(view);
    blocks->data()[100] = 1234;
    theirs[kBytes / 2 - 1] = -77;
    EXPECT_EQ(theirs[100], 1234);
    EXPECT_EQ(blocks->data()[kBytes / 2 - 1], -77);
    munmap(view, kBytes);

    // A name given up with the mapping never opened goes too.
    const QString otherPath = other->path();
    other.reset();
    EXPECT_FALSE(QFile::exists(otherPath));
}

// A "host" that answers with the replies it is given, whatever is asked, then
// waits, or ends: each row's replies go wrong at a block.
class CannedHost {
public:
    CannedHost(const std::string& replies, bool ends) {
        EXPECT_TRUE(m_dir.isValid());
        QFile data(m_dir.filePath(QStringLiteral("replies")));
        EXPECT_TRUE(data.open(QIODevice::WriteOnly));
        data.write(replies.data(), static_cast<qint64>(replies.size()));
        data.close();
        QFile script(path());
        EXPECT_TRUE(script.open(QIODevice::WriteOnly));
        // One that ends does so only when told, so that it ends in the middle
        // of the reply the test is waiting for, not before the first call.
        script.write(
            QByteArray("#!/bin/sh\ncd \"$(dirname \"$0\")\"\ncat replies\n") +
            (ends ? "while [ ! -e end ]; do sleep 0.01; done\nexit 0\n" : "exec sleep 30\n"));
        script.close();
        script.setPermissions(script.permissions() | QFileDevice::ExeOwner);
    }
    QString path() const { return m_dir.filePath(QStringLiteral("host")); }
    /// Tells a host that ends to end now.
    void end() const {
        QFile flag(m_dir.filePath(QStringLiteral("end")));
        EXPECT_TRUE(flag.open(QIODevice::WriteOnly));
    }

private:
    QTemporaryDir m_dir;
};

std::string okI32(std::int32_t value) {
    std::string r;
    putU32(r, kOk);
    putI32(r, value);
    return r;
}

// StartIntr's answer for 500-scan blocks of 17 channels, and the mapping's.
std::string startedAndMapped() {
    std::string r = okI32(1);
    putU32(r, kOk);
    putU32(r, 0); // no reason: mapped
    return r;
}

std::string block(std::uint32_t slot, std::uint32_t first, std::uint32_t end) {
    std::string r = okI32(1);
    putU32(r, slot);
    putU32(r, first);
    putU32(r, end);
    return r;
}

TEST(SharedBlocks, RepliesThatPointOutsideTheMappingAreRefused) {
    constexpr std::uint32_t kElements = 500 * 17 + 2;
    const struct {
        const char* what;
        std::string replies; // after the start and the mapping, for two announced blocks
        const char* cause;
        bool ends = false; // the host ends after its replies
    } rows[] = {
        {"slot past the mapping", block(blockSlots(kElements), 0, 10), "的应答无法识别"},
        {"slot 0, the program's own", block(0, 0, 10), "的应答无法识别"},
        {"slots out of order", block(2, 0, 10), "的应答无法识别"},
        {"span past the slot", block(1, 0, kElements + 1), "的应答无法识别"},
        {"span backwards", block(1, 9, 3), "的应答无法识别"},
        {"span near 4 GB", block(1, 0, 0xFFFFFFFFU), "的应答无法识别"},
        {"second block past the slot", block(1, 0, 10) + block(2, 5, kElements + 7),
         "的应答无法识别"},
        // The host answers a missing function only once, in place of a
        // request's first block: after that it is out of step.
        {"missing function after the first block",
         block(1, 0, 10) + textReply(kFailed, "ADResult", "gone"), "的应答无法识别"},
        {"ends in the middle of a block", okI32(1).substr(0, 6), "意外结束", true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        std::string replies = okI32(0) /* QueryBuf */ + startedAndMapped();
        std::string query;
        putU32(query, kOk);
        putI32(query, 2);
        replies += query + row.replies;
        CannedHost host(replies, row.ends);
        HostDriver card(host.path(), {}, QStringLiteral("libtovira.so"), {5s, 2s});
        EXPECT_EQ(card.QueryBuf(), 0);
        EXPECT_EQ(card.StartIntr(50, 500, 0, 17, 100000, 0, 1), 1);
        ASSERT_NE(card.sharedBlocks(), nullptr);
        EXPECT_EQ(card.QueryBuf(), 2);
        std::vector<std::int16_t> buffer(kElements, 7);
        if (row.ends)
            host.end();
        const std::string message = fatalErrorText([&] {
            for (int b = 0; b < 2; ++b)
                card.ADResult(buffer.data());
        });
        EXPECT_NE(message.find(row.cause), std::string::npos) << message;
        // Nothing was taken from outside the mapping, nor written past the buffer.
        EXPECT_EQ(buffer.size(), kElements);
    }
}

} // namespace
