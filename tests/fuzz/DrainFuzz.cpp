// The drain fed by an adversarial card. The input chooses the decimation, the
// block size, where the write pointer and the counter stand, and then tick by
// tick what QueryBuf answers (0, negative, large, beyond 16 bits) and for each
// ADResult call whether a block arrives and what it holds, element 0 and the
// last element included. After every tick DataPtr, SampDivCnt, the returned
// count and the number of ADResult calls (one per counted block) must match a
// plain model of the decimation; at the end the ring must hold what the model
// wrote, and row 17, the spare column 32000 and every point the model did not
// write must keep their sentinels.

#include "AcqState.h"
#include "Drain.h"
#include "FuzzInput.h"
#include "IdleCard.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr std::int32_t kChannels = 17;
constexpr int kMaxTicks = 4;
// Scans per tick that the block size is cut to fit: a large count gets smaller
// blocks, down to one scan, so every input stays quick. The write pointer's
// wrap is reached by starting it anywhere in the ring.
constexpr std::int64_t kMaxScansPerTick = 1024;

// A value no drained code can have (codes are 0..65535).
std::int32_t sentinel(std::int32_t ch, std::int32_t p) {
    return -1 - (p * kRingRows + ch);
}

[[noreturn]] void fail(const char* what, long long expected, long long actual) {
    std::fprintf(stderr, "drain: %s: expected %lld got %lld\n", what, expected, actual);
    std::abort();
}

// Small generator for block contents beyond what the input spells out.
struct Mixer {
    std::uint64_t s;
    std::int16_t next() {
        s ^= s << 13;
        s ^= s >> 7;
        s ^= s << 17;
        return static_cast<std::int16_t>(s >> 11);
    }
};

class AdversarialCard final : public IdleCard {
public:
    AdversarialCard(FuzzInput& in, std::size_t bufferElements)
        : m_in(in), m_bufferElements(bufferElements) {}

    std::int32_t answer = 0;
    int adResultCalls = 0;
    /// The samples as the drain will find them in the buffer: what the last
    /// delivered block wrote, or the start's zeros.
    std::vector<std::int16_t> model;
    /// The model's samples after each ADResult call, one block after another.
    std::vector<std::int16_t>* log = nullptr;

    std::int32_t QueryBuf() override { return answer; }

    std::int32_t ADResult(std::int16_t* buffer) override {
        ++adResultCalls;
        const std::uint8_t how = m_in.take<std::uint8_t>();
        switch (how % 4) {
        case 0: // nothing delivered: the buffer keeps what it had
            log->insert(log->end(), model.begin(), model.end());
            return how & 4 ? 1 : 0; // a card may even claim success
        case 1: {
            // Spelled out by the input as far as it goes, zeros after.
            for (std::size_t i = 0; i < m_bufferElements; ++i)
                buffer[i] = m_in.take<std::int16_t>();
            break;
        }
        default: {
            Mixer mix{m_in.take<std::uint64_t>() | 1};
            for (std::size_t i = 0; i < m_bufferElements; ++i)
                buffer[i] = mix.next();
            break;
        }
        }
        std::copy(buffer + 1, buffer + m_bufferElements - 1, model.begin());
        log->insert(log->end(), model.begin(), model.end());
        return 1;
    }

private:
    FuzzInput& m_in;
    std::size_t m_bufferElements;
};

// The count answers worth trying most, and any 32-bit value.
std::int32_t countAnswer(FuzzInput& in) {
    const std::uint8_t kind = in.take<std::uint8_t>();
    switch (kind % 8) {
    case 0:
        return 0;
    case 1:
    case 2:
        return 1 + kind / 8 % 4;
    case 3:
        return -static_cast<std::int32_t>(1 + in.below(32768));
    case 4:
        return 32767;
    case 5:
        return -32768;
    case 6: // beyond 16 bits: only the low 16 count
        return static_cast<std::int32_t>(in.take<std::uint16_t>()) + 65536 * (1 + kind / 8);
    default:
        return in.take<std::int32_t>();
    }
}

// The count as the card's 16-bit result, without bit tricks.
std::int32_t sixteenBitCount(std::int32_t answer) {
    std::int64_t low = static_cast<std::int64_t>(answer) % 65536;
    if (low < 0)
        low += 65536;
    return static_cast<std::int32_t>(low >= 32768 ? low - 65536 : low);
}

struct Fixture {
    AcqState state;
    // What the model expects in rows 0..16 of each ring point.
    std::vector<std::array<std::int32_t, kChannels>> expected;
    std::vector<bool> written;

    Fixture() : expected(kRingPoints), written(kRingPoints, false) {
        for (std::int32_t p = 0; p <= kRingPoints; ++p)
            for (std::int32_t ch = 0; ch < kRingRows; ++ch)
                state.AdData(ch, p) = sentinel(ch, p);
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Fixture f;
    AcqState& s = f.state;
    FuzzInput in(data, size);

    // The state a successful start leaves, with the counter and the pointer
    // anywhere they can be between ticks.
    s.ChnCount = kChannels;
    s.SampDiv = static_cast<std::int16_t>(1 + in.below(10000));
    const bool programBlocks = in.take<std::uint8_t>() % 2 == 0;
    const std::int32_t chosenPoints =
        programBlocks ? (s.SampDiv == 1 ? 500 : 100) : static_cast<std::int32_t>(1 + in.below(600));
    s.SampDivCnt = static_cast<std::int16_t>(in.below(static_cast<std::uint32_t>(s.SampDiv)));
    s.DataPtr = static_cast<std::int32_t>(in.below(kRingPoints));

    std::int32_t ptr = s.DataPtr;
    std::int32_t cnt = s.SampDivCnt;
    std::vector<std::int32_t> touched;

    for (int tick = 0; tick < kMaxTicks && in.remaining() > 0; ++tick) {
        const std::int32_t answer = countAnswer(in);
        const std::int32_t n = sixteenBitCount(answer);
        // Large counts get smaller blocks so each input stays quick.
        s.PointsPerBuf = static_cast<std::int32_t>(
            std::clamp<std::int64_t>(kMaxScansPerTick / std::max(n, 1), 1, chosenPoints));
        const std::size_t elements = static_cast<std::size_t>(kChannels) * s.PointsPerBuf + 2;
        // Exactly as large as a start makes it, so a read past it is caught.
        s.AdBuf.assign(elements, 0);
        s.AdBuf.shrink_to_fit();

        AdversarialCard card(in, elements);
        card.answer = answer;
        card.model.assign(elements - 2, 0);

        static std::vector<std::int16_t> log;
        log.clear();
        card.log = &log;

        const std::int16_t returned = drainReadyBlocks(card, s);
        if (returned != n)
            fail("returned count", n, returned);
        if (card.adResultCalls != std::max(n, 0))
            fail("ADResult calls", std::max(n, 0), card.adResultCalls);

        // The model's drain over the blocks as they arrived: every scan moves
        // the counter, every SampDiv-th is kept at the pointer.
        const std::size_t scans = log.size() / kChannels;
        for (std::size_t j = 0; j < scans; ++j) {
            if (++cnt != s.SampDiv)
                continue;
            cnt = 0;
            for (std::int32_t ch = 0; ch < kChannels; ++ch)
                f.expected[static_cast<std::size_t>(ptr)][static_cast<std::size_t>(ch)] =
                    static_cast<std::uint16_t>(log[j * kChannels + static_cast<std::size_t>(ch)]);
            if (!f.written[static_cast<std::size_t>(ptr)]) {
                f.written[static_cast<std::size_t>(ptr)] = true;
                touched.push_back(ptr);
            }
            ptr = ptr + 1 == kRingPoints ? 0 : ptr + 1;
        }
        if (s.DataPtr != ptr)
            fail("DataPtr", ptr, s.DataPtr);
        if (s.SampDivCnt != cnt)
            fail("SampDivCnt", cnt, s.SampDivCnt);
        if (s.SampDivCnt < 0 || s.SampDivCnt >= s.SampDiv)
            fail("SampDivCnt out of 0..SampDiv-1", s.SampDiv - 1, s.SampDivCnt);
    }

    // Rows 0..16 of the points the model wrote hold what it wrote there; every
    // other element, row 17 and the spare column 32000 included, keeps its
    // sentinel. Most inputs check the written points and the spare column;
    // one in 32, chosen by the input, checks the whole ring.
    const auto checkPoint = [&](std::int32_t p) {
        const bool wasWritten = p < kRingPoints && f.written[static_cast<std::size_t>(p)];
        for (std::int32_t ch = 0; ch < kRingRows; ++ch) {
            const std::int32_t v = s.AdData(ch, p);
            const std::int32_t want =
                wasWritten && ch < kChannels
                    ? f.expected[static_cast<std::size_t>(p)][static_cast<std::size_t>(ch)]
                    : sentinel(ch, p);
            if (v != want)
                fail(wasWritten ? "ring element" : "element outside the written points", want, v);
        }
    };
    if (size > 0 && data[0] % 32 == 0) {
        for (std::int32_t p = 0; p <= kRingPoints; ++p)
            checkPoint(p);
    } else {
        for (const std::int32_t p : touched)
            checkPoint(p);
        checkPoint(kRingPoints);
        // The points on either side of what was written.
        checkPoint(ptr);
        if (!touched.empty())
            checkPoint(touched.front() == 0 ? kRingPoints - 1 : touched.front() - 1);
    }

    // Put the sentinels back for the next input.
    for (const std::int32_t p : touched) {
        f.written[static_cast<std::size_t>(p)] = false;
        for (std::int32_t ch = 0; ch < kRingRows; ++ch)
            s.AdData(ch, p) = sentinel(ch, p);
    }
    return 0;
}
