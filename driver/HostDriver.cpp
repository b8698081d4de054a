#include "HostDriver.h"

#include "DriverMessages.h"
#include "FatalError.h"
#include "HostProcess.h"
#include "HostProtocol.h"
#include "ToviraApi.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

using namespace hostproto;

namespace {

using Clock = std::chrono::steady_clock;

// A host that closes its input gets this long to end before it is killed.
constexpr int kEndMs = 2000;

// Enough of the host's standard error to hold its last lines.
constexpr qsizetype kErrorTailBytes = 4096;
// A launcher's words in a message box: one line, cut if it runs on.
constexpr qsizetype kWordsChars = 300;

// The last line of `text` with anything in it, without control characters.
QString lastLine(const QByteArray& text) {
    const QList<QByteArray> lines = text.split('\n');
    for (auto line = lines.crbegin(); line != lines.crend(); ++line) {
        QString words = QString::fromLocal8Bit(*line);
        words.removeIf([](QChar c) { return c.category() == QChar::Other_Control; });
        words = words.trimmed();
        if (words.isEmpty())
            continue;
        if (words.size() > kWordsChars)
            words = words.left(kWordsChars) + QStringLiteral("…");
        return words;
    }
    return {};
}

} // namespace

HostDriver::HostDriver(QString hostPath, QStringList launcher, QString libraryPath,
                       Timeouts timeouts)
    : m_hostPath(std::move(hostPath)), m_launcher(std::move(launcher)),
      m_libraryPath(std::move(libraryPath)), m_timeouts(timeouts),
      m_hostBuffer(kMinBufferElements, 0) {
    // The host's errors and whatever the library prints go where the program's
    // go, as they come; the driver keeps their end, since when the host cannot
    // be run at all, its launcher's last words there are the cause.
    m_process.setProcessChannelMode(QProcess::SeparateChannels);
    QObject::connect(&m_process, &QProcess::readyReadStandardError, &m_process,
                     [this] { forwardErrors(); });
    prepareHostProcess(m_process);
    QObject::connect(&m_process, &QProcess::finished, &m_process, [this] { onFinished(); });
}

HostDriver::~HostDriver() {
    m_closing = true;
    if (m_process.state() != QProcess::NotRunning) {
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(kEndMs)) {
            m_process.kill();
            m_process.waitForFinished(kEndMs);
        }
    }
    forwardErrors();
    // The process outlives this body by a moment; nothing of it may call back.
    QObject::disconnect(&m_process, nullptr, nullptr, nullptr);
}

void HostDriver::forwardErrors() {
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

void HostDriver::onFinished() {
    // A call in progress reports the end itself; an ordinary close is no news.
    if (m_inCall || m_closing || m_gone)
        return;
    m_gone = true;
    if (m_onLost)
        m_onLost(endedText());
}

QString HostDriver::exitText() const {
    return m_process.exitStatus() == QProcess::CrashExit
               ? QStringLiteral("被信号 %1 终止").arg(m_process.exitCode())
               : QStringLiteral("退出，状态 %1").arg(m_process.exitCode());
}

QString HostDriver::endedText() const {
    return QStringLiteral("驱动程序主机 %1 意外结束：%2").arg(m_hostPath, exitText());
}

QString HostDriver::notRunText(const QByteArray& output) {
    // A launcher that fails says why on stderr as a rule, but some print to
    // stdout, which the driver reads as the host's answer.
    forwardErrors();
    QString words = lastLine(m_errorTail);
    if (words.isEmpty())
        words = lastLine(output + m_process.readAllStandardOutput());
    QString cause =
        m_process.state() == QProcess::NotRunning ? exitText() : QStringLiteral("应答无法识别");
    if (!words.isEmpty())
        cause += QStringLiteral("（最后的输出：%1）").arg(words);
    if (m_launcher.isEmpty())
        return QStringLiteral("无法运行驱动程序主机 %1：%2").arg(m_hostPath, cause);
    return QStringLiteral("无法通过 %1 运行驱动程序主机 %2：%3")
        .arg(m_launcher.join(u' '), m_hostPath, cause);
}

void HostDriver::garbled() {
    lost(QStringLiteral("驱动程序主机 %1 的应答无法识别").arg(m_hostPath));
}

void HostDriver::lost(const QString& message) {
    m_gone = true;
    m_inCall = false;
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(kEndMs);
    }
    throw FatalError(message.toStdString());
}

void HostDriver::failWaiting() {
    if (m_process.state() == QProcess::NotRunning)
        lost(m_started ? endedText() : notRunText({}));
    const auto limit = m_started ? m_timeouts.call : m_timeouts.first;
    lost(QStringLiteral("驱动程序主机 %1 在 %2 秒内没有应答 %3 调用")
             .arg(m_hostPath)
             .arg(static_cast<double>(limit.count()) / 1000.0)
             .arg(QString::fromLatin1(m_function)));
}

int HostDriver::msLeft() const {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(m_deadline - Clock::now()).count();
    return static_cast<int>(std::max<long long>(left, 0));
}

void HostDriver::receive(char* data, qint64 bytes) {
    while (m_process.bytesAvailable() < bytes) {
        if (!m_process.waitForReadyRead(msLeft()) && m_process.bytesAvailable() < bytes &&
            (m_process.state() == QProcess::NotRunning || msLeft() == 0))
            failWaiting();
    }
    m_process.read(data, bytes);
}

void HostDriver::receiveStatus() {
    char head[4];
    receive(head, 4);
    const std::uint32_t status = getU32(head);
    if (status != kOk && status != kFailed && status != kCrashed) {
        if (m_started)
            garbled();
        // Not the host talking but whatever stands in its place, most likely a
        // launcher saying why it cannot run it and ending.
        m_process.waitForFinished(kEndMs);
        lost(notRunText(QByteArray(head, sizeof head)));
    }
    // The host is up and answering: from now on a call gets the usual time.
    m_started = true;
    if (status == kOk)
        return;
    char size[4];
    receive(size, 4);
    const std::uint32_t length = getU32(size);
    if (length > kMaxText)
        garbled();
    std::string text(length, '\0');
    receive(text.data(), length);
    const std::size_t split = text.find('\n');
    const QString function = QString::fromUtf8(text.substr(0, split));
    const QString reason =
        QString::fromUtf8(split == std::string::npos ? std::string() : text.substr(split + 1));
    if (status == kCrashed) {
        // The host ends after saying so; let it, then make sure.
        m_process.waitForFinished(kEndMs);
        lost(QStringLiteral("驱动程序库 %1 在 %2 中崩溃：%3").arg(m_libraryPath, function, reason));
    }
    // The host itself is fine; only the library or one of its functions is missing.
    m_inCall = false;
    throw FatalError((function.isEmpty() ? libraryNotLoadedText(m_libraryPath, reason)
                                         : functionMissingText(m_libraryPath, function, reason))
                         .toStdString());
}

bool HostDriver::begin(const std::string& request, const char* function) {
    if (m_gone)
        return false;
    m_function = function;
    m_inCall = true;
    m_deadline = Clock::now() + (m_started ? m_timeouts.call : m_timeouts.first);
    if (m_process.state() == QProcess::NotRunning && !m_started) {
        // The host runs on its own, or through its launcher (wine).
        QStringList command = m_launcher;
        command << m_hostPath << m_hostArguments;
        m_process.start(command.takeFirst(), command);
        if (!m_process.waitForStarted(msLeft())) {
            lost(QStringLiteral("无法启动驱动程序主机 %1：%2")
                     .arg(m_launcher.isEmpty() ? m_hostPath
                                               : m_launcher.join(u' ') + u' ' + m_hostPath,
                          m_process.errorString()));
        }
        // However the program ends, the host must go with it, even one stuck
        // in a library call that never returns. Should that fail, it still
        // ends when the program's end of its input closes.
        if (!adoptHostProcess(m_process)) {
            std::fprintf(stderr, "tovira-host: not tied to the program's life: %s\n",
                         qPrintable(m_hostPath));
        }
    }
    collectReadAhead();
    m_process.write(request.data(), static_cast<qint64>(request.size()));
    while (m_process.bytesToWrite() > 0) {
        if (!m_process.waitForBytesWritten(msLeft()) && m_process.bytesToWrite() > 0 &&
            (m_process.state() == QProcess::NotRunning || msLeft() == 0))
            failWaiting();
    }
    return true;
}

std::int32_t HostDriver::callI32(const std::string& request, const char* function) {
    if (!begin(request, function))
        return 0;
    receiveStatus();
    char value[4];
    receive(value, 4);
    m_inCall = false;
    return getI32(value);
}

namespace {

std::string request(Op op) {
    std::string r;
    putU32(r, op);
    return r;
}

} // namespace

std::int32_t HostDriver::ConfigInfo(std::uint8_t* name201, std::int32_t* v1, std::int32_t* v2,
                                    std::int32_t* v3, std::int32_t* v4, float* zeroLevel,
                                    float* span, std::int32_t* extra) {
    std::int32_t* const ints[] = {v1, v2, v3, v4};
    std::string r = request(kConfigInfo);
    r.append(reinterpret_cast<const char*>(name201), kConfigNameBytes);
    for (std::int32_t* v : ints)
        putI32(r, *v);
    putF32(r, *zeroLevel);
    putF32(r, *span);
    putI32(r, *extra);
    if (!begin(r, "ConfigInfo"))
        return 0;
    receiveStatus();
    char out[4 + kConfigBytes];
    receive(out, sizeof out);
    m_inCall = false;
    const char* p = out + 4;
    std::memcpy(name201, p, kConfigNameBytes);
    p += kConfigNameBytes;
    for (std::int32_t* v : ints) {
        *v = getI32(p);
        p += 4;
    }
    *zeroLevel = getF32(p);
    *span = getF32(p + 4);
    *extra = getI32(p + 8);
    return getI32(out);
}

std::int32_t HostDriver::StopIntr() {
    return callI32(request(kStopIntr), "StopIntr");
}

std::int32_t HostDriver::Initial(std::int32_t a, std::int32_t b, std::int32_t c, std::int32_t d) {
    std::string r = request(kInitial);
    for (const std::int32_t v : {a, b, c, d})
        putI32(r, v);
    return callI32(r, "Initial");
}

std::int32_t HostDriver::StartIntr(std::int16_t a, std::int32_t pointsPerBuf, std::int16_t b,
                                   std::int16_t chnCount, std::int32_t sampFreq, std::int32_t c,
                                   std::int16_t d) {
    std::string r = request(kStartIntr);
    for (const std::int32_t v : {std::int32_t{a}, pointsPerBuf, std::int32_t{b},
                                 std::int32_t{chnCount}, sampFreq, c, std::int32_t{d}})
        putI32(r, v);
    const std::int32_t result = callI32(r, "StartIntr");
    if (result != 0) {
        // The host clears its buffer for the new block shape the same way.
        m_hostBuffer.assign(std::max(blockElements(pointsPerBuf, chnCount), kMinBufferElements), 0);
    }
    return result;
}

std::int32_t HostDriver::GetLastADError() {
    return callI32(request(kGetLastADError), "GetLastADError");
}

std::int32_t HostDriver::QueryBuf() {
    const std::int32_t ready = callI32(request(kQueryBuf), "QueryBuf");
    // The caller keeps the low 16 bits, read as signed, and copies that many.
    const auto announced = static_cast<std::int16_t>(static_cast<std::uint32_t>(ready) & 0xFFFFU);
    m_announced = std::max<std::int32_t>(announced, 0);
    return ready;
}

HostDriver::Block HostDriver::receiveBlock() {
    receiveStatus();
    char head[12];
    receive(head, sizeof head);
    Block block;
    block.result = getI32(head);
    block.first = getU32(head + 4);
    const std::uint32_t end = getU32(head + 8);
    if (block.first > end || end > m_hostBuffer.size())
        garbled();
    const std::size_t count = end - block.first;
    block.after.resize(count);
    receive(reinterpret_cast<char*>(block.after.data()), static_cast<qint64>(count * 2));
    const auto span = m_hostBuffer.begin() + block.first;
    block.before.assign(span, span + static_cast<std::ptrdiff_t>(count));
    std::copy(block.after.begin(), block.after.end(), span);
    return block;
}

void HostDriver::collectReadAhead() {
    // Another call is about to be made while announced blocks are still on
    // their way: take them in first, to be handed out in order.
    while (m_inFlight > 0) {
        --m_inFlight;
        m_readAhead.push_back(receiveBlock());
    }
}

std::int32_t HostDriver::ADResult(std::int16_t* buffer) {
    if (m_gone)
        return 0;
    if (m_readAhead.empty() && m_inFlight == 0) {
        const auto calls = static_cast<std::uint32_t>(std::max<std::int32_t>(m_announced, 1));
        m_announced = 0;
        // The host's buffer becomes the caller's, so the first call sees
        // exactly what a direct call would.
        const Span upload = changedSpan(m_hostBuffer.data(), buffer, m_hostBuffer.size());
        std::string r = request(kADResult);
        putU32(r, calls);
        putU32(r, static_cast<std::uint32_t>(upload.first));
        putU32(r, static_cast<std::uint32_t>(upload.end));
        putI16s(r, buffer + upload.first, upload.end - upload.first);
        std::copy(buffer + upload.first, buffer + upload.end,
                  m_hostBuffer.begin() + static_cast<std::ptrdiff_t>(upload.first));
        if (!begin(r, "ADResult"))
            return 0;
        m_inFlight = calls;
    }
    Block block;
    if (!m_readAhead.empty()) {
        block = std::move(m_readAhead.front());
        m_readAhead.pop_front();
    } else {
        m_function = "ADResult";
        m_inCall = true;
        m_deadline = Clock::now() + m_timeouts.call;
        --m_inFlight;
        try {
            block = receiveBlock();
        } catch (...) {
            // A failed binding is the host's only answer to the request.
            m_inFlight = 0;
            throw;
        }
        m_inCall = false;
    }
    // What the library wrote is what changed in the host's copy of the
    // caller's buffer; everything else stays as the caller has it.
    for (std::size_t i = 0; i < block.after.size(); ++i) {
        if (block.after[i] != block.before[i])
            buffer[block.first + i] = block.after[i];
    }
    return block.result;
}

std::int64_t HostDriver::SimDroppedBlocks() {
    if (!begin(request(kSimDroppedBlocks), "SimDroppedBlocks"))
        return 0;
    receiveStatus();
    char value[8];
    receive(value, 8);
    m_inCall = false;
    return static_cast<std::int64_t>(std::uint64_t{getU32(value)} | std::uint64_t{getU32(value + 4)}
                                                                        << 32);
}
