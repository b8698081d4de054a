// The drain fed by an adversarial card. The input chooses the decimation, the
// block size, where the write pointer and the counter stand, and then tick by
// tick what QueryBuf answers (0, negative, large, beyond 16 bits) and for each
// ADResult call whether a block arrives and what it holds, element 0 and the
// last element included. After every tick DataPtr, SampDivCnt, the returned
// count and the number of ADResult calls (one per counted block) must match a
// plain model of the decimation; at the end the ring must hold what the model
// wrote, and row 17, the spare column 32000 and every point the model did not
// write must keep their sentinels.

#include "FuzzInput.h"
#include "acquisition/AcqState.h"
#include "acquisition/Drain.h"
#include "tests/support/IdleCard.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr std::int32_t kChannels = 17;
constexpr int kMaxTicks = 4;
// Scans per tick that the block size is cut to fit: a large count gets smaller
// blocks, down to one scan, so every input stays quick. The write pointer's
// wrap is reached by starting it anywhere in the ring.
constexpr std::int64_t kMaxScansPerTick = 512;

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
    /// The blocks the drain saw, in order: each a copy of the model's samples
    /// and how many ADResult calls in a row left the buffer with them (a call
    /// that delivers nothing repeats the block before it).
    struct Run {
        std::size_t first; // into `samples`
        std::uint32_t blocks;
    };
    std::vector<Run>* runs = nullptr;
    std::vector<std::int16_t>* samples = nullptr;

    std::int32_t QueryBuf() override { return answer; }

    std::int32_t ADResult(std::int16_t* buffer) override {
        ++adResultCalls;
        const std::uint8_t how = m_in.take<std::uint8_t>();
        switch (how % 4) {
        case 0: // nothing delivered: the buffer keeps what it had
            logModel(false);
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
        logModel(true);
        return 1;
    }

private:
    void logModel(bool delivered) {
        if (!delivered && !runs->empty()) {
            ++runs->back().blocks;
            return;
        }
        runs->push_back({samples->size(), 1});
        samples->insert(samples->end(), model.begin(), model.end());
    }

private:
    FuzzInput& m_in;
    std::size_t m_bufferElements;
};

// A count of more blocks than the scans a tick may bring costs that many copies, so
// such counts come only when the input's kind byte asks for them outright
// (its top five bits zero): they stay reachable without setting the pace.
std::int32_t sparingly(std::int32_t answer, std::uint8_t kind) {
    const std::uint32_t low = static_cast<std::uint32_t>(answer) & 0xFFFFU;
    if (low <= kMaxScansPerTick || low >= 32768 || kind >> 3 == 0)
        return answer;
    return static_cast<std::int32_t>((static_cast<std::uint32_t>(answer) & 0xFFFF0000U) |
                                     (low % (kMaxScansPerTick + 1)));
}

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
        return sparingly(32767, kind);
    case 5:
        return -32768;
    case 6: // beyond 16 bits: only the low 16 count
        return sparingly(
            static_cast<std::int32_t>(in.take<std::uint16_t>()) + 65536 * (1 + kind / 8), kind);
    default:
        return sparingly(in.take<std::int32_t>(), kind);
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
    // The ring as the model of the drain says it must be, in the ring's own
    // layout, so whole stretches compare at once.
    std::vector<std::int32_t> image;
    // The ring as every input must leave it once the points it wrote are set
    // back: the whole ring, row 17 and the spare column 32000 included.
    std::vector<std::int32_t> pristine;
    // Kept points since the input began, counted from its first DataPtr.
    std::int64_t kept = 0;

    Fixture() {
        for (std::int32_t p = 0; p <= kRingPoints; ++p)
            for (std::int32_t ch = 0; ch < kRingRows; ++ch)
                state.AdData(ch, p) = sentinel(ch, p);
        pristine.assign(state.AdData.point(0), state.AdData.point(kRingPoints) + kRingRows);
        image = pristine;
    }
};

// `v` as `elements` zeros in exactly that much memory, reusing it when the
// size is the same: most inputs keep one block size.
void zeroed(std::vector<std::int16_t>& v, std::size_t elements) {
    if (v.size() != elements) {
        v = std::vector<std::int16_t>(elements);
        return;
    }
    std::memset(v.data(), 0, elements * sizeof v[0]);
}

// The model's own bookkeeping need not be checked by AddressSanitizer: the
// drain is what is under test, and this runs once for every kept scan.
__attribute__((no_sanitize("address"))) void keep(Fixture& f, const std::int16_t* scan,
                                                  std::int32_t& ptr) {
    std::int32_t* const point = f.image.data() + static_cast<std::size_t>(ptr) * kRingRows;
    for (std::int32_t ch = 0; ch < kChannels; ++ch)
        point[ch] = static_cast<std::uint16_t>(scan[ch]);
    ptr = ptr + 1 == kRingPoints ? 0 : ptr + 1;
    ++f.kept;
}

// The model's drain over one run of identical blocks: every scan moves the
// counter, every SampDiv-th is kept at the pointer. A run of one-scan blocks
// keeps the same codes at each kept point, so it is counted, not walked.
void modelRun(Fixture& f, const std::int16_t* block, std::size_t scans, std::uint32_t blocks,
              std::int16_t sampDiv, std::int32_t& cnt, std::int32_t& ptr) {
    if (scans == 1 && blocks > 1) {
        const std::int64_t counted = std::int64_t{cnt} + blocks;
        const std::int64_t kept = counted / sampDiv;
        cnt = static_cast<std::int32_t>(counted % sampDiv);
        // Past a ring's length the same points are written again with the same codes.
        const std::int64_t distinct = std::min<std::int64_t>(kept, kRingPoints);
        ptr = static_cast<std::int32_t>((ptr + (kept - distinct)) % kRingPoints);
        f.kept += kept - distinct;
        for (std::int64_t k = 0; k < distinct; ++k)
            keep(f, block, ptr);
        return;
    }
    for (std::uint32_t b = 0; b < blocks; ++b) {
        for (std::size_t j = 0; j < scans; ++j) {
            if (++cnt != sampDiv)
                continue;
            cnt = 0;
            keep(f, block + j * kChannels, ptr);
        }
    }
}

// Compares points [first, first + count) of the ring with the model's image
// (no wrap), then sets both back to the sentinels.
void checkAndRestore(Fixture& f, std::int32_t first, std::int32_t count) {
    const std::size_t from = static_cast<std::size_t>(first) * kRingRows;
    const std::size_t n = static_cast<std::size_t>(count) * kRingRows;
    std::int32_t* const ring = f.state.AdData.point(0);
    if (std::memcmp(ring + from, f.image.data() + from, n * 4) != 0) {
        std::size_t at = from;
        while (ring[at] == f.image[at])
            ++at;
        std::fprintf(stderr, "drain: ring point %zu, row %zu\n", at / kRingRows, at % kRingRows);
        fail(static_cast<std::int32_t>(at / kRingRows) < kRingPoints &&
                     static_cast<std::int32_t>(at % kRingRows) < kChannels
                 ? "ring element"
                 : "element outside the written points",
             f.image[at], ring[at]);
    }
    std::memcpy(ring + from, f.pristine.data() + from, n * 4);
    std::memcpy(f.image.data() + from, f.pristine.data() + from, n * 4);
}

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
    const std::int32_t firstPtr = s.DataPtr;
    f.kept = 0;

    for (int tick = 0; tick < kMaxTicks && in.remaining() > 0; ++tick) {
        const std::int32_t answer = countAnswer(in);
        const std::int32_t n = sixteenBitCount(answer);
        // Large counts get smaller blocks so each input stays quick.
        s.PointsPerBuf = static_cast<std::int32_t>(
            std::clamp<std::int64_t>(kMaxScansPerTick / std::max(n, 1), 1, chosenPoints));
        const std::size_t elements = static_cast<std::size_t>(kChannels) * s.PointsPerBuf + 2;
        // Exactly as large as a start makes it, so a read past it is caught.
        zeroed(s.AdBuf, elements);

        AdversarialCard card(in, elements);
        card.answer = answer;
        // The model need not be exactly sized, so it keeps its memory.
        static std::vector<std::int16_t> model;
        model.assign(elements - 2, 0);
        card.model.swap(model);

        static std::vector<AdversarialCard::Run> runs;
        static std::vector<std::int16_t> samples;
        runs.clear();
        samples.clear();
        card.runs = &runs;
        card.samples = &samples;

        const std::int16_t returned = drainReadyBlocks(card, s);
        card.model.swap(model);
        if (returned != n)
            fail("returned count", n, returned);
        if (card.adResultCalls != std::max(n, 0))
            fail("ADResult calls", std::max(n, 0), card.adResultCalls);

        for (const AdversarialCard::Run& run : runs)
            modelRun(f, samples.data() + run.first, static_cast<std::size_t>(s.PointsPerBuf),
                     run.blocks, s.SampDiv, cnt, ptr);
        if (s.DataPtr != ptr)
            fail("DataPtr", ptr, s.DataPtr);
        if (s.SampDivCnt != cnt)
            fail("SampDivCnt", cnt, s.SampDivCnt);
        if (s.SampDivCnt < 0 || s.SampDivCnt >= s.SampDiv)
            fail("SampDivCnt out of 0..SampDiv-1", s.SampDiv - 1, s.SampDivCnt);
    }

    // Rows 0..16 of the points the model wrote hold what it wrote there; every
    // other element, row 17 and the spare column 32000 included, keeps its
    // sentinel. Checked over the written stretch and a point either side,
    // which is where a drain that goes astray by one would write; one input
    // in 32 also checks the whole ring.
    const std::int32_t stretch =
        static_cast<std::int32_t>(std::min<std::int64_t>(f.kept + 2, kRingPoints));
    const std::int32_t start = firstPtr == 0 ? kRingPoints - 1 : firstPtr - 1;
    const std::int32_t upToEnd = std::min(stretch, kRingPoints - start);
    checkAndRestore(f, start, upToEnd);
    checkAndRestore(f, 0, stretch - upToEnd);
    checkAndRestore(f, kRingPoints, 1);
    if (sampledInput(data, size, 32) &&
        std::memcmp(s.AdData.point(0), f.pristine.data(), f.pristine.size() * 4) != 0) {
        std::size_t at = 0;
        while (s.AdData.point(0)[at] == f.pristine[at])
            ++at;
        fail("element outside the written points (ring index)", static_cast<long long>(at),
             s.AdData.point(0)[at]);
    }
    return 0;
}
