#include "HostDriver.h"

#include "DriverMessages.h"
#include "HostProcess.h"
#include "base/FatalError.h"
#include "driver/host/HostProtocol.h"

#include <algorithm>
#include <cstring>

using namespace hostproto;

HostDriver::HostDriver(QString hostPath, QStringList launcher, QString libraryPath,
                       Timeouts timeouts, QStringList hostArguments)
    : HostDriver(std::make_unique<HostProcess>(hostPath, launcher, std::move(hostArguments)),
                 std::move(libraryPath), timeouts, !launcher.isEmpty()) {
}

HostDriver::HostDriver(std::unique_ptr<HostLink> host, QString libraryPath, Timeouts timeouts,
                       bool underWine)
    : m_underWine(underWine), m_host(std::move(host)), m_libraryPath(std::move(libraryPath)),
      m_timeouts(timeouts), m_elements(kMinBufferElements) {
    m_host->setFinishedHandler([this] { onFinished(); });
}

void HostDriver::onFinished() {
    // A call in progress reports the end itself.
    if (m_state != State::Idle)
        return;
    m_state = State::Gone;
    if (m_onLost)
        m_onLost(m_host->endedText());
}

void HostDriver::garbled() {
    lost(QStringLiteral("驱动程序主机 %1 的应答无法识别").arg(m_host->path()));
}

void HostDriver::lost(const QString& message) {
    m_state = State::Gone;
    m_host->kill();
    throw FatalError(message.toStdString());
}

void HostDriver::failWaiting(HostLink::Wait why) {
    if (why == HostLink::Wait::Ended)
        lost(m_state == State::Starting ? m_host->notRunText({}) : m_host->endedText());
    lost(QStringLiteral("驱动程序主机 %1 在 %2 秒内没有应答 %3 调用")
             .arg(m_host->path())
             .arg(static_cast<double>(m_limit.count()) / 1000.0)
             .arg(QString::fromLatin1(m_function)));
}

void HostDriver::receive(char* data, qint64 bytes) {
    const HostLink::Wait wait = m_host->read(data, bytes, m_deadline);
    if (wait != HostLink::Wait::Done)
        failWaiting(wait);
}

void HostDriver::receiveStatus(bool failureAllowed) {
    char head[4];
    receive(head, 4);
    const std::uint32_t status = getU32(head);
    if (status != kOk && status != kFailed && status != kCrashed) {
        if (m_state != State::Starting)
            garbled();
        // Not the host talking but whatever stands in its place, most likely a
        // launcher saying why it cannot run it and ending.
        m_host->awaitEnd();
        lost(m_host->notRunText(QByteArray(head, sizeof head)));
    }
    // The host is up and answering: from now on a call gets the usual time.
    m_state = State::InCall;
    if (status == kOk)
        return;
    // A library crash may end any block; a missing function only the first.
    if (status == kFailed && !failureAllowed)
        garbled();
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
        m_host->awaitEnd();
        lost(QStringLiteral("驱动程序库 %1 在 %2 中崩溃：%3").arg(m_libraryPath, function, reason));
    }
    // The host itself is fine; only the library or one of its functions is missing.
    throw FatalError((function.isEmpty() ? libraryNotLoadedText(m_libraryPath, reason)
                                         : functionMissingText(m_libraryPath, function, reason))
                         .toStdString());
}

void HostDriver::startHost() {
    if (m_state == State::Starting && !m_host->running() && !m_host->start(m_deadline))
        lost(m_host->startFailureText());
}

void HostDriver::send(const std::string& request) {
    startHost();
    collectReadAhead();
    const HostLink::Wait wait =
        m_host->write(request.data(), static_cast<qint64>(request.size()), m_deadline);
    if (wait != HostLink::Wait::Done)
        failWaiting(wait);
}

std::string HostDriver::ask(const std::string& request, std::size_t replyBytes,
                            const char* function) {
    if (m_state == State::Gone)
        return {};
    const Call call(*this, function);
    send(request);
    receiveStatus();
    std::string reply(replyBytes, '\0');
    receive(reply.data(), static_cast<qint64>(replyBytes));
    return reply;
}

std::int32_t HostDriver::callI32(const std::string& request, const char* function) {
    const std::string reply = ask(request, 4, function);
    return reply.empty() ? 0 : getI32(reply.data());
}

std::int32_t HostDriver::ConfigInfo(std::uint8_t* name201, std::int32_t* v1, std::int32_t* v2,
                                    std::int32_t* v3, std::int32_t* v4, float* zeroLevel,
                                    float* span, std::int32_t* extra) {
    std::int32_t* const ints[] = {v1, v2, v3, v4};
    std::string r = request(kConfigInfo);
    r.append(reinterpret_cast<const char*>(name201), kCardNameBytes);
    for (std::int32_t* v : ints)
        putI32(r, *v);
    putF32(r, *zeroLevel);
    putF32(r, *span);
    putI32(r, *extra);
    const std::string out = ask(r, 4 + kConfigBytes, "ConfigInfo");
    if (out.empty())
        return 0;
    const char* p = out.data() + 4;
    std::memcpy(name201, p, kCardNameBytes);
    p += kCardNameBytes;
    for (std::int32_t* v : ints) {
        *v = getI32(p);
        p += 4;
    }
    *zeroLevel = getF32(p);
    *span = getF32(p + 4);
    *extra = getI32(p + 8);
    return getI32(out.data());
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
        // Blocks read ahead before the start belong to the run it ended: a
        // direct call after the start would never see them, and they lie in
        // slots of the old size.
        m_readAhead.clear();
        // The host drops slots of another size the same way; the new ones are
        // made at once, so the first tick finds them ready.
        const std::uint32_t elements =
            std::max(blockElements(pointsPerBuf, chnCount), kMinBufferElements);
        if (elements != m_elements)
            m_blocks.reset();
        m_elements = elements;
        mapBlocks("StartIntr");
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
