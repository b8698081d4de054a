#include "HostProcess.h"

#include <QDir>

#include <algorithm>
#include <cstdio>

namespace {

// A host that closes its input gets this long to end before it is killed.
constexpr int kEndMs = 2000;

// Enough of the host's standard error to hold its last lines.
constexpr qsizetype kErrorTailBytes = 4096;
// A launcher's words in a message box: one line, cut if it runs on.
constexpr qsizetype kWordsChars = 300;

// Whether `c` shows in a line of text. Bytes that are no text decode to
// replacement characters, controls, format characters, private-use and
// unassigned code points, none of which a reader can make anything of.
bool printable(char32_t c) {
    if (c == QChar::ReplacementCharacter)
        return false;
    switch (QChar::category(c)) {
    case QChar::Other_Control:
    case QChar::Other_Format:
    case QChar::Other_Surrogate:
    case QChar::Other_PrivateUse:
    case QChar::Other_NotAssigned:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
        return false;
    default:
        return true;
    }
}

// The last line of `text` with anything printable in it, on one line: each
// run of what does not show becomes one space.
QString lastLine(const QByteArray& text) {
    const QList<QByteArray> lines = text.split('\n');
    for (auto line = lines.crbegin(); line != lines.crend(); ++line) {
        QString words;
        for (const char32_t c : QString::fromLocal8Bit(*line).toUcs4()) {
            if (printable(c))
                words.append(QChar::fromUcs4(c));
            else
                words.append(u' ');
        }
        words = words.simplified();
        if (words.isEmpty())
            continue;
        if (words.size() > kWordsChars) {
            // Cut between characters, never inside a surrogate pair.
            qsizetype cut = kWordsChars;
            if (words[cut - 1].isHighSurrogate())
                --cut;
            words = words.left(cut) + QStringLiteral("…");
        }
        return words;
    }
    return {};
}

} // namespace

int HostProcess::msLeft(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::max<long long>(left, 0));
}

HostProcess::HostProcess(QString hostPath, QStringList launcher, QStringList arguments)
    : m_hostPath(std::move(hostPath)), m_shownPath(QDir::toNativeSeparators(m_hostPath)),
      m_launcher(std::move(launcher)), m_arguments(std::move(arguments)) {
    // The host's errors and whatever the library prints go where the program's
    // go, as they come; the tail is kept, since when the host cannot be run at
    // all, its launcher's last words there are the cause.
    m_process.setProcessChannelMode(QProcess::SeparateChannels);
    QObject::connect(&m_process, &QProcess::readyReadStandardError, &m_process,
                     [this] { forwardErrors(); });
    m_finished = QObject::connect(&m_process, &QProcess::finished, &m_process, [this] {
        if (m_onFinished)
            m_onFinished();
    });
}

HostProcess::~HostProcess() {
    // An end the program asks for is no news to anyone.
    QObject::disconnect(m_finished);
    if (running()) {
        closeInput();
        if (!m_process.waitForFinished(kEndMs)) {
            m_process.kill();
            m_process.waitForFinished(kEndMs);
        }
    }
    forwardErrors();
    // The process outlives this body by a moment; nothing of it may call back.
    QObject::disconnect(&m_process, nullptr, nullptr, nullptr);
}

bool HostProcess::start(Clock::time_point deadline) {
    // The host runs on its own, or through its launcher (wine).
    QStringList command = m_launcher;
    command << m_hostPath << m_arguments;
    if (!prepare())
        return false;
    m_process.start(command.takeFirst(), command);
    const bool started = m_process.waitForStarted(msLeft(deadline));
    // However the program ends, the host must go with it, even one stuck in a
    // library call that never returns. Should that fail, it still ends when
    // the program's end of its input closes.
    if (!adopt() && started) {
        std::fprintf(stderr, "tovira-host: not tied to the program's life: %s\n",
                     qPrintable(m_shownPath));
    }
    return started;
}

HostProcess::Wait HostProcess::ended() {
    m_process.waitForFinished(kEndMs);
    return Wait::Ended;
}

void HostProcess::kill() {
    if (running()) {
        m_process.kill();
        m_process.waitForFinished(kEndMs);
    }
}

void HostProcess::awaitEnd() {
    m_process.waitForFinished(kEndMs);
}

void HostProcess::forwardErrors() {
    if (!m_process.isReadable())
        return; // never started: nothing to read, and reading would warn
    const QByteArray text = m_process.readAllStandardError();
    if (text.isEmpty())
        return;
    std::fwrite(text.constData(), 1, static_cast<std::size_t>(text.size()), stderr);
    std::fflush(stderr);
    m_errorTail += text;
    if (m_errorTail.size() > kErrorTailBytes)
        m_errorTail.remove(0, m_errorTail.size() - kErrorTailBytes);
}

QString HostProcess::exitText() const {
    return m_process.exitStatus() == QProcess::CrashExit
               ? QStringLiteral("被信号 %1 终止").arg(m_process.exitCode())
               : QStringLiteral("退出，状态 %1").arg(m_process.exitCode());
}

QString HostProcess::startFailureText() const {
    return QStringLiteral("无法启动驱动程序主机 %1：%2")
        .arg(m_launcher.isEmpty() ? m_shownPath : m_launcher.join(u' ') + u' ' + m_shownPath,
             m_startError.isEmpty() ? m_process.errorString() : m_startError);
}

QString HostProcess::endedText() const {
    return QStringLiteral("驱动程序主机 %1 意外结束：%2").arg(m_shownPath, exitText());
}

QString HostProcess::notRunText(const QByteArray& output) {
    // A launcher that fails says why on stderr as a rule, but some print to
    // stdout, which is read as the host's answer.
    forwardErrors();
    QString words = lastLine(m_errorTail);
    if (words.isEmpty())
        words = lastLine(output + unreadOutput());
    QString cause = running() ? QStringLiteral("应答无法识别") : exitText();
    if (!words.isEmpty())
        cause += QStringLiteral("（最后的输出：%1）").arg(words);
    if (m_launcher.isEmpty())
        return QStringLiteral("无法运行驱动程序主机 %1：%2").arg(m_shownPath, cause);
    return QStringLiteral("无法通过 %1 运行驱动程序主机 %2：%3")
        .arg(m_launcher.join(u' '), m_shownPath, cause);
}
