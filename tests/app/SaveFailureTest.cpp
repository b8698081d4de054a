// A save that fails only when the finished file is put in place, and the
// window must report it and keep the earlier Data.csv whole. On Linux the
// text is small enough to sit in the file's write buffer, so every write
// succeeds and the disk refuses it only at the final flush. On Windows
// another program holds Data.csv open, as a spreadsheet does: the new file is
// written, but cannot replace it.

#include "WindowFixture.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#if defined(_WIN32)
#include <windows.h>
#else
#include <csignal>

#include <sys/resource.h>
#endif

namespace {

#if defined(_WIN32)

// `path` open for reading, shared for reading only, while this lives. Sharing
// is decided per handle, so this process stands for the other program.
class Refusal {
public:
    explicit Refusal(const QString& path)
        : m_file(CreateFileW(reinterpret_cast<const wchar_t*>(path.utf16()), GENERIC_READ,
                             FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                             nullptr)) {
        EXPECT_NE(m_file, INVALID_HANDLE_VALUE);
    }
    ~Refusal() { CloseHandle(m_file); }
    Refusal(const Refusal&) = delete;
    Refusal& operator=(const Refusal&) = delete;

private:
    HANDLE m_file;
};

#else

// Files larger than 4096 bytes cannot be written while it lives, as on a full
// disk; root is held to it too.
class Refusal {
public:
    explicit Refusal(const QString&) {
        m_previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_saved);
        rlimit limited = m_saved;
        limited.rlim_cur = 4096;
        setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~Refusal() {
        setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_previousHandler);
    }
    Refusal(const Refusal&) = delete;
    Refusal& operator=(const Refusal&) = delete;

private:
    rlimit m_saved{};
    void (*m_previousHandler)(int) = nullptr;
};

#endif

const QByteArray kEarlierSave = "an earlier save\r\n";

} // namespace

TEST(Save, AFileRefusedWhenPutInPlaceKeepsTheEarlierFile) {
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
        Refusal refusal(path);
        w.click("CmdSave");
    }
    EXPECT_EQ(w.text("lblBlock"),
              QStringLiteral("保存文件失败！可能是您正在编辑Data.csv文件，请先退出该文件"));
    EXPECT_TRUE(w.get("CmdSave")->isEnabled());
    QFile saved(path);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_EQ(saved.readAll(), kEarlierSave);
    // An open file cannot be replaced on Windows.
    saved.close();
    // Nothing half-written is left beside it.
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden),
              QStringList{QStringLiteral("Data.csv")});

    // With room again the same press succeeds.
    w.click("CmdSave");
    EXPECT_EQ(w.text("lblBlock"), QStringLiteral("保存完毕！文件名Data.csv"));
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_EQ(saved.readAll().count('\n'), 202);
}
