// The program's side of the card host's protocol: HostDriver fed any byte
// stream as the host's replies. A stand-in host (ScriptedHost) takes the
// place of the host's process; the input decides the program's calls
// (HostReplySteps.h) and, request by request, what the host answers: a
// well-formed answer built here from a model card, so inputs get deep, or
// the input's own bytes.
//
// The stand-in reads every reply as a correct program would, field by field,
// while HostDriver reads it, so it knows at each moment what the call must
// come to: the values the reply gives, the one message a failure shows (and
// whether the host is to be ended), which blocks were accepted and what each
// changes. Every call is then checked against that:
// - each read asks for exactly the next field of the reply; nothing is read
//   past a reply, or after the host was given up, and no request goes out
//   before the last reply was read whole;
// - each request is the call the program made, with its arguments (the
//   ConfigInfo variables as the caller has them), the mapping's slots and
//   size before a first ADResult and after each start of a new block size,
//   and each ADResult request asks for the blocks the last QueryBuf
//   announced, within the slots, with the caller's buffer in slot 0;
// - a call returns exactly the reply's values, or throws the FatalError that
//   the reply's failure makes, word for word (non-empty, valid UTF-8);
// - after every ADResult the caller's buffer is what a direct call leaves:
//   the elements the host says the call changed (first to end, where the
//   slot differs from the one before), everything else as the caller had
//   it, element 0 and the last included; for a well-formed answer also
//   exactly the model card's block; guard elements on both sides never
//   change;
// - once the host is lost (ended, crashed, silent, talking nonsense) it was
//   ended, and every later call returns 0 at once without touching the host
//   or the caller's variables.

#include "FuzzInput.h"
#include "HostReplySteps.h"
#include "base/FatalError.h"
#include "driver/DriverMessages.h"
#include "driver/HostDriver.h"
#include "driver/HostLink.h"
#include "driver/SharedBlocks.h"
#include "driver/host/HostProtocol.h"

#include <QByteArray>
#include <QString>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

using namespace replysteps;
using namespace std::chrono_literals;

namespace proto = hostproto;

// The target's own loops over a block's elements are left without edge
// counters, which would make every longer block look like new ground to the
// fuzzer, so that it favoured the slowest inputs, and without
// AddressSanitizer's checks: they are the model, HostDriver is what is
// under test, and they run for every element of every block.
// Nor have the stand-in's and the program's checks, which only follow what
// HostDriver did, and the calls around it: HostDriver's own counters tell the
// fuzzer where an input went, and every counter a run touches costs the
// fuzzer time after the run. Only the reading of the steps and answers
// (Program::step, ScriptedHost::answer) and the model card's choices keep
// theirs, so the fuzzer still learns which of its choices an input reached.
#if defined(__clang__)
#define ELEMENT_LOOP __attribute__((no_sanitize("coverage", "address")))
#define UNCOUNTED __attribute__((no_sanitize("coverage")))
#else
#define ELEMENT_LOOP __attribute__((no_sanitize("address")))
#define UNCOUNTED
#endif

namespace {

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "host replies: %s\n", what.c_str());
    std::abort();
}

const QString kHostPath = QStringLiteral("/fuzz/tovira-host");
const QString kLibrary = QStringLiteral("/fuzz/卡/libtovira.so");
constexpr HostDriver::Timeouts kTimeouts{60'000ms, 10'000ms};

std::uint32_t mix(std::uint32_t x) {
    x ^= x >> 16;
    x *= 0x7FEB352DU;
    x ^= x >> 15;
    x *= 0x846CA68BU;
    x ^= x >> 16;
    return x;
}

// Strictly: no overlong forms, no surrogates, nothing past U+10FFFF.
UNCOUNTED bool validUtf8(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        std::size_t more = 0;
        std::uint32_t cp = 0;
        if (c < 0x80) {
            ++i;
            continue;
        }
        if (c >= 0xC2 && c <= 0xDF) {
            more = 1;
            cp = c & 0x1FU;
        } else if (c >= 0xE0 && c <= 0xEF) {
            more = 2;
            cp = c & 0x0FU;
        } else if (c >= 0xF0 && c <= 0xF4) {
            more = 3;
            cp = c & 0x07U;
        } else {
            return false;
        }
        if (s.size() - i <= more)
            return false;
        for (std::size_t k = 1; k <= more; ++k) {
            const auto t = static_cast<unsigned char>(s[i + k]);
            if ((t & 0xC0) != 0x80)
                return false;
            cp = cp << 6 | (t & 0x3FU);
        }
        if ((more == 2 && cp < 0x800) || (more == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
            (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += more + 1;
    }
    return true;
}

// ---------------------------------------------------------------------------
// The model card behind well-formed answers: what one ADResult call of the
// library writes, a pure function of the answer's seed and the call's number,
// so the check after the program's call can say it again.

struct LibraryBlock {
    std::int32_t result = 0;
    std::uint32_t first = 0; // the elements the call writes: first to end - 1
    std::uint32_t end = 0;
    std::uint32_t values = 0; // the seed of what it writes there
};

// Cheap, since it runs for every element, and never the same from one
// element to the next.
ELEMENT_LOOP inline std::int16_t blockValue(std::uint32_t values, std::uint32_t i) {
    return static_cast<std::int16_t>((values + i * 0x9E3779B9U) >> 16);
}

constexpr std::uint32_t kWindow = 48;
constexpr std::uint32_t kRequestElements = 64 * 1024;

LibraryBlock libraryBlock(std::uint8_t seed, std::uint32_t call, std::uint32_t elements) {
    const std::uint32_t h = mix(seed * 0x01000193U ^ call * 0x85EBCA6BU);
    LibraryBlock b;
    if (h % 7 == 0)
        return b; // nothing waiting: the call writes nothing and says 0
    b.result = h % 13 == 0 ? -1 : 1;
    // The samples, or with element 0 or the last one too, or any stretch.
    b.first = h & 8 ? 0 : 1;
    b.end = h & 16 ? elements : elements - 1;
    if (h % 11 == 0) {
        b.first = (h >> 8) % elements;
        b.end = b.first + (h >> 4) % (elements - b.first + 1);
    } else if (elements > kWindow && h % 8 != 0) {
        // A block of the program's sizes is mostly written in part, at
        // either end or anywhere, so that the loops over its elements do not
        // set the pace of every input; one in eight is written whole.
        const std::uint32_t where = (h >> 20) % 3;
        if (where == 0)
            b.end = b.first + kWindow;
        else if (where == 1)
            b.first = b.end - kWindow;
        else
            b.end = (b.first = (h >> 8) % (elements - kWindow)) + kWindow;
    }
    // Now and then the block before it again: little or nothing changes.
    b.values = h & 32 ? mix(seed * 0x01000193U ^ (call - 1) * 0x85EBCA6BU) : h;
    return b;
}

ELEMENT_LOOP void fillName(std::array<std::uint8_t, kCardNameBytes>& name, std::uint8_t seed) {
    for (std::size_t i = 0; i < name.size(); ++i)
        name[i] = static_cast<std::uint8_t>(
            blockValue(seed * 0x01000193U, static_cast<std::uint32_t>(i)));
}

ELEMENT_LOOP void writeBlock(const LibraryBlock& b, std::int16_t* buffer) {
    for (std::uint32_t i = b.first; i < b.end; ++i)
        buffer[i] = blockValue(b.values, i);
}

/// A well-formed QueryBuf answer off the input (CountKind).
UNCOUNTED std::int32_t blockCount(FuzzInput& in) {
    const std::uint8_t kind = in.take<std::uint8_t>();
    const std::uint32_t choice = kind >> 3;
    switch (kind & 7) {
    case kNoBlock:
        return 0;
    case kNearLimit:
        return static_cast<std::int32_t>(proto::kReadAheadBlocks - 1 + choice % 4);
    case kNegative:
        return -1 - static_cast<std::int32_t>(choice);
    case kPast16Bits:
        return static_cast<std::int32_t>((choice + 1) * 65536 + choice % 4);
    case kAnyCount: {
        const auto any = static_cast<std::uint32_t>(in.take<std::int32_t>());
        const std::uint32_t low = any & 0xFFFFU;
        if (choice == 0 || low >= 32768)
            return static_cast<std::int32_t>(any);
        return static_cast<std::int32_t>((any & 0xFFFF0000U) | (low % kMaxDrainBlocks));
    }
    default:
        return static_cast<std::int32_t>(1 + choice % 4);
    }
}

// ---------------------------------------------------------------------------
// What the conversation must have come to, as a correct program reads it.

/// A block reply the program accepted and has not handed out yet.
struct AcceptedBlock {
    std::int32_t result = 0;
    std::uint32_t slot = 0;
    std::uint32_t first = 0;
    std::uint32_t end = 0;
    std::optional<LibraryBlock> library; // well-formed: what the model card wrote
};

enum class Call {
    None,
    ConfigInfo,
    StopIntr,
    Initial,
    StartIntr,
    GetLastADError,
    QueryBuf,
    ADResult,
};

UNCOUNTED const char* functionName(Call call) {
    switch (call) {
    case Call::ConfigInfo:
        return "ConfigInfo";
    case Call::StopIntr:
        return "StopIntr";
    case Call::Initial:
        return "Initial";
    case Call::StartIntr:
        return "StartIntr";
    case Call::GetLastADError:
        return "GetLastADError";
    case Call::QueryBuf:
        return "QueryBuf";
    case Call::ADResult:
        return "ADResult";
    case Call::None:
        break;
    }
    return "";
}

/// The caller's ConfigInfo variables.
struct ConfigVars {
    std::array<std::uint8_t, kCardNameBytes> name{};
    std::int32_t v[4] = {};
    float zero = 0.0F;
    float span = 0.0F;
    std::int32_t extra = 0;

    /// As the request and the reply carry them.
    UNCOUNTED std::string wire() const {
        std::string out(reinterpret_cast<const char*>(name.data()), name.size());
        for (const std::int32_t x : v)
            proto::putI32(out, x);
        proto::putF32(out, zero);
        proto::putF32(out, span);
        proto::putI32(out, extra);
        return out;
    }
};

struct Model {
    bool underWine = false;
    bool answered = false; // a valid status word has come back
    bool gone = false;     // the host was lost: no call reaches it any more
    std::uint32_t elements = proto::kMinBufferElements;
    bool mapped = false; // the host has slots of this size
    std::uint32_t slotCount = 0;
    std::int32_t announced = 0;
    std::uint32_t libraryCalls = 0; // ADResult calls the model card has had
    // Accepted blocks, in order, from `handedOut` on (a vector that keeps
    // its memory, where a deque would allocate at every input).
    std::vector<AcceptedBlock> accepted;
    std::size_t handedOut = 0;
    bool blocksWait() const { return handedOut < accepted.size(); }
    void dropBlocks() {
        accepted.clear();
        handedOut = 0;
    }
    bool callerWrote = false; // the caller wrote its buffer since the last ADResult request

    // The call in progress and what the replies so far make of it.
    Call call = Call::None;
    std::string request;                // the request the call must send
    bool expectMap = false;             // a kMapBlocks request must come next
    bool expectBlocks = false;          // a kADResult request must come (after the mapping)
    std::optional<std::string> failure; // the message the call must throw
    bool lose = false;                  // and the host is to be ended
    bool failedOnce = false;            // a failure came: nothing more may be read or written
    std::optional<std::int32_t> value;  // the call's own reply's result
    std::string configReply;            // ConfigInfo: the variables as the reply has them
    std::int32_t startPoints = 0;       // StartIntr: the shape asked for
    std::int16_t startChannels = 0;
};

// ---------------------------------------------------------------------------
// The stand-in host.

class ScriptedHost final : public HostLink {
public:
    ScriptedHost(FuzzInput& in, Model& model, bool startFails)
        : m_in(in), m_model(model), m_startFails(startFails) {}

    void attach(const HostDriver* driver) { m_driver = driver; }
    /// The caller's buffer as the program passes it to ADResult.
    void setCallerBuffer(const std::int16_t* buffer) { m_callerBuffer = buffer; }
    /// The host ends on its own, as the event loop would report it.
    void endOnItsOwn() {
        m_ended = true;
        if (m_finished)
            m_finished();
    }
    bool killed() const { return m_killed; }
    bool started() const { return m_started; }
    bool blocksUnread() const { return m_seg.op == proto::kADResult && m_seg.next != Field::Done; }

    UNCOUNTED bool start(Clock::time_point) override {
        touch("starts");
        if (m_started)
            fail("starts the host a second time");
        if (m_startFails) {
            lose(startFailureText());
            return false;
        }
        m_started = true;
        return true;
    }
    bool running() const override { return m_started && !m_killed && !m_ended; }
    qint64 processId() const override { return running() ? 4242 : 0; }

    UNCOUNTED Wait write(const char* data, qint64 bytes, Clock::time_point) override {
        touch("writes");
        if (!running())
            fail("writes to a host that does not run");
        if (m_seg.next != Field::Done)
            fail("writes a request before it has read the whole reply to the last");
        takeRequest(std::string_view(data, static_cast<std::size_t>(bytes)));
        return Wait::Done;
    }

    UNCOUNTED Wait read(char* data, qint64 bytes, Clock::time_point) override {
        touch("reads");
        if (m_seg.next == Field::Done)
            fail("reads past the end of the host's reply");
        const std::size_t want = fieldBytes();
        if (static_cast<std::size_t>(bytes) != want)
            fail("reads " + std::to_string(bytes) + " bytes where the reply's next field has " +
                 std::to_string(want));
        switch (m_seg.answer) {
        case Answer::kSilentOrEnded:
            m_seg.next = Field::Done;
            if (m_seg.silent) {
                lose(silentText());
                return Wait::Silent;
            }
            lose(m_model.answered ? endedText() : notRunText({}));
            return Wait::Ended;
        case Answer::kRaw: {
            if (m_in.remaining() < want) {
                // The host said no more and ended.
                m_in.rest();
                m_seg.next = Field::Done;
                lose(m_model.answered ? endedText() : notRunText({}));
                return Wait::Ended;
            }
            const std::string_view taken = m_in.bytes(want);
            std::memcpy(data, taken.data(), want);
            break;
        }
        default:
            if (m_seg.built.size() - m_seg.at < want)
                fail("reads past the end of the host's reply");
            std::memcpy(data, m_seg.built.data() + m_seg.at, want);
            m_seg.at += want;
            break;
        }
        advance(std::string_view(data, want));
        return Wait::Done;
    }

    UNCOUNTED void kill() override {
        if (!m_model.lose)
            fail("ends the host although nothing failed");
        m_killed = true;
    }
    void awaitEnd() override {}
    void setFinishedHandler(std::function<void()> handler) override {
        m_finished = std::move(handler);
    }
    const QString& path() const override { return kHostPath; }
    QString startFailureText() const override {
        return QStringLiteral("fuzz host: cannot be started");
    }
    QString endedText() const override { return QStringLiteral("fuzz host: ended"); }
    QString notRunText(const QByteArray& output) override {
        return QStringLiteral("fuzz host: never answered as a host (%1)")
            .arg(QString::fromLatin1(output.toHex()));
    }

private:
    /// The field of the reply a correct program reads next.
    enum class Field { Status, Length, Text, Payload, MapLength, MapText, BlockHead, Done };

    /// One request's reply as the program reads it.
    struct Segment {
        std::uint32_t op = 0;
        Answer answer = Answer::kBuilt;
        bool silent = false;
        bool answeredAtWrite = false;
        std::string args;  // the request's arguments, as the host has them
        std::string built; // a well-formed answer, or a failure, as the host sends it
        std::size_t at = 0;
        Field next = Field::Done;
        std::uint32_t status = 0;
        std::uint32_t length = 0;
        std::uint32_t calls = 0;           // ADResult: the blocks asked for
        std::uint32_t read = 0;            // and how many of their replies were read
        std::vector<LibraryBlock> library; // well-formed: what each call wrote

        // For the next request, keeping the memory.
        void reset() {
            op = 0;
            answer = Answer::kBuilt;
            silent = false;
            answeredAtWrite = false;
            args.clear();
            built.clear();
            at = 0;
            next = Field::Done;
            status = 0;
            length = 0;
            calls = 0;
            read = 0;
            library.clear();
        }
    };

    UNCOUNTED void touch(const char* what) {
        if (m_model.gone)
            fail(std::string(what) + " after it has given the host up");
        if (m_model.lose)
            fail(std::string(what) + " after the reply that lost the host");
        if (m_model.failedOnce)
            fail(std::string(what) + " after the reply that failed the call");
    }

    UNCOUNTED void lose(const QString& message) {
        m_model.failure = message.toStdString();
        m_model.lose = true;
    }

    QString silentText() const {
        const std::chrono::milliseconds limit =
            m_seg.answeredAtWrite ? kTimeouts.call : kTimeouts.first;
        return QStringLiteral("驱动程序主机 %1 在 %2 秒内没有应答 %3 调用")
            .arg(kHostPath)
            .arg(static_cast<double>(limit.count()) / 1000.0)
            .arg(QString::fromLatin1(functionName(m_model.call)));
    }

    static QString garbledText() {
        return QStringLiteral("驱动程序主机 %1 的应答无法识别").arg(kHostPath);
    }

    UNCOUNTED std::size_t fieldBytes() const {
        switch (m_seg.next) {
        case Field::Status:
        case Field::Length:
        case Field::MapLength:
            return 4;
        case Field::Text:
        case Field::MapText:
            return m_seg.length;
        case Field::Payload:
            return m_seg.op == proto::kConfigInfo ? 4 + proto::kConfigBytes : 4;
        case Field::BlockHead:
            return 16;
        case Field::Done:
            break;
        }
        return 0;
    }

    // What the field just read makes of the call.
    UNCOUNTED void advance(std::string_view got) {
        switch (m_seg.next) {
        case Field::Status: {
            m_seg.status = proto::getU32(got.data());
            if (m_seg.status > proto::kCrashed) {
                m_seg.next = Field::Done;
                lose(m_model.answered ? garbledText() : notRunText(QByteArray(got.data(), 4)));
                return;
            }
            m_model.answered = true;
            // The host says a function is missing only as the one answer to
            // a request, never after a request's first block.
            if (m_seg.status == proto::kFailed && m_seg.op == proto::kADResult && m_seg.read > 0) {
                m_seg.next = Field::Done;
                lose(garbledText());
                return;
            }
            if (m_seg.status != proto::kOk) {
                m_seg.next = Field::Length;
                return;
            }
            m_seg.next = m_seg.op == proto::kMapBlocks  ? Field::MapLength
                         : m_seg.op == proto::kADResult ? Field::BlockHead
                                                        : Field::Payload;
            return;
        }
        case Field::Length:
        case Field::MapLength:
            m_seg.length = proto::getU32(got.data());
            if (m_seg.length > proto::kMaxText) {
                m_seg.next = Field::Done;
                lose(garbledText());
                return;
            }
            m_seg.next = m_seg.next == Field::Length ? Field::Text : Field::MapText;
            return;
        case Field::Text:
            failureText(got);
            return;
        case Field::MapText:
            m_seg.next = Field::Done;
            if (!got.empty()) {
                lose(QStringLiteral("驱动程序主机 %1 无法打开共享内存：%2")
                         .arg(kHostPath,
                              QString::fromUtf8(got.data(), static_cast<qsizetype>(got.size()))));
                return;
            }
            m_model.mapped = true;
            m_model.slotCount = proto::blockSlots(m_model.elements);
            m_model.expectMap = false;
            return;
        case Field::Payload:
            m_seg.next = Field::Done;
            payload(got);
            return;
        case Field::BlockHead:
            blockHead(got);
            return;
        case Field::Done:
            break;
        }
    }

    UNCOUNTED void failureText(std::string_view text) {
        const std::size_t split = text.find('\n');
        const std::string_view fn = text.substr(0, split);
        const std::string_view why =
            split == std::string_view::npos ? std::string_view() : text.substr(split + 1);
        const QString function = QString::fromUtf8(fn.data(), static_cast<qsizetype>(fn.size()));
        const QString reason = QString::fromUtf8(why.data(), static_cast<qsizetype>(why.size()));
        if (m_seg.status == proto::kCrashed) {
            m_seg.next = Field::Done;
            lose(QStringLiteral("驱动程序库 %1 在 %2 中崩溃：%3").arg(kLibrary, function, reason));
            return;
        }
        // The host is fine; the library or one of its functions is missing,
        // and the program says so as the direct binding would.
        m_model.failure = (function.isEmpty() ? libraryNotLoadedText(kLibrary, reason)
                                              : functionMissingText(kLibrary, function, reason))
                              .toStdString();
        m_model.failedOnce = true;
        m_seg.next = Field::Done;
        if (m_seg.op == proto::kADResult && m_model.call != Call::ADResult) {
            // Read ahead for another call: the rest of the batch still comes
            // and is read at the next call.
            if (++m_seg.read < m_seg.calls)
                m_seg.next = Field::Status;
        }
        // Read by ADResult itself it is the host's only answer to the request.
    }

    UNCOUNTED void payload(std::string_view got) {
        const std::int32_t value = proto::getI32(got.data());
        m_model.value = value;
        switch (m_seg.op) {
        case proto::kConfigInfo:
            m_model.configReply.assign(got.substr(4));
            break;
        case proto::kQueryBuf: {
            const auto count =
                static_cast<std::int16_t>(static_cast<std::uint32_t>(value) & 0xFFFFU);
            m_model.announced = std::max<std::int32_t>(count, 0);
            break;
        }
        case proto::kStartIntr:
            if (value != 0) {
                // Blocks read ahead before a start that succeeds belong to
                // the run it ended and lie in slots of the old size: none is
                // handed out after it, as a direct call after the start
                // would never see them. (Handing them out after a start of
                // another size once wrote their old spans into the new,
                // smaller buffer.)
                m_model.dropBlocks();
                const std::uint32_t elements =
                    std::max(proto::blockElements(m_model.startPoints, m_model.startChannels),
                             proto::kMinBufferElements);
                if (elements != m_model.elements)
                    m_model.mapped = false;
                m_model.elements = elements;
                m_model.expectMap = !m_model.mapped;
            }
            break;
        default:
            break;
        }
    }

    UNCOUNTED void blockHead(std::string_view got) {
        AcceptedBlock b;
        b.result = proto::getI32(got.data());
        b.slot = proto::getU32(got.data() + 4);
        b.first = proto::getU32(got.data() + 8);
        b.end = proto::getU32(got.data() + 12);
        const std::uint32_t k = ++m_seg.read;
        // Each reply names the next slot, within the mapping, and a span
        // within the slot; anything else is not the host talking.
        if (b.slot != k || b.slot >= m_model.slotCount || b.first > b.end ||
            b.end > m_model.elements) {
            m_seg.next = Field::Done;
            lose(garbledText());
            return;
        }
        if (m_seg.answer == Answer::kBuilt && k <= m_seg.library.size())
            b.library = m_seg.library[k - 1];
        m_model.accepted.push_back(b);
        m_seg.next = k < m_seg.calls ? Field::Status : Field::Done;
    }

    // --- Requests -----------------------------------------------------------

    UNCOUNTED void takeRequest(std::string_view r) {
        if (r.size() < 4)
            fail("writes a request without its op");
        const std::uint32_t op = proto::getU32(r.data());
        if (m_model.expectMap && op != proto::kMapBlocks)
            fail("sends op " + std::to_string(op) + " before the slots of the new block size");
        m_seg.reset();
        m_seg.op = op;
        m_seg.args.assign(r.substr(4));
        m_seg.answeredAtWrite = m_model.answered;
        switch (op) {
        case proto::kMapBlocks:
            mapRequest(r);
            break;
        case proto::kADResult:
            blocksRequest(r);
            break;
        default:
            if (m_model.expectBlocks)
                fail("sends op " + std::to_string(op) + " where ADResult must ask for blocks");
            if (r != m_model.request)
                fail("request " + hex(r) + " for the call that sends " + hex(m_model.request));
            // One request per call; a second one would be a call of its own.
            m_model.request.clear();
            break;
        }
        answer();
    }

    UNCOUNTED void mapRequest(std::string_view r) {
        if (!m_model.expectMap)
            fail("hands the host slots it did not need");
        if (r.size() < 20)
            fail("sends a short kMapBlocks request");
        const std::uint32_t slotCount = proto::getU32(r.data() + 4);
        const std::uint32_t elements = proto::getU32(r.data() + 8);
        const std::uint32_t kind = proto::getU32(r.data() + 12);
        const std::uint32_t length = proto::getU32(r.data() + 16);
        if (elements != m_model.elements || slotCount != proto::blockSlots(elements))
            fail("maps " + std::to_string(slotCount) + " slots of " + std::to_string(elements) +
                 " elements for blocks of " + std::to_string(m_model.elements));
        if (kind != proto::kMapPath || length > proto::kMaxMapPath || r.size() != 20 + length)
            fail("sends a kMapBlocks request that is not a path: " + hex(r));
        std::string path(r.substr(20));
        if (m_model.underWine) {
            // Wine's drive Z: is the Linux root; Windows takes either separator.
            if (path.rfind("Z:", 0) != 0)
                fail("spells the slots' file for Wine as " + path);
            path.erase(0, 2);
            std::replace(path.begin(), path.end(), '\\', '/');
        }
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || (st.st_mode & 0777) != 0600 ||
            static_cast<std::uint64_t>(st.st_size) != proto::mappingBytes(slotCount, elements))
            fail("names the slots' file " + path +
                 ", which is not this user's alone or not as large as the slots");
        const SharedBlocks* blocks = m_driver->sharedBlocks();
        if (blocks != nullptr)
            fail("hands the host new slots while it keeps the old ones");
        // A host would have the file open now. The program removes it once
        // the host has answered; a run that stops at a failure before that
        // would leave it in /dev/shm, so the stand-in removes it at once.
        ::unlink(path.c_str());
    }

    UNCOUNTED void blocksRequest(std::string_view r) {
        if (!m_model.expectBlocks)
            fail("asks for blocks where the call must not");
        m_model.expectBlocks = false;
        if (r.size() != 8)
            fail("sends an ADResult request of " + std::to_string(r.size()) + " bytes");
        if (m_model.blocksWait())
            fail("asks for blocks while blocks read ahead wait");
        m_model.dropBlocks();
        const std::uint32_t calls = proto::getU32(r.data() + 4);
        const auto wanted =
            static_cast<std::uint32_t>(std::max<std::int32_t>(m_model.announced, 1));
        const std::uint32_t expected = std::min(wanted, m_model.slotCount - 1);
        if (calls != expected)
            fail("asks for " + std::to_string(calls) + " blocks where the count says " +
                 std::to_string(expected));
        m_model.announced -= static_cast<std::int32_t>(
            std::min<std::uint32_t>(static_cast<std::uint32_t>(m_model.announced), calls));
        const SharedBlocks* blocks = m_driver->sharedBlocks();
        if (blocks == nullptr ||
            blocks->bytes() != proto::mappingBytes(m_model.slotCount, m_model.elements))
            fail("asks for blocks without slots of the block's size");
        // The first call finds exactly the caller's buffer.
        if (std::memcmp(blocks->data(), m_callerBuffer, std::size_t{m_model.elements} * 2) != 0)
            fail("asks for blocks without the caller's buffer in slot 0");
        m_model.callerWrote = false;
        m_seg.calls = calls;
    }

    // --- Answers -------------------------------------------------------------

    void answer() {
        const std::uint8_t byte = m_in.take<std::uint8_t>();
        m_seg.answer = answerKind(byte);
        const std::uint8_t choice = answerChoice(byte);
        m_seg.next = Field::Status;
        const std::uint32_t op = m_seg.op;
        switch (m_seg.answer) {
        case Answer::kBuilt:
            if (op == proto::kADResult)
                blocksAnswer(m_in.take<std::uint8_t>(), m_seg.calls);
            else
                valueAnswer();
            break;
        case Answer::kRaw:
            // The input's bytes are the replies; the slots still change as a
            // host's would, so what the program takes from them shows.
            if (op == proto::kADResult)
                writeSlots(choice, m_seg.calls);
            break;
        case Answer::kFailed:
            if (op == proto::kMapBlocks) {
                mapRefusal(choice);
                break;
            }
            m_seg.built = proto::textReply(
                proto::kFailed, choice & 1 ? "" : functionName(m_model.call), reason(choice >> 1));
            break;
        case Answer::kCrashed:
            if (op == proto::kADResult) {
                const std::uint32_t before = choice % m_seg.calls;
                blocksAnswer(choice, before);
            }
            m_seg.built += proto::textReply(
                proto::kCrashed, op == proto::kMapBlocks ? "" : functionName(m_model.call),
                choice & 1 ? "signal 11 (SEGV)" : "exception 0xC0000005 (access violation)");
            break;
        case Answer::kSilentOrEnded:
            m_seg.silent = (choice & 1) != 0;
            break;
        }
    }

    static std::string reason(std::uint8_t which) {
        switch (which % 6) {
        case 0:
            return "undefined symbol: StopIntr";
        case 1:
            return "libtovira.so: cannot open shared object file: No such file or directory";
        case 2:
            return "\xFF\xFE not UTF-8 \xC0\xAF";
        case 3:
            return std::string(proto::kMaxText, 'x');
        case 4:
            return "two\nlines";
        default:
            return "";
        }
    }

    UNCOUNTED void mapRefusal(std::uint8_t choice) {
        const std::string text = choice & 1 ? "/dev/shm/x: Permission denied" : "\xE5\x8D";
        proto::putU32(m_seg.built, proto::kOk);
        proto::putU32(m_seg.built, static_cast<std::uint32_t>(text.size()));
        m_seg.built += text;
    }

    UNCOUNTED void valueAnswer() {
        std::string& out = m_seg.built;
        switch (m_seg.op) {
        case proto::kConfigInfo: {
            const auto result = m_in.take<std::int32_t>();
            const std::uint8_t written = m_in.take<std::uint8_t>();
            const std::uint8_t seed = m_in.take<std::uint8_t>();
            // The library writes what the mask says and leaves the rest as
            // the program sent it.
            std::string vars(m_seg.args);
            if (written & 1) {
                static constexpr char kName[] = "模型卡 17";
                std::memcpy(vars.data(), kName, sizeof kName);
            }
            for (int k = 0; k < 7; ++k) {
                if (written & (2 << k)) {
                    std::string bytes;
                    proto::putU32(bytes, mix(seed + 1000U * static_cast<std::uint32_t>(k)));
                    vars.replace(kCardNameBytes + 4 * static_cast<std::size_t>(k), 4, bytes);
                }
            }
            proto::putU32(out, proto::kOk);
            proto::putI32(out, result);
            out += vars;
            break;
        }
        case proto::kMapBlocks: {
            const std::uint8_t how = m_in.take<std::uint8_t>();
            if (how % 4 == 3) {
                mapRefusal(how >> 2);
                break;
            }
            proto::putU32(out, proto::kOk);
            proto::putU32(out, 0);
            break;
        }
        case proto::kQueryBuf: {
            // Blocks of the program's sizes come a few at a time, as they do
            // a tick: a well-formed count that would have a request copy more
            // than kRequestElements is cut down, so that inputs do not spend
            // their time copying slots. (The input's own bytes count as they
            // like.)
            std::int32_t count = blockCount(m_in);
            const auto most = static_cast<std::int32_t>(
                std::max<std::uint32_t>(4, kRequestElements / m_model.elements));
            const auto blocks =
                static_cast<std::int16_t>(static_cast<std::uint32_t>(count) & 0xFFFFU);
            if (blocks > most)
                count =
                    static_cast<std::int32_t>((static_cast<std::uint32_t>(count) & 0xFFFF0000U) |
                                              static_cast<std::uint32_t>(blocks % (most + 1)));
            proto::putU32(out, proto::kOk);
            proto::putI32(out, count);
            break;
        }
        default:
            proto::putU32(out, proto::kOk);
            proto::putI32(out, m_in.take<std::int32_t>());
            break;
        }
    }

    // The model card's calls into slots 1 to `calls`, each starting from the
    // slot before, as the host runs them.
    ELEMENT_LOOP void writeSlots(std::uint8_t seed, std::uint32_t calls) {
        std::int16_t* base = m_driver->sharedBlocks()->data();
        const std::size_t elements = m_model.elements;
        for (std::uint32_t k = 1; k <= calls; ++k) {
            std::int16_t* now = base + k * elements;
            std::memcpy(now, now - elements, elements * 2);
            const LibraryBlock b = libraryBlock(seed, ++m_model.libraryCalls, m_model.elements);
            writeBlock(b, now);
            m_seg.library.push_back(b);
        }
    }

    ELEMENT_LOOP void blocksAnswer(std::uint8_t seed, std::uint32_t calls) {
        writeSlots(seed, calls);
        const std::int16_t* base = m_driver->sharedBlocks()->data();
        const std::size_t elements = m_model.elements;
        for (std::uint32_t k = 1; k <= calls; ++k) {
            // The span from the first to the last element the call changed,
            // which lies where it wrote; as the host says it, {elements,
            // elements} when nothing changed.
            const std::int16_t* was = base + (k - 1) * elements;
            const std::int16_t* now = was + elements;
            const LibraryBlock& b = m_seg.library[k - 1];
            std::size_t first = b.first;
            std::size_t end = b.end;
            while (first < end && now[first] == was[first])
                ++first;
            while (end > first && now[end - 1] == was[end - 1])
                --end;
            if (first == end)
                first = end = elements;
            proto::putU32(m_seg.built, proto::kOk);
            proto::putI32(m_seg.built, m_seg.library[k - 1].result);
            proto::putU32(m_seg.built, k);
            proto::putU32(m_seg.built, static_cast<std::uint32_t>(first));
            proto::putU32(m_seg.built, static_cast<std::uint32_t>(end));
        }
    }

    FuzzInput& m_in;
    Model& m_model;
    const HostDriver* m_driver = nullptr;
    const std::int16_t* m_callerBuffer = nullptr;
    bool m_startFails;
    bool m_started = false;
    bool m_killed = false;
    bool m_ended = false;
    std::function<void()> m_finished;
    Segment m_seg;
};

// ---------------------------------------------------------------------------
// The program's side: the calls, and what each must leave.

constexpr std::size_t kGuard = 8;

ELEMENT_LOOP inline std::int16_t guardValue(std::size_t i) {
    return static_cast<std::int16_t>(0x5A00 + i);
}

class Program {
public:
    Program(const std::uint8_t* data, std::size_t size, FuzzInput& in, std::uint8_t header)
        : m_data(data), m_size(size), m_in(in) {
        m_model.underWine = (header & kUnderWine) != 0;
        auto host = std::make_unique<ScriptedHost>(in, m_model, (header & kStartFails) != 0);
        m_host = host.get();
        m_driver =
            std::make_unique<HostDriver>(std::move(host), kLibrary, kTimeouts, m_model.underWine);
        m_host->attach(m_driver.get());
        m_driver->setHostLostHandler([this](const QString& message) {
            ++m_lostCalls;
            m_lostMessage = message.toStdString();
        });
        refill(0);
    }

    void step(std::uint8_t s) {
        const std::uint8_t choice = stepChoice(s);
        switch (stepKind(s)) {
        case kConfigInfo:
            configInfo(m_in.take<std::uint8_t>());
            break;
        case kStopIntr:
            plainCall(Call::StopIntr, proto::kStopIntr, [this] { return m_driver->StopIntr(); });
            break;
        case kInitial: {
            std::int32_t a[4];
            for (std::int32_t& v : a)
                v = m_in.take<std::int32_t>();
            initial(a);
            break;
        }
        case kStartIntr: {
            Shape shape = kShapes[choice];
            const auto a = m_in.take<std::int16_t>();
            const auto b = m_in.take<std::int16_t>();
            const auto rate = m_in.take<std::int32_t>();
            const auto c = m_in.take<std::int32_t>();
            const auto d = m_in.take<std::int16_t>();
            // The mapping's budget (blocks too large for every slot) costs its
            // 16 MB at the start, so only one input in 32 that asks for it
            // gets it.
            if (choice == kBigShapeIndex && m_in.take<std::uint8_t>() == kBigShapeByte &&
                sampledInput(m_data, m_size, 32))
                shape = kBigShape;
            startIntr(a, shape.points, b, shape.channels, rate, c, d);
            break;
        }
        case kGetLastADError:
            plainCall(Call::GetLastADError, proto::kGetLastADError,
                      [this] { return m_driver->GetLastADError(); });
            break;
        case kQueryBuf:
            queryBuf();
            break;
        case kADResult:
            adResult();
            break;
        case kDrain:
        case kDrainWithCall:
            drain(stepKind(s) == kDrainWithCall, choice);
            break;
        case kHostEnds:
            hostEnds();
            break;
        case kRefill:
            refill(m_in.take<std::uint8_t>());
            break;
        default:
            break;
        }
    }

    /// The program ends at its first fatal error. An input goes on past it,
    /// to see later calls come back at once, but not past a few: each throw
    /// makes AddressSanitizer sweep its fake stack, which costs more than
    /// the rest of a step.
    bool done() const { return m_failures >= kMaxFailures; }

    /// The end of the input: the driver goes, with the host and its slots.
    void finish() {
        checkGuards();
        m_driver.reset();
    }

private:
    // One call: what it must send, and whether it threw what it must.
    template <typename F> UNCOUNTED auto run(Call call, std::string request, F&& body) {
        m_model.call = call;
        m_model.request = std::move(request);
        m_model.failure.reset();
        m_model.lose = false;
        m_model.failedOnce = false;
        m_model.value.reset();
        m_model.configReply.clear();
        const bool goneBefore = m_model.gone;
        std::optional<std::string> thrown;
        decltype(body()) result{};
        try {
            result = body();
        } catch (const FatalError& e) {
            thrown = e.what();
        }
        // What a handler shows is what(), a C string: a message the host's
        // text put a zero byte into ends there.
        if (m_model.failure)
            m_model.failure->resize(std::strlen(m_model.failure->c_str()));
        const char* name = functionName(call);
        if (thrown) {
            ++m_failures;
            if (thrown->empty() || !validUtf8(*thrown))
                fail(std::string(name) +
                     " threw a message that is empty or not UTF-8: " + hex(*thrown));
            if (!m_model.failure)
                fail(std::string(name) + " threw \"" + *thrown + "\" on a reply that is fine");
            if (*thrown != *m_model.failure)
                fail(std::string(name) + " threw " + hex(*thrown) + " where the reply makes " +
                     hex(*m_model.failure));
        } else if (m_model.failure) {
            fail(std::string(name) + " returned where the reply makes \"" + *m_model.failure +
                 "\"");
        }
        if (m_model.lose) {
            if (!m_host->killed())
                fail(std::string(name) + " lost the host without ending it");
            m_model.gone = true;
        }
        if (!thrown && !goneBefore) {
            if (!m_model.request.empty())
                fail(std::string(name) + " returned without sending its request");
            if (m_model.expectMap)
                fail(std::string(name) + " returned without handing the host its slots");
            if (m_model.expectBlocks)
                fail(std::string(name) + " returned without asking the host for blocks");
        }
        m_model.expectMap = false;
        m_model.expectBlocks = false;
        m_model.request.clear();
        m_model.call = Call::None;
        if (goneBefore && (thrown || result != 0))
            fail(std::string(name) + " did not return 0 once the host was lost");
        if (m_lostCalls != 0)
            fail("the lost-host handler was called from a call");
        checkGuards();
        return std::make_pair(thrown.has_value(), result);
    }

    static std::string op(std::uint32_t code) {
        std::string r;
        proto::putU32(r, code);
        return r;
    }

    template <typename F> UNCOUNTED void plainCall(Call call, std::uint32_t code, F&& body) {
        const auto [threw, result] = run(call, op(code), body);
        checkValue(threw, result);
    }

    UNCOUNTED void checkValue(bool threw, std::int32_t result) {
        if (threw || m_model.gone)
            return;
        if (!m_model.value || result != *m_model.value)
            fail("returned " + std::to_string(result) + " where the reply says " +
                 (m_model.value ? std::to_string(*m_model.value) : "nothing"));
    }

    UNCOUNTED void configInfo(std::uint8_t seed) {
        ConfigVars vars;
        fillName(vars.name, seed);
        for (int k = 0; k < 4; ++k)
            vars.v[k] = static_cast<std::int32_t>(mix(seed ^ (0x100U << k)));
        const std::uint32_t zeroBits = mix(seed ^ 0x2000U);
        const std::uint32_t spanBits = seed & 1 ? 0x7FA00000U : mix(seed ^ 0x3000U);
        std::memcpy(&vars.zero, &zeroBits, 4);
        std::memcpy(&vars.span, &spanBits, 4);
        vars.extra = static_cast<std::int32_t>(seed) - 128;
        const std::string before = vars.wire();
        const bool goneBefore = m_model.gone;
        const auto [threw, result] = run(Call::ConfigInfo, op(proto::kConfigInfo) + before, [&] {
            return m_driver->ConfigInfo(vars.name.data(), &vars.v[0], &vars.v[1], &vars.v[2],
                                        &vars.v[3], &vars.zero, &vars.span, &vars.extra);
        });
        checkValue(threw, result);
        // Only a reply writes the variables, and then all of them as it has them.
        const std::string& wanted = threw || goneBefore ? before : m_model.configReply;
        if (vars.wire() != wanted)
            fail("ConfigInfo left the variables " + hex(vars.wire()) + " where the reply says " +
                 hex(wanted));
    }

    UNCOUNTED void initial(const std::int32_t (&a)[4]) {
        std::string r = op(proto::kInitial);
        for (const std::int32_t v : a)
            proto::putI32(r, v);
        const auto [threw, result] =
            run(Call::Initial, r, [&] { return m_driver->Initial(a[0], a[1], a[2], a[3]); });
        checkValue(threw, result);
    }

    UNCOUNTED void startIntr(std::int16_t a, std::int32_t points, std::int16_t b,
                             std::int16_t channels, std::int32_t rate, std::int32_t c,
                             std::int16_t d) {
        std::string r = op(proto::kStartIntr);
        for (const std::int32_t v : {std::int32_t{a}, points, std::int32_t{b},
                                     std::int32_t{channels}, rate, c, std::int32_t{d}})
            proto::putI32(r, v);
        // Each start of a new size makes a mapping (a file in /dev/shm, its
        // pages, and their end): a few per input.
        if (++m_starts > kMaxStarts)
            return;
        m_model.startPoints = points;
        m_model.startChannels = channels;
        const auto [threw, result] = run(Call::StartIntr, r, [&] {
            return m_driver->StartIntr(a, points, b, channels, rate, c, d);
        });
        checkValue(threw, result);
        // The program's buffer takes the new block's size, as the start's
        // caller makes it.
        if (m_model.elements != m_elements)
            refill(static_cast<std::uint8_t>(points));
    }

    UNCOUNTED void queryBuf() {
        plainCall(Call::QueryBuf, proto::kQueryBuf, [this] { return m_driver->QueryBuf(); });
    }

    /// Returns whether the call returned.
    UNCOUNTED bool adResult() {
        std::int16_t* const buffer = m_buffer.data() + kGuard;
        m_host->setCallerBuffer(buffer);
        m_before = m_buffer;
        const bool goneBefore = m_model.gone;
        if (!goneBefore && !m_model.blocksWait() && !m_host->blocksUnread()) {
            // Nothing read ahead: the call asks the host, after handing it
            // slots if it has none of this size.
            m_model.expectMap = !m_model.mapped;
            m_model.expectBlocks = true;
        }
        const auto [threw, result] =
            run(Call::ADResult, std::string(), [&] { return m_driver->ADResult(buffer); });
        if (threw)
            return false;
        if (goneBefore || m_model.gone) {
            if (m_buffer != m_before)
                fail("ADResult wrote the caller's buffer once the host was lost");
            return true;
        }
        if (!m_model.blocksWait())
            fail("ADResult returned a block no reply gave");
        const AcceptedBlock block = m_model.accepted[m_model.handedOut++];
        if (result != block.result)
            fail("ADResult returned " + std::to_string(result) + " where the reply says " +
                 std::to_string(block.result));
        checkBlock(block);
        return true;
    }

    // The caller's buffer after the call: the elements the host says the
    // call changed (where the slot differs from the one before), everything
    // else as the caller had it; for a well-formed answer also exactly what
    // the model card wrote, as a call of the library on the caller's own
    // buffer leaves it. Outside the stretch either touches, the buffer is
    // compared whole at once.
    ELEMENT_LOOP void checkBlock(const AcceptedBlock& block) {
        const std::size_t elements = m_model.elements;
        if (m_driver->sharedBlocks() == nullptr)
            fail("ADResult handed out a block without slots to take it from");
        const std::int16_t* base = m_driver->sharedBlocks()->data();
        const std::int16_t* was = base + (block.slot - 1) * elements;
        const std::int16_t* now = base + block.slot * elements;
        const std::int16_t* buffer = m_buffer.data() + kGuard;
        const std::int16_t* before = m_before.data() + kGuard;
        const LibraryBlock* card =
            block.library && !m_model.callerWrote ? &*block.library : nullptr;
        std::size_t lo = elements;
        std::size_t hi = 0;
        if (block.first < block.end) {
            lo = block.first;
            hi = block.end;
        }
        if (card != nullptr && card->first < card->end) {
            lo = std::min<std::size_t>(lo, card->first);
            hi = std::max<std::size_t>(hi, card->end);
        }
        if (lo > hi)
            lo = hi = 0;
        if (std::memcmp(buffer, before, lo * 2) != 0 ||
            std::memcmp(buffer + hi, before + hi, (elements - hi) * 2) != 0) {
            std::size_t at = 0;
            while (buffer[at] == before[at])
                ++at;
            wrongElement(at, before[at], "the call did not change it");
        }
        for (std::size_t i = lo; i < hi; ++i) {
            const bool byHost = i >= block.first && i < block.end && now[i] != was[i];
            if (buffer[i] != (byHost ? now[i] : before[i]))
                wrongElement(i, byHost ? now[i] : before[i], "the host says the call made it");
            if (card == nullptr)
                continue;
            const bool byCard = i >= card->first && i < card->end;
            const std::int16_t written =
                byCard ? blockValue(card->values, static_cast<std::uint32_t>(i)) : before[i];
            if (buffer[i] != written)
                wrongElement(i, written, "the model card's call made it");
        }
    }

    [[noreturn]] void wrongElement(std::size_t at, std::int16_t wanted, const char* why) {
        fail("ADResult left element " + std::to_string(at) + " of " +
             std::to_string(m_model.elements) + " as " + std::to_string(m_buffer[kGuard + at]) +
             " where " + why + " " + std::to_string(wanted));
    }

    UNCOUNTED void drain(bool withCall, std::uint8_t choice) {
        // The drain's own pattern: one count, then one ADResult per block.
        const std::int32_t count = [&] {
            const auto [threw, result] =
                run(Call::QueryBuf, op(proto::kQueryBuf), [this] { return m_driver->QueryBuf(); });
            checkValue(threw, result);
            return threw ? 0 : result;
        }();
        const auto n = std::min<std::int32_t>(
            static_cast<std::int16_t>(static_cast<std::uint32_t>(count) & 0xFFFFU),
            kMaxDrainBlocks);
        for (std::int32_t b = 1; b <= n; ++b) {
            if (!adResult())
                return;
            if (b == 1 && withCall)
                otherCall(choice);
        }
    }

    // Another call while blocks are on their way.
    UNCOUNTED void otherCall(std::uint8_t choice) {
        switch (choice % kOtherCalls) {
        case kOtherGetLastADError:
            plainCall(Call::GetLastADError, proto::kGetLastADError,
                      [this] { return m_driver->GetLastADError(); });
            break;
        case kOtherQueryBuf:
            queryBuf();
            break;
        case kOtherStopIntr:
            plainCall(Call::StopIntr, proto::kStopIntr, [this] { return m_driver->StopIntr(); });
            break;
        case kOtherInitial:
            initial({0, 0, 0, 0});
            break;
        case kOtherConfigInfo:
            configInfo(choice);
            break;
        default: {
            const Shape shape = kShapes[m_in.take<std::uint8_t>() % kBigShapeIndex];
            startIntr(50, shape.points, 0, shape.channels, 100000, 0, 1);
            break;
        }
        }
    }

    UNCOUNTED void hostEnds() {
        if (!m_host->started() || m_model.gone)
            return;
        m_host->endOnItsOwn();
        if (m_lostCalls != 1 || m_lostMessage != m_host->endedText().toStdString())
            fail("a host that ended while idle was reported " + std::to_string(m_lostCalls) +
                 " times, as \"" + m_lostMessage + "\"");
        m_lostCalls = 0;
        m_model.gone = true;
    }

    ELEMENT_LOOP void refill(std::uint8_t seed) {
        m_elements = m_model.elements;
        m_buffer.resize(m_elements + 2 * kGuard);
        std::int16_t* b = m_buffer.data();
        for (std::size_t i = 0; i < m_buffer.size(); ++i)
            b[i] = blockValue(seed * 0x01000193U, static_cast<std::uint32_t>(i));
        for (std::size_t i = 0; i < kGuard; ++i) {
            b[i] = guardValue(i);
            b[kGuard + m_elements + i] = guardValue(kGuard + i);
        }
        m_model.callerWrote = true;
    }

    UNCOUNTED void checkGuards() const {
        for (std::size_t i = 0; i < kGuard; ++i) {
            if (m_buffer[i] != guardValue(i))
                fail("element " + std::to_string(static_cast<long long>(i) - kGuard) +
                     " before the caller's buffer was written");
            if (m_buffer[kGuard + m_elements + i] != guardValue(kGuard + i))
                fail("element " + std::to_string(m_elements + i) +
                     " past the caller's buffer was written");
        }
    }

    const std::uint8_t* m_data; // the whole input
    std::size_t m_size;
    FuzzInput& m_in;
    Model m_model;
    ScriptedHost* m_host = nullptr;
    std::unique_ptr<HostDriver> m_driver;
    std::size_t m_elements = 0; // the caller's buffer's own size
    // Kept from input to input, so they keep their memory.
    static inline std::vector<std::int16_t> m_buffer; // guards, the caller's elements, guards
    static inline std::vector<std::int16_t> m_before;
    int m_failures = 0; // FatalErrors thrown
    int m_starts = 0;   // StartIntr calls made
    int m_lostCalls = 0;
    std::string m_lostMessage;
};

} // namespace

// AddressSanitizer's fake stack for use-after-return checks
// (detect_stack_use_after_return, tests/sanitizers/options.sh) is sized from
// the thread's stack, here the largest it allows, and swept whole after
// every throw. HostDriver reports each failure by throwing, on nearly every
// input, so the sweep took more time than the rest of the input. The
// smallest fake stack still holds many times the frames these calls nest.
extern "C" const char* __asan_default_options() {
    return "max_uar_stack_size_log=16";
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput in(data, size);
    Program program(data, size, in, in.take<std::uint8_t>());
    for (int s = 0; s < kMaxSteps && in.remaining() > 0 && !program.done(); ++s)
        program.step(in.take<std::uint8_t>());
    program.finish();
    return 0;
}
