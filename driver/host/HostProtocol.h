#pragma once
// The conversation between the program and the card host (tovira-host), the
// small process that loads a card library the program cannot load itself (a
// 32-bit tovira.dll beside a 64-bit program). Plain C++ without Qt: the host
// is built with it for Windows and Linux, the program's HostDriver with it.
//
// One call at a time over the host's standard input (requests) and output
// (replies). Every number is little-endian; i32 is a 32-bit two's-complement
// integer, u32 unsigned, f32 an IEEE single. 16-bit arguments travel as i32,
// sign-extended, as they do in the library's 32-bit stack slots.
//
// Request: u32 op, then the op's arguments.
// Reply:   u32 status, then
//            kOk:     the op's results;
//            kFailed, kCrashed: u32 byte count and a UTF-8 text (see below).
//
// The blocks themselves do not travel over the pipe. The program and the host
// share one mapping of block slots (kMapBlocks), each slot one block buffer.
// ADResult is answered block by block: the program puts its buffer into slot
// 0 and asks for the blocks its last QueryBuf announced in one request; the
// host lets the library write each block straight into the next slot, which
// it first fills with the one before, and streams one short reply per call
// (result, slot and the span the call changed), so each copy costs no round
// trip and no pipe transfer.

#include "driver/ToviraApi.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace hostproto {

enum Op : std::uint32_t {
    // in:  the name's kCardNameBytes bytes, i32 v1..v4, f32 zero level, f32 span, i32 extra:
    //      the program's variables as they are, so that what the library does
    //      not write stays as the program had it
    // out: i32 result, then the same nine fields as the library left them
    kConfigInfo = 1,
    kStopIntr = 2,       // out: i32
    kInitial = 3,        // in: 4 x i32; out: i32
    kStartIntr = 4,      // in: 7 x i32; out: i32
    kGetLastADError = 5, // out: i32
    kQueryBuf = 6,       // out: i32, the library's whole 32-bit answer
    // in:  u32 calls (1 to slots - 1): the program's buffer is in slot 0
    // out: per call k (from 1), u32 status, i32 result, u32 slot (k), u32
    //      first, u32 end: slot k holds the buffer after the call, which
    //      changed only elements first to end - 1 of slot k - 1
    kADResult = 7,
    // A tool's question, never asked by the program: the simulated card's
    // count of dropped blocks (export SimDroppedBlocks, plain C, no
    // arguments). out: i64 (two u32, low first).
    kSimDroppedBlocks = 8,
    // in:  u32 slots, u32 elements (of one slot: the block buffer's size since
    //      the last StartIntr), u32 kind, then for kMapHandle a u64 handle the
    //      program made the host's own, for kMapPath u32 byte count and a
    //      UTF-8 path the host opens
    // out: u32 byte count and a UTF-8 text: empty when the host has the
    //      mapping, else why it could not open it. The program sends it after
    //      every StartIntr that changes the block buffer's size (and before a
    //      first ADResult), the host drops its old mapping at that StartIntr.
    kMapBlocks = 9,
};

/// How the host opens the mapping of block slots.
enum MapKind : std::uint32_t {
    kMapHandle = 1, // Windows: a handle to an unnamed mapping, duplicated into the host
    kMapPath = 2,   // a file both sides map, which the program removes once the host has it
};

enum Status : std::uint32_t {
    kOk = 0,
    // The library or one of its functions cannot be had. Text: the function's
    // name (empty when the library itself did not load), a line feed, and the
    // system's reason.
    kFailed = 1,
    // The library crashed inside a call; the host ends after saying so. Text:
    // the function's name, a line feed, and what happened.
    kCrashed = 2,
};

/// Elements of the block buffer: the samples of one block and the two
/// elements around them that are not samples. 0 when the shape cannot be a
/// block (the library then has none to write).
constexpr std::uint32_t blockElements(std::int32_t points, std::int32_t channels) {
    // Larger blocks than any card delivers would only let a faulty start
    // request claim the host's memory.
    constexpr std::int64_t kLargest = 16 * 1024 * 1024;
    if (points <= 0 || channels <= 0)
        return 0;
    const std::int64_t samples = std::int64_t{points} * channels;
    return samples + 2 > kLargest ? 0 : static_cast<std::uint32_t>(samples + 2);
}

/// The host's buffer is never smaller than this, so a call before any start
/// still has element 0 and the one after it to (not) write.
inline constexpr std::uint32_t kMinBufferElements = 2;

/// Blocks read ahead in one ADResult request at the most: at 1,000,000 scans/s
/// a tick brings 100 blocks, so one request fetches them.
inline constexpr std::uint32_t kReadAheadBlocks = 128;
/// The mapping stays this small, where the blocks allow, so that it fits a
/// 32-bit host's address space and a small /dev/shm beside everything else.
inline constexpr std::uint64_t kMappingBudgetBytes = 16 * 1024 * 1024;

/// Slots of the mapping for blocks of `elements`: slot 0 for the program's
/// buffer and up to kReadAheadBlocks more, within the budget; never fewer
/// than 2, whatever a block's size.
constexpr std::uint32_t blockSlots(std::uint32_t elements) {
    const std::uint64_t slotBytes = std::uint64_t{elements} * 2;
    const std::uint64_t fit = slotBytes == 0 ? 2 : kMappingBudgetBytes / slotBytes;
    return static_cast<std::uint32_t>(
        fit < 2 ? 2 : (fit > kReadAheadBlocks + 1 ? kReadAheadBlocks + 1 : fit));
}

/// Bytes of a mapping of `slotCount` slots of `elements` each. (Not `slots`:
/// Qt's headers make that word vanish in the program's sources.)
constexpr std::uint64_t mappingBytes(std::uint32_t slotCount, std::uint32_t elements) {
    return std::uint64_t{slotCount} * elements * 2;
}

/// Longest path in a kMapBlocks request.
inline constexpr std::uint32_t kMaxMapPath = 4096;

/// Longest text in a kFailed or kCrashed reply.
inline constexpr std::uint32_t kMaxText = 4096;

/// Bytes of the kConfigInfo fields: the name, then seven 4-byte values.
inline constexpr std::size_t kConfigBytes = kCardNameBytes + 7 * 4;

inline void putU32(std::string& out, std::uint32_t v) {
    const char b[4] = {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
                       static_cast<char>(v >> 24)};
    out.append(b, 4);
}
inline void putI32(std::string& out, std::int32_t v) {
    putU32(out, static_cast<std::uint32_t>(v));
}
inline void putF32(std::string& out, float v) {
    std::uint32_t bits = 0;
    std::memcpy(&bits, &v, 4);
    putU32(out, bits);
}
inline void putU64(std::string& out, std::uint64_t v) {
    putU32(out, static_cast<std::uint32_t>(v));
    putU32(out, static_cast<std::uint32_t>(v >> 32));
}

inline std::uint32_t getU32(const char* in) {
    const auto* b = reinterpret_cast<const unsigned char*>(in);
    return std::uint32_t{b[0]} | std::uint32_t{b[1]} << 8 | std::uint32_t{b[2]} << 16 |
           std::uint32_t{b[3]} << 24;
}
inline std::uint64_t getU64(const char* in) {
    return std::uint64_t{getU32(in)} | std::uint64_t{getU32(in + 4)} << 32;
}
inline std::int32_t getI32(const char* in) {
    return static_cast<std::int32_t>(getU32(in));
}
inline float getF32(const char* in) {
    const std::uint32_t bits = getU32(in);
    float v = 0.0F;
    std::memcpy(&v, &bits, 4);
    return v;
}

/// A request's opening: its op; the arguments follow.
inline std::string request(Op op) {
    std::string r;
    putU32(r, op);
    return r;
}

/// Where `now` differs from `was` (both `size` elements): the span from the
/// first to the last difference, as {first, end}; first == end when equal.
struct Span {
    std::size_t first = 0;
    std::size_t end = 0;
};
inline Span changedSpan(const std::int16_t* was, const std::int16_t* now, std::size_t size) {
    Span span{0, size};
    while (span.first < span.end && now[span.first] == was[span.first])
        ++span.first;
    while (span.end > span.first && now[span.end - 1] == was[span.end - 1])
        --span.end;
    return span;
}

/// A status reply with a text: kFailed or kCrashed.
inline std::string textReply(Status status, std::string_view function, std::string_view reason) {
    std::string text(function);
    text += '\n';
    text += reason;
    if (text.size() > kMaxText)
        text.resize(kMaxText);
    std::string out;
    putU32(out, status);
    putU32(out, static_cast<std::uint32_t>(text.size()));
    out += text;
    return out;
}

} // namespace hostproto
