#pragma once
// How an input of fuzz_host_replies reads, shared with the tool that records
// its seeds from a real host (RecordHostSeeds.cpp), so a recorded run
// replays call for call.
//
//   u8 header            kStartFails, kUnderWine
//   then steps, each:    u8 step (kind in the low four bits, a choice in the
//                        high four), and the step's own arguments.
//
// Every request HostDriver writes to the stand-in host takes one u8 answer
// byte off the input at once (its kind in the low three bits, a choice in
// the rest): a well-formed answer the target builds (then its values off
// the input, in the order the builder takes them), the input's own bytes
// (then the reply is whatever HostDriver reads next, in the sizes it reads),
// a failure, a crash, silence or an end. The input is one stream read front
// to back, by the steps and the host alike, so a recorded run is written in
// exactly the order a replay takes it.

#include "driver/host/HostProtocol.h"

#include <cstdint>

namespace replysteps {

// Header bits.
inline constexpr std::uint8_t kStartFails = 1;
inline constexpr std::uint8_t kUnderWine = 2;

// Step kinds (the step byte's low four bits).
enum Step : std::uint8_t {
    kConfigInfo = 0,     // u8 seed for the caller's variables
    kStopIntr = 1,       //
    kInitial = 2,        // 4 x i32
    kStartIntr = 3,      // high bits: the block shape (kShapes); i16, i16, i32, i32, i16:
                         // the arguments around it; shape 15 takes a u8 more (kBigShape)
    kGetLastADError = 4, //
    kQueryBuf = 5,       //
    kADResult = 6,       //
    kDrain = 7,          // QueryBuf, then one ADResult per block it counts
    kDrainWithCall = 8,  // the same with another call (high bits: kOtherCalls) after the
                         // first block; a StartIntr there takes a u8 shape more
    kHostEnds = 9,       // the host ends while no call waits for it
    kRefill = 10,        // u8: the caller writes its whole buffer afresh
    kStepKinds = 11,     // the rest repeat the ones most worth repeating:
    // 11 ADResult, 12 Drain, 13 QueryBuf, 14 DrainWithCall, 15 StartIntr
};

inline Step stepKind(std::uint8_t step) {
    constexpr Step kRepeated[] = {kADResult, kDrain, kQueryBuf, kDrainWithCall, kStartIntr};
    const std::uint8_t kind = step & 0x0F;
    return kind < kStepKinds ? static_cast<Step>(kind) : kRepeated[kind - kStepKinds];
}
inline std::uint8_t stepChoice(std::uint8_t step) {
    return step >> 4;
}

/// Block shapes a StartIntr step asks for: small ones first, which keep an
/// input fast (most inputs have few bits set), shapes that are no block at
/// all, and the program's own two last.
struct Shape {
    std::int32_t points;
    std::int16_t channels;
};
inline constexpr Shape kShapes[16] = {
    {1, 17}, {2, 17}, {1, 1}, {4, 17}, {0, 17},  {-5, 17},  {17, 0},   {3, -1},
    {1, 40}, {7, 3},  {1, 2}, {64, 1}, {20, 17}, {100, 17}, {500, 17}, {3, 17},
};
inline constexpr std::uint8_t kProgramFastShape = 14; // 500 scans of 17 channels
inline constexpr std::uint8_t kProgramSlowShape = 13; // 100 scans
/// Shape 15 (the step byte 0xFF, common in fuzzing, picks it, so it is small)
/// with kBigShapeByte after it: blocks so large that the mapping is cut to
/// its budget, with fewer slots. Its 16 MB take milliseconds to make, so
/// only an input that asks for it outright gets it, and then not always.
inline constexpr std::uint8_t kBigShapeIndex = 15;
inline constexpr std::uint8_t kBigShapeByte = 0xB1;
inline constexpr Shape kBigShape = {16384, 17};

/// A well-formed QueryBuf answer: a kind byte (kind in the low three bits, a
/// choice in the rest), then for kAnyCount an i32. Most counts are small, so
/// most inputs take few blocks; the read-ahead's limit, negative counts,
/// counts past 16 bits and any value are there too.
enum CountKind : std::uint8_t {
    kNoBlock = 0,    // 0
    kFewBlocks = 1,  // 1, 2, 3: 1 to 4 (choice % 4)
    kNearLimit = 4,  // kReadAheadBlocks - 1 to + 2 (choice % 4)
    kNegative = 5,   // -1 - choice
    kPast16Bits = 6, // (choice + 1) * 65536 + choice % 4
    kAnyCount = 7,   // the i32 that follows; with a choice other than 0 its
                     // 16-bit count is cut below kMaxDrainBlocks
};

/// The call kDrainWithCall makes after the first block (its choice % 6).
enum OtherCall : std::uint8_t {
    kOtherGetLastADError = 0,
    kOtherQueryBuf = 1,
    kOtherStopIntr = 2,
    kOtherInitial = 3, // Initial(0, 0, 0, 0)
    kOtherConfigInfo = 4,
    kOtherStartIntr = 5, // program's arguments, u8 shape
    kOtherCalls = 6,
};

/// Answer kinds (the answer byte's low three bits).
enum Answer : std::uint8_t {
    kBuilt = 0, // 0, 1, 2: a well-formed answer, values off the input
    kRaw = 3,   // 3, 4: the input's bytes
    kFailed = 5,
    kCrashed = 6,
    kSilentOrEnded = 7, // choice bit 0: silent, else ended
};
inline Answer answerKind(std::uint8_t answer) {
    const std::uint8_t kind = answer & 7;
    return kind <= 2 ? kBuilt : kind <= 4 ? kRaw : static_cast<Answer>(kind);
}
inline std::uint8_t answerChoice(std::uint8_t answer) {
    return answer >> 3;
}

/// Most ADResult calls one drain step makes, whatever QueryBuf counts: a
/// full read-ahead request and the start of the next.
inline constexpr std::int32_t kMaxDrainBlocks = hostproto::kReadAheadBlocks + 6;
/// Most steps in one input, StartIntr calls it makes (later ones are left
/// out), and the FatalErrors after which it ends early.
inline constexpr int kMaxSteps = 16;
inline constexpr int kMaxStarts = 2;
inline constexpr int kMaxFailures = 2;

} // namespace replysteps
