// A save that fails only when the finished file is put in place: the text is
// small enough to sit in the file's write buffer, so every write succeeds and
// the disk refuses it only at the final flush. The window must report the
// failure and keep the earlier Data.csv whole.

#include "WindowFixture.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <csignal>

#include <sys/resource.h>

namespace {

// Files larger than `bytes` cannot be written while it lives, as on a full
// disk; root is held to it too.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        m_previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_saved);
        rlimit limited = m_saved;
        limited.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_previousHandler);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit m_saved{};
    void (*m_previousHandler)(int) = nullptr;
};

const QByteArray kEarlierSave = "an earlier save\r\n";

} // namespace

TEST(Save, AFileRefusedAtItsFinalFlushKeepsTheEarlierFile) {
    Window w;
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    w.stopAfterOneFlatBlock(folder.path());

    const QString path = QDir(folder.path()).filePath(QStringLiteral("Data.csv"));
    {
        QFile earlier(path);
        ASSERT_TRUE(earlier.open(QIODevice::WriteOnly));
        ASSERT_EQ(earlier.write(kEarlierSave), kEarlierSave.size());
    }
    // 200 rows of about 26 bytes: more than the limit, less than one buffer.
    w.get<QLineEdit>("txtSaveNum")->setText(QStringLiteral("200"));
    {
        FileSizeLimit full(4096);
        w.click("CmdSave");
    }
    EXPECT_EQ(w.text("lblBlock"),
              QStringLiteral("保存文件失败！可能是您正在编辑Data.csv文件，请先退出该文件"));
    EXPECT_TRUE(w.get("CmdSave")->isEnabled());
    QFile saved(path);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_EQ(saved.readAll(), kEarlierSave);
    // Nothing half-written is left beside it.
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden),
              QStringList{QStringLiteral("Data.csv")});

    // With room again the same press succeeds.
    w.click("CmdSave");
    EXPECT_EQ(w.text("lblBlock"), QStringLiteral("保存完毕！文件名Data.csv"));
    saved.close();
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_EQ(saved.readAll().count('\n'), 202);
}
