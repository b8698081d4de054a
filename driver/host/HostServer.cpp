#include "HostServer.h"

#include "CardLibrary.h"
#include "HostProtocol.h"
#include "driver/ToviraApi.h"
#include "driver/sim/SimToolsApi.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

using namespace hostproto;

namespace {

// Read by the crash report, which may run on another thread (Windows) or in
// a signal handler (elsewhere).
std::atomic<const char*> g_call{""};

// Replies collect here and go out about eight blocks at a time (a 17-channel,
// 500-scan block is about 17 KB): few enough writes that their cost, which
// Wine makes a trip to its server each, stays small at 100 blocks a tick,
// and soon enough that the program uses the first blocks while the next are
// made.
constexpr std::size_t kFlushBytes = 128 * 1024;

class Server {
public:
    Server(HostChannel& channel, CardLibrary& library) : m_channel(channel), m_library(library) {}

    int run() {
        char head[4];
        while (true) {
            if (!m_channel.read(head, 4))
                return 0; // the program closed the stream: a clean end
            if (!serve(getU32(head)) || !flush())
                return 1;
        }
    }

private:
    // Each function is looked up at its first call, as the program's own
    // binding does (bind, ToviraApi.h); a missing one is answered, not fatal
    // to the host.
    template <typename Fn> Fn bound(Fn& slot, const ToviraExportName& function) {
        return bind(slot, function, [this](const char* name) { return m_library.function(name); });
    }

    // Runs one library call, marked for the crash report.
    template <typename F> auto inCall(const char* name, F&& call) {
        g_call = name;
        const auto result = call();
        g_call = "";
        return result;
    }

    bool readI32s(std::int32_t* values, int count) {
        char bytes[7 * 4];
        if (!m_channel.read(bytes, static_cast<std::size_t>(count) * 4))
            return false;
        for (int i = 0; i < count; ++i)
            values[i] = getI32(bytes + 4 * i);
        return true;
    }

    void okI32(std::int32_t value) {
        putU32(m_out, kOk);
        putI32(m_out, value);
    }

    bool serve(std::uint32_t op) {
        try {
            return dispatch(op);
        } catch (const LibraryFault& fault) {
            g_call = "";
            m_out += textReply(kFailed, fault.function, fault.reason);
            return true;
        }
    }

    bool dispatch(std::uint32_t op) {
        switch (op) {
        case kConfigInfo:
            return configInfo();
        case kStopIntr: {
            auto fn = bound(m_fn.stopIntr, kStopIntrExport);
            okI32(inCall(kStopIntrExport.plain, [&] { return fn(); }));
            return true;
        }
        case kInitial: {
            std::int32_t a[4];
            if (!readI32s(a, 4))
                return false;
            auto fn = bound(m_fn.initial, kInitialExport);
            okI32(inCall(kInitialExport.plain, [&] { return fn(a[0], a[1], a[2], a[3]); }));
            return true;
        }
        case kStartIntr:
            return startIntr();
        case kGetLastADError: {
            auto fn = bound(m_fn.getLastADError, kGetLastADErrorExport);
            okI32(inCall(kGetLastADErrorExport.plain, [&] { return fn(); }));
            return true;
        }
        case kQueryBuf: {
            auto fn = bound(m_fn.queryBuf, kQueryBufExport);
            okI32(inCall(kQueryBufExport.plain, [&] { return fn(); }));
            return true;
        }
        case kADResult:
            return adResult();
        case kSimDroppedBlocks: {
            auto fn =
                reinterpret_cast<SimDroppedBlocksFn>(m_library.function(kSimDroppedBlocksExport));
            const auto dropped = static_cast<std::uint64_t>(inCall(kSimDroppedBlocksExport, fn));
            putU32(m_out, kOk);
            putU32(m_out, static_cast<std::uint32_t>(dropped));
            putU32(m_out, static_cast<std::uint32_t>(dropped >> 32));
            return true;
        }
        default:
            return false;
        }
    }

    bool configInfo() {
        char in[kConfigBytes];
        if (!m_channel.read(in, sizeof in))
            return false;
        std::array<std::uint8_t, kCardNameBytes> name{};
        std::memcpy(name.data(), in, kCardNameBytes);
        const char* p = in + kCardNameBytes;
        std::int32_t v[4] = {getI32(p), getI32(p + 4), getI32(p + 8), getI32(p + 12)};
        float zero = getF32(p + 16);
        float span = getF32(p + 20);
        std::int32_t extra = getI32(p + 24);
        auto fn = bound(m_fn.configInfo, kConfigInfoExport);
        const std::int32_t result = inCall(kConfigInfoExport.plain, [&] {
            return fn(name.data(), &v[0], &v[1], &v[2], &v[3], &zero, &span, &extra);
        });
        okI32(result);
        m_out.append(reinterpret_cast<const char*>(name.data()), name.size());
        for (const std::int32_t x : v)
            putI32(m_out, x);
        putF32(m_out, zero);
        putF32(m_out, span);
        putI32(m_out, extra);
        return true;
    }

    bool startIntr() {
        std::int32_t a[7];
        if (!readI32s(a, 7))
            return false;
        auto fn = bound(m_fn.startIntr, kStartIntrExport);
        const std::int32_t result = inCall(kStartIntrExport.plain, [&] {
            return fn(static_cast<std::int16_t>(a[0]), a[1], static_cast<std::int16_t>(a[2]),
                      static_cast<std::int16_t>(a[3]), a[4], a[5], static_cast<std::int16_t>(a[6]));
        });
        if (result != 0) {
            // A started card delivers blocks of the new shape; the program
            // clears its copy of this buffer the same way.
            const std::uint32_t elements =
                std::max(blockElements(a[1], static_cast<std::int16_t>(a[3])), kMinBufferElements);
            m_buffer.assign(elements, 0);
        }
        okI32(result);
        return true;
    }

    bool adResult() {
        char head[12];
        if (!m_channel.read(head, sizeof head))
            return false;
        const std::uint32_t calls = getU32(head);
        const std::uint32_t first = getU32(head + 4);
        const std::uint32_t end = getU32(head + 8);
        if (calls == 0 || calls > 65536 || first > end || end > m_buffer.size())
            return false;
        if (!m_channel.read(reinterpret_cast<char*>(m_buffer.data() + first),
                            std::size_t{end - first} * 2))
            return false;
        auto fn = bound(m_fn.adResult, kADResultExport);
        for (std::uint32_t i = 0; i < calls; ++i) {
            m_before = m_buffer;
            const std::int32_t result =
                inCall(kADResultExport.plain, [&] { return fn(m_buffer.data()); });
            // The span of what this call changed; the program keeps the rest.
            const Span changed = changedSpan(m_before.data(), m_buffer.data(), m_buffer.size());
            putU32(m_out, kOk);
            putI32(m_out, result);
            putU32(m_out, static_cast<std::uint32_t>(changed.first));
            putU32(m_out, static_cast<std::uint32_t>(changed.end));
            putI16s(m_out, m_buffer.data() + changed.first, changed.end - changed.first);
            if (m_out.size() >= kFlushBytes && !flush())
                return false;
        }
        return true;
    }

    bool flush() {
        const bool ok = m_out.empty() || m_channel.write(m_out.data(), m_out.size());
        m_out.clear();
        return ok;
    }

    HostChannel& m_channel;
    CardLibrary& m_library;
    std::string m_out;
    std::vector<std::int16_t> m_buffer = std::vector<std::int16_t>(kMinBufferElements, 0);
    std::vector<std::int16_t> m_before;
    ToviraFunctions m_fn;
};

} // namespace

int serveCalls(HostChannel& channel, CardLibrary& library) {
    return Server(channel, library).run();
}

const char* callInProgress() {
    return g_call.load();
}
