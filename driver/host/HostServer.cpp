#include "HostServer.h"

#include "BlockMapping.h"
#include "CardLibrary.h"
#include "HostProtocol.h"
#include "driver/ToviraApi.h"
#include "driver/sim/SimToolsApi.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

using namespace hostproto;

namespace {

// Read by the crash report, which may run on another thread (Windows) or in
// a signal handler (elsewhere).
std::atomic<const char*> g_call{""};

// Block replies go out after the first block of a request and then every
// 32: few enough writes (and wake-ups of the program) that their cost, which
// Wine makes a trip to its server each, stays small at 100 blocks a tick,
// and soon enough that the program uses the first blocks while the next are
// made.
constexpr std::uint32_t kFlushBlocks = 32;

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
        case kMapBlocks:
            return mapBlocks();
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
            // A started card delivers blocks of the new shape; the program maps
            // slots of that size before it asks for one.
            const std::uint32_t elements =
                std::max(blockElements(a[1], static_cast<std::int16_t>(a[3])), kMinBufferElements);
            if (elements != m_elements)
                m_mapping.reset();
            m_elements = elements;
        }
        okI32(result);
        return true;
    }

    bool mapBlocks() {
        char head[12];
        if (!m_channel.read(head, sizeof head))
            return false;
        const std::uint32_t slots = getU32(head);
        const std::uint32_t elements = getU32(head + 4);
        BlockMapping::Reference reference;
        reference.kind = getU32(head + 8);
        if (reference.kind == kMapHandle) {
            char handle[8];
            if (!m_channel.read(handle, sizeof handle))
                return false;
            reference.handle = getU64(handle);
        } else if (reference.kind == kMapPath) {
            char size[4];
            if (!m_channel.read(size, sizeof size) || getU32(size) > kMaxMapPath)
                return false;
            reference.path.resize(getU32(size));
            if (!m_channel.read(reference.path.data(), reference.path.size()))
                return false;
        } else {
            return false;
        }
        // Slots of another size than the card's blocks, or more than the
        // budget allows, are not the program talking.
        if (elements != m_elements || slots != blockSlots(elements))
            return false;
        m_mapping.reset();
        std::string reason;
        m_mapping = BlockMapping::open(
            reference, static_cast<std::size_t>(mappingBytes(slots, elements)), reason);
        m_slots = m_mapping ? slots : 0;
        putU32(m_out, kOk);
        putU32(m_out, static_cast<std::uint32_t>(std::min<std::size_t>(reason.size(), kMaxText)));
        m_out.append(reason, 0, kMaxText);
        return true;
    }

    std::int16_t* slot(std::uint32_t index) const {
        return m_mapping->data() + std::size_t{index} * m_elements;
    }

    bool adResult() {
        char head[4];
        if (!m_channel.read(head, sizeof head))
            return false;
        const std::uint32_t calls = getU32(head);
        if (!m_mapping || calls == 0 || calls >= m_slots)
            return false;
        auto fn = bound(m_fn.adResult, kADResultExport);
        for (std::uint32_t k = 1; k <= calls; ++k) {
            // The library finds the buffer as the call before left it, and
            // writes straight into the shared slot.
            std::memcpy(slot(k), slot(k - 1), std::size_t{m_elements} * 2);
            const std::int32_t result = inCall(kADResultExport.plain, [&] { return fn(slot(k)); });
            // The span of what this call changed; the program keeps the rest.
            const Span changed = changedSpan(slot(k - 1), slot(k), m_elements);
            putU32(m_out, kOk);
            putI32(m_out, result);
            putU32(m_out, k);
            putU32(m_out, static_cast<std::uint32_t>(changed.first));
            putU32(m_out, static_cast<std::uint32_t>(changed.end));
            if ((k == 1 || k % kFlushBlocks == 0) && !flush())
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
    // The block buffer's size since the last start, and the slots of that
    // size the program shares with the host (none before it sent them).
    std::uint32_t m_elements = kMinBufferElements;
    std::unique_ptr<BlockMapping> m_mapping;
    std::uint32_t m_slots = 0;
    ToviraFunctions m_fn;
};

} // namespace

int serveCalls(HostChannel& channel, CardLibrary& library) {
    return Server(channel, library).run();
}

const char* callInProgress() {
    return g_call.load();
}
