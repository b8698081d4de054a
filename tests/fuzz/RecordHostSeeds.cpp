// Records the seeds of fuzz_host_replies and fuzz_host_requests from real
// runs: the program's HostDriver talking to the real card host (tovira-host)
// on the real simulated card, or on the ConfigInfo-only library, through a
// HostLink that passes everything on to the real HostProcess and keeps a copy
// of both directions. Each run is a scenario of the program's calls, made
// exactly as fuzz_host_replies makes them from its steps (HostReplySteps.h),
// and written three ways:
//   fuzz_host_replies/<name>.recorded  the steps, each request answered by
//                                      the input's bytes: the host's real replies,
//                                      in the order HostDriver read them;
//   fuzz_host_replies/<name>.built     the same steps, each request answered by
//                                      the target's own well-formed answer,
//                                      carrying the real reply's results and counts;
//   fuzz_host_requests/<name>          the requests as the host read them, after
//                                      the header byte (1: no library at all).
// Not a test: run by hand when the protocol changes, and commit what it writes.
//   record_host_seeds <corpus folder> [tovira-host] [simulated card] [ConfigInfo-only card]

#include "HostReplySteps.h"
#include "base/FatalError.h"
#include "driver/HostDriver.h"
#include "driver/HostLink.h"
#include "driver/HostProcess.h"
#include "driver/host/HostProtocol.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <array>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace replysteps;
using namespace std::chrono_literals;
namespace proto = hostproto;

namespace {

/// The seeds of one run, as they grow.
struct Seeds {
    std::string recorded;
    // The built variant is written in pieces: an answer's values are known
    // only once its reply has been read, after later pieces may have begun.
    std::vector<std::string> built;
    std::string requests;

    void step(const std::string& bytes) {
        recorded += bytes;
        built.push_back(bytes);
    }
};

void put8(std::string& out, std::uint8_t v) {
    out += static_cast<char>(v);
}
void put16(std::string& out, std::int16_t v) {
    proto::putU32(out, static_cast<std::uint16_t>(v));
    out.resize(out.size() - 2);
}

/// The real host, with a copy of what goes each way. It also reads each
/// reply as the program does, to give the built variant the same results.
class TeeLink final : public HostLink {
public:
    TeeLink(std::unique_ptr<HostLink> host, Seeds& seeds)
        : m_host(std::move(host)), m_seeds(seeds) {}

    bool start(Clock::time_point deadline) override { return m_host->start(deadline); }
    bool running() const override { return m_host->running(); }
    qint64 processId() const override { return m_host->processId(); }

    Wait write(const char* data, qint64 bytes, Clock::time_point deadline) override {
        const Wait wait = m_host->write(data, bytes, deadline);
        m_seeds.requests.append(data, static_cast<std::size_t>(bytes));
        m_op = proto::getU32(data);
        m_calls = m_op == proto::kADResult ? proto::getU32(data + 4) : 0;
        m_block = 0;
        m_field = Field::Status;
        m_replyBytes = 0;
        m_answerAt = m_seeds.recorded.size();
        put8(m_seeds.recorded, kRaw);
        m_builtAnswer = m_seeds.built.size();
        m_seeds.built.push_back(builtAnswer());
        if (wait != Wait::Done)
            hostGone(wait);
        return wait;
    }

    Wait read(char* data, qint64 bytes, Clock::time_point deadline) override {
        const Wait wait = m_host->read(data, bytes, deadline);
        if (wait != Wait::Done) {
            if (m_replyBytes != 0) {
                // Cut in the middle of a reply: a replay's input ends there.
                ended = true;
                return wait;
            }
            hostGone(wait);
            return wait;
        }
        m_seeds.recorded.append(data, static_cast<std::size_t>(bytes));
        m_replyBytes += static_cast<std::size_t>(bytes);
        follow(std::string_view(data, static_cast<std::size_t>(bytes)));
        return wait;
    }

    void kill() override { m_host->kill(); }
    void awaitEnd() override { m_host->awaitEnd(); }
    void setFinishedHandler(std::function<void()> handler) override {
        m_host->setFinishedHandler(std::move(handler));
    }
    const QString& path() const override { return m_host->path(); }
    QString startFailureText() const override { return m_host->startFailureText(); }
    QString endedText() const override { return m_host->endedText(); }
    QString notRunText(const QByteArray& output) override { return m_host->notRunText(output); }

    /// The host's reply ended part way: nothing more can be replayed.
    bool ended = false;

private:
    enum class Field { Status, Length, Text, Payload, Done };

    // The built answer for the request just written, with a result of 0 until
    // its reply gives one.
    std::string builtAnswer() const {
        std::string a;
        put8(a, kBuilt);
        switch (m_op) {
        case proto::kConfigInfo:
            proto::putI32(a, 0);
            put8(a, 0xFF); // the model card writes every variable
            put8(a, 0);
            break;
        case proto::kQueryBuf:
            put8(a, kAnyCount); // the count as it is
            proto::putI32(a, 0);
            break;
        case proto::kMapBlocks:
        case proto::kADResult:
            put8(a, 0);
            break;
        default:
            proto::putI32(a, 0);
            break;
        }
        return a;
    }

    // The host answered the request with silence or its end.
    void hostGone(Wait wait) {
        const std::uint8_t answer =
            kSilentOrEnded | static_cast<std::uint8_t>(wait == Wait::Silent ? 1 << 3 : 0);
        m_seeds.recorded[m_answerAt] = static_cast<char>(answer);
        m_seeds.built[m_builtAnswer] = std::string(1, static_cast<char>(answer));
    }

    void follow(std::string_view got) {
        std::string& built = m_seeds.built[m_builtAnswer];
        switch (m_field) {
        case Field::Status:
            m_status = proto::getU32(got.data());
            m_field = m_status == proto::kOk ? Field::Payload : Field::Length;
            if (m_op == proto::kMapBlocks && m_status == proto::kOk)
                m_field = Field::Length;
            return;
        case Field::Length:
            m_field = Field::Text;
            return;
        case Field::Text:
            m_field = Field::Done;
            if (m_status == proto::kOk)
                return; // the mapping's text: empty, it is a map answer as built
            failure(got);
            return;
        case Field::Payload:
            if (m_op == proto::kADResult) {
                // A block; the next one's status follows, if any.
                m_field = ++m_block < m_calls ? Field::Status : Field::Done;
                return;
            }
            m_field = Field::Done;
            if (m_op == proto::kQueryBuf)
                built.replace(2, 4, got.substr(0, 4));
            else
                built.replace(1, 4, got.substr(0, 4));
            return;
        case Field::Done:
            return;
        }
    }

    // A failure or a crash: the built answer says the same of the same call.
    void failure(std::string_view text) {
        const bool noFunction = text.empty() || text[0] == '\n';
        std::uint8_t answer = 0;
        if (m_status == proto::kFailed) {
            // The target's reason 1 is the loader's, 0 a missing symbol's.
            const std::uint8_t reason = noFunction ? 1 : 0;
            answer =
                kFailed | static_cast<std::uint8_t>(((reason << 1) | (noFunction ? 1 : 0)) << 3);
        } else {
            // Blocks before the crash: the choice modulo the calls asked for.
            std::uint8_t choice = 0;
            for (std::uint8_t c = 0; c < 32; ++c) {
                if (m_calls == 0 || c % m_calls == m_block) {
                    choice = c;
                    if (c & 1)
                        break;
                }
            }
            answer = kCrashed | static_cast<std::uint8_t>(choice << 3);
        }
        std::string& built = m_seeds.built[m_builtAnswer];
        // An ADResult's blocks before the failure are the built ones too.
        built = std::string(1, static_cast<char>(answer));
    }

    std::unique_ptr<HostLink> m_host;
    Seeds& m_seeds;
    std::uint32_t m_op = 0;
    std::uint32_t m_calls = 0;
    std::uint32_t m_block = 0;
    std::uint32_t m_status = 0;
    Field m_field = Field::Done;
    std::size_t m_replyBytes = 0;
    std::size_t m_answerAt = 0;
    std::size_t m_builtAnswer = 0;
};

/// One recorded run: the program's calls, each written as the step that
/// makes it in a replay.
class Run {
public:
    Run(const QString& host, const QString& library, std::uint8_t requestsHeader)
        : m_library(library) {
        m_seeds.recorded += '\0';
        m_seeds.built.emplace_back(1, '\0');
        m_seeds.requests += static_cast<char>(requestsHeader);
        auto process = std::make_unique<HostProcess>(host, QStringList{}, QStringList{library});
        auto tee = std::make_unique<TeeLink>(std::move(process), m_seeds);
        m_tee = tee.get();
        m_driver =
            std::make_unique<HostDriver>(std::move(tee), library, HostDriver::Timeouts{10s, 10s});
        m_driver->setHostLostHandler([this](const QString&) { m_lost = true; });
    }

    bool over() const { return m_tee->ended; }

    void configInfo() {
        std::string s;
        put8(s, kConfigInfo);
        put8(s, 0);
        m_seeds.step(s);
        std::array<std::uint8_t, kCardNameBytes> name{};
        std::int32_t v[4] = {};
        float zero = 0.0F;
        float span = 0.0F;
        std::int32_t extra = 0;
        guarded([&] {
            m_driver->ConfigInfo(name.data(), &v[0], &v[1], &v[2], &v[3], &zero, &span, &extra);
        });
    }
    void stopIntr() {
        m_seeds.step(std::string(1, static_cast<char>(kStopIntr)));
        guarded([&] { m_driver->StopIntr(); });
    }
    void initial() {
        std::string s(1, static_cast<char>(kInitial));
        for (int k = 0; k < 4; ++k)
            proto::putI32(s, 0);
        m_seeds.step(s);
        guarded([&] { m_driver->Initial(0, 0, 0, 0); });
    }
    /// The program's own arguments around a shape of the steps' table.
    void startIntr(std::uint8_t shape, std::int32_t rate) {
        std::string s(1, static_cast<char>(kStartIntr | shape << 4));
        put16(s, 50);
        put16(s, 0);
        proto::putI32(s, rate);
        proto::putI32(s, 0);
        put16(s, 1);
        if (shape == kBigShapeIndex)
            put8(s, 0);
        m_seeds.step(s);
        m_shape = shape;
        m_elements = static_cast<std::size_t>(std::max<std::int64_t>(
            std::int64_t{kShapes[shape].points} * kShapes[shape].channels + 2, 2));
        guarded([&] {
            m_driver->StartIntr(50, kShapes[shape].points, 0, kShapes[shape].channels, rate, 0, 1);
        });
    }
    void getLastADError() {
        m_seeds.step(std::string(1, static_cast<char>(kGetLastADError)));
        guarded([&] { m_driver->GetLastADError(); });
    }
    void queryBuf() {
        m_seeds.step(std::string(1, static_cast<char>(kQueryBuf)));
        guarded([&] { m_driver->QueryBuf(); });
    }
    void adResult() {
        m_seeds.step(std::string(1, static_cast<char>(kADResult)));
        guarded([&] { m_driver->ADResult(buffer()); });
    }
    /// The drain, as the steps make it; `other` after the first block when
    /// given (an OtherCall; a StartIntr there keeps the shape, at the
    /// program's fast rate).
    void drain(int other = -1) {
        std::string s(1, static_cast<char>(other < 0 ? kDrain : kDrainWithCall | other << 4));
        m_seeds.step(s);
        std::int32_t count = 0;
        if (!guarded([&] { count = m_driver->QueryBuf(); }))
            return;
        const auto n = std::min<std::int32_t>(
            static_cast<std::int16_t>(static_cast<std::uint32_t>(count) & 0xFFFFU),
            kMaxDrainBlocks);
        for (std::int32_t b = 1; b <= n; ++b) {
            if (!guarded([&] { m_driver->ADResult(buffer()); }))
                return;
            if (b == 1 && other >= 0 && !otherCall(other))
                return;
        }
    }
    /// The host is killed while no call waits for it.
    void killHost() {
        m_seeds.step(std::string(1, static_cast<char>(kHostEnds)));
        ::kill(static_cast<pid_t>(m_driver->process().processId()), SIGKILL);
        QElapsedTimer timer;
        timer.start();
        while (!m_lost && timer.elapsed() < 5000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            std::this_thread::sleep_for(5ms);
        }
    }
    /// Killed with no step of its own: the next call finds it gone.
    void killQuietly() { ::kill(static_cast<pid_t>(m_driver->process().processId()), SIGKILL); }

    void write(const QString& folder, const QString& name) {
        m_driver.reset();
        std::string built;
        for (const std::string& piece : m_seeds.built)
            built += piece;
        save(folder + QStringLiteral("/fuzz_host_replies/") + name + QStringLiteral(".recorded"),
             m_seeds.recorded);
        save(folder + QStringLiteral("/fuzz_host_replies/") + name + QStringLiteral(".built"),
             built);
        save(folder + QStringLiteral("/fuzz_host_requests/") + name, m_seeds.requests);
    }

private:
    bool otherCall(int other) {
        switch (other) {
        case kOtherGetLastADError:
            return guarded([&] { m_driver->GetLastADError(); });
        case kOtherQueryBuf:
            return guarded([&] { m_driver->QueryBuf(); });
        case kOtherStopIntr:
            return guarded([&] { m_driver->StopIntr(); });
        case kOtherInitial:
            return guarded([&] { m_driver->Initial(0, 0, 0, 0); });
        case kOtherConfigInfo: {
            std::array<std::uint8_t, kCardNameBytes> name{};
            std::int32_t v = 0;
            float f = 0.0F;
            return guarded([&] { m_driver->ConfigInfo(name.data(), &v, &v, &v, &v, &f, &f, &v); });
        }
        default:
            m_seeds.step(std::string(1, static_cast<char>(m_shape)));
            return guarded([&] {
                m_driver->StartIntr(50, kShapes[m_shape].points, 0, kShapes[m_shape].channels,
                                    100000, 0, 1);
            });
        }
    }

    std::int16_t* buffer() {
        m_buffer.resize(m_elements);
        return m_buffer.data();
    }

    // Makes a call as the program would, going on past a FatalError.
    bool guarded(const std::function<void()>& call) {
        if (over())
            return false;
        try {
            call();
        } catch (const FatalError& e) {
            std::printf("  (%s)\n", e.what());
            return false;
        }
        return !over();
    }

    static void save(const QString& path, const std::string& bytes) {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) ||
            file.write(bytes.data(), static_cast<qint64>(bytes.size())) !=
                static_cast<qint64>(bytes.size())) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            std::exit(1);
        }
        std::printf("%s: %zu bytes\n", qPrintable(path), bytes.size());
    }

    QString m_library;
    Seeds m_seeds;
    TeeLink* m_tee = nullptr;
    std::unique_ptr<HostDriver> m_driver;
    std::vector<std::int16_t> m_buffer;
    std::size_t m_elements = proto::kMinBufferElements;
    std::uint8_t m_shape = 0;
    bool m_lost = false;
};

// Small shapes of the steps' table: 1 and 4 scans of 17 channels.
constexpr std::uint8_t kOneScan = 0;
constexpr std::uint8_t kFourScans = 3;
static_assert(kShapes[kOneScan].points == 1 && kShapes[kFourScans].points == 4);

/// A tick of the program's timer, so that blocks are waiting.
void tick() {
    std::this_thread::sleep_for(50ms);
}

/// With these faults of the simulated card's set while the run's host starts.
class Faults {
public:
    Faults(std::initializer_list<std::pair<const char*, const char*>> faults) {
        for (const auto& [name, value] : faults) {
            qputenv(name, value);
            m_names.push_back(name);
        }
    }
    ~Faults() {
        for (const char* name : m_names)
            qunsetenv(name);
    }
    Faults(const Faults&) = delete;
    Faults& operator=(const Faults&) = delete;

private:
    std::vector<const char*> m_names;
};

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(
            stderr,
            "usage: record_host_seeds <corpus folder> [host] [card] [ConfigInfo-only card]\n");
        return 2;
    }
    const QString corpus = QString::fromLocal8Bit(argv[1]);
    const QString host = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QStringLiteral(HOST_PROGRAM);
    const QString card = argc > 3 ? QString::fromLocal8Bit(argv[3]) : QStringLiteral(SIM_LIBRARY);
    const QString partial =
        argc > 4 ? QString::fromLocal8Bit(argv[4]) : QStringLiteral(PARTIAL_LIBRARY);
    QDir().mkpath(corpus + QStringLiteral("/fuzz_host_replies"));
    QDir().mkpath(corpus + QStringLiteral("/fuzz_host_requests"));
    const auto record = [&](const char* name, const QString& library,
                            const std::function<void(Run&)>& calls, std::uint8_t header = 0) {
        std::printf("%s\n", name);
        Run run(host, library, header);
        calls(run);
        run.write(corpus, QString::fromLatin1(name));
    };

    // The window's own: its load, a start at 100000 scans/s (500-scan
    // blocks), three ticks and the stop; and at 20000 scans/s (100-scan
    // blocks) with a call while blocks are on their way. The other runs use
    // blocks of a scan or four, about ten a tick as the window's have: a
    // fuzzer mutating them stays fast.
    record("program_fast", card, [](Run& r) {
        r.configInfo();
        r.stopIntr();
        r.initial();
        r.startIntr(kProgramFastShape, 100000);
        for (int t = 0; t < 3; ++t) {
            tick();
            r.drain();
        }
        r.stopIntr();
    });
    record("program_slow_call_between", card, [](Run& r) {
        r.configInfo();
        r.stopIntr();
        r.initial();
        r.startIntr(kProgramSlowShape, 20000);
        tick();
        r.drain(kOtherGetLastADError);
        tick();
        r.drain(kOtherQueryBuf);
        r.stopIntr();
        r.drain();
    });
    // A stop and a new start of another size, as a rate change makes them.
    record("restart_new_size", card, [](Run& r) {
        r.stopIntr();
        r.initial();
        r.startIntr(kOneScan, 200);
        tick();
        r.drain();
        r.stopIntr();
        r.drain();
        r.initial();
        r.startIntr(kFourScans, 800);
        tick();
        r.drain(kOtherStopIntr);
    });
    // Many small blocks: the read-ahead's limit and the next request.
    record("many_blocks", card, [](Run& r) {
        r.initial();
        r.startIntr(kOneScan, 4000);
        tick();
        r.drain(kOtherConfigInfo);
        r.adResult();
        r.drain(kOtherInitial);
        r.stopIntr();
    });
    // A start again at the same size while blocks are read ahead.
    record("restart_same_size", card, [](Run& r) {
        r.initial();
        r.startIntr(kOneScan, 200);
        tick();
        r.drain(kOtherStartIntr);
        r.stopIntr();
    });
    // ADResult before any start: the two-element buffer and its slots.
    record("before_start", card, [](Run& r) {
        r.adResult();
        r.configInfo();
        r.queryBuf();
        r.adResult();
    });
    // Calls the card refuses, and the error numbers after them.
    record("refusals", card, [](Run& r) {
        const Faults faults{{"TOVIRA_SIM_FAIL_INITIAL", "-2147483647"}};
        r.initial();
        r.getLastADError();
        r.startIntr(kOneScan, 200);
        r.getLastADError();
        r.startIntr(kOneScan, 2'000'000);
        r.getLastADError();
    });
    // A count past 16 bits, without the blocks to go with it.
    record("count_past_16_bits", card, [](Run& r) {
        const Faults faults{{"TOVIRA_SIM_QUERY_COUNT", "70000"}};
        r.initial();
        r.startIntr(kFourScans, 800);
        r.drain();
        r.queryBuf();
    });
    // The ConfigInfo-only card: the missing functions' failures.
    record("missing_functions", partial, [](Run& r) {
        r.configInfo();
        r.stopIntr();
        r.getLastADError();
        r.adResult();
        r.configInfo();
    });
    // No card library at all.
    record(
        "no_library", QStringLiteral("/nonexistent/libtovira.so"),
        [](Run& r) {
            r.configInfo();
            r.initial();
            r.adResult();
        },
        1);
    // The card crashes inside ADResult; the calls after it return at once.
    record("crash_in_adresult", card, [](Run& r) {
        const Faults faults{{"TOVIRA_SIM_CRASH", "ADResult"}};
        r.initial();
        r.startIntr(kOneScan, 200);
        tick();
        r.drain();
        r.queryBuf();
        r.adResult();
    });
    // The host ends while the program waits for nothing, then in a call.
    record("host_killed_idle", card, [](Run& r) {
        r.configInfo();
        r.initial();
        r.killHost();
        r.queryBuf();
        r.adResult();
    });
    record("host_killed_in_call", card, [](Run& r) {
        r.configInfo();
        r.initial();
        r.startIntr(kFourScans, 800);
        tick();
        r.killQuietly();
        std::this_thread::sleep_for(100ms);
        r.drain();
        r.stopIntr();
    });
    return 0;
}
