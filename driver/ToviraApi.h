#pragma once
// C signatures of the card library's seven functions that the program calls.
// Shared by the run-time binding and by the simulated card, so both agree on
// argument widths. On 32-bit Windows the exports are stdcall and decorated
// (`_StartIntr@28`); 16-bit arguments still travel in 32-bit stack slots.

#include <cstdint>

#if defined(_WIN32) && !defined(_WIN64)
#define TOVIRA_CALL __stdcall
#else
#define TOVIRA_CALL
#endif

extern "C" {
using ConfigInfoFn = std::int32_t(TOVIRA_CALL*)(std::uint8_t* name201, std::int32_t* v1,
                                                std::int32_t* v2, std::int32_t* v3,
                                                std::int32_t* v4, float* zeroLevel, float* span,
                                                std::int32_t* extra);
using StopIntrFn = std::int32_t(TOVIRA_CALL*)();
using InitialFn = std::int32_t(TOVIRA_CALL*)(std::int32_t, std::int32_t, std::int32_t,
                                             std::int32_t);
using StartIntrFn = std::int32_t(TOVIRA_CALL*)(std::int16_t, std::int32_t pointsPerBuf,
                                               std::int16_t, std::int16_t chnCount,
                                               std::int32_t sampFreq, std::int32_t, std::int16_t);
using GetLastADErrorFn = std::int32_t(TOVIRA_CALL*)();
// The caller keeps only the low 16 bits, read as signed.
using QueryBufFn = std::int32_t(TOVIRA_CALL*)();
using ADResultFn = std::int32_t(TOVIRA_CALL*)(std::int16_t* buffer);
}

// The name a function is exported under: 32-bit Windows exports carry the
// stdcall decoration (`_StartIntr@28`); everywhere else the plain C name is
// exported.
#if defined(_WIN32) && !defined(_WIN64)
#define TOVIRA_EXPORT_NAME(plain, bytes) "_" #plain "@" #bytes
#else
#define TOVIRA_EXPORT_NAME(plain, bytes) #plain
#endif

/// The seven functions of a bound library, each looked up at its first call.
struct ToviraFunctions {
    ConfigInfoFn configInfo = nullptr;
    StopIntrFn stopIntr = nullptr;
    InitialFn initial = nullptr;
    StartIntrFn startIntr = nullptr;
    GetLastADErrorFn getLastADError = nullptr;
    QueryBufFn queryBuf = nullptr;
    ADResultFn adResult = nullptr;
};

/// Length of the name buffer handed to ConfigInfo.
inline constexpr int kCardNameBytes = 201;
