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
// ADResult is answered block by block: the program asks for the blocks its
// last QueryBuf announced in one request, and the host calls the library that
// many times and streams one reply per call, so each copy costs no round trip.

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
    // in:  u32 calls (1 or more), then one span of the program's buffer
    //      (u32 first, u32 end, end - first i16): the elements where it differs
    //      from the host's copy, which is the host's buffer after the last call
    // out: per call, u32 status, i32 result, then one span: the elements this
    //      call changed in the host's buffer
    kADResult = 7,
    // A tool's question, never asked by the program: the simulated card's
    // count of dropped blocks (export SimDroppedBlocks, plain C, no
    // arguments). out: i64 (two u32, low first).
    kSimDroppedBlocks = 8,
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
inline void putI16s(std::string& out, const std::int16_t* values, std::size_t count) {
    // The hosts we build for are little-endian, as the wire is.
    out.append(reinterpret_cast<const char*>(values), count * 2);
}

inline std::uint32_t getU32(const char* in) {
    const auto* b = reinterpret_cast<const unsigned char*>(in);
    return std::uint32_t{b[0]} | std::uint32_t{b[1]} << 8 | std::uint32_t{b[2]} << 16 |
           std::uint32_t{b[3]} << 24;
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
