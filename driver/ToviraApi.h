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

// What a library that defines the card's functions (the simulated card, the
// tests' partial one) puts before each, so that it is exported.
#if defined(_WIN32) && !defined(_WIN64)
// 32-bit Windows: a .def file exports the decorated names, and only those.
#define TOVIRA_EXPORT
#elif defined(_WIN32)
#define TOVIRA_EXPORT __declspec(dllexport)
#else
#define TOVIRA_EXPORT __attribute__((visibility("default")))
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

/// The names of one of the seven functions. The decorated one is what the
/// maker's 32-bit library exports; it is kept on every platform so that the
/// simulated card's .def files can be checked against it wherever the tests
/// run.
struct ToviraExportName {
    const char* plain;     ///< the C name, e.g. for the report of a crash in the call
    const char* decorated; ///< `_StartIntr@28`: the bytes its arguments take on the stack
    const char* name;      ///< what this build looks the function up by
};

// clang-format off
#define TOVIRA_EXPORT_NAMES(plain, bytes) \
    ToviraExportName{#plain, "_" #plain "@" #bytes, TOVIRA_EXPORT_NAME(plain, bytes)}
// clang-format on

// The byte counts are the arguments' 32-bit stack slots: 4 for each argument.
inline constexpr ToviraExportName kConfigInfoExport = TOVIRA_EXPORT_NAMES(ConfigInfo, 32);
inline constexpr ToviraExportName kStopIntrExport = TOVIRA_EXPORT_NAMES(StopIntr, 0);
inline constexpr ToviraExportName kInitialExport = TOVIRA_EXPORT_NAMES(Initial, 16);
inline constexpr ToviraExportName kStartIntrExport = TOVIRA_EXPORT_NAMES(StartIntr, 28);
inline constexpr ToviraExportName kGetLastADErrorExport = TOVIRA_EXPORT_NAMES(GetLastADError, 0);
inline constexpr ToviraExportName kQueryBufExport = TOVIRA_EXPORT_NAMES(QueryBuf, 0);
inline constexpr ToviraExportName kADResultExport = TOVIRA_EXPORT_NAMES(ADResult, 4);

/// All seven, in the order of ToviraFunctions.
inline constexpr ToviraExportName kToviraExports[] = {
    kConfigInfoExport,     kStopIntrExport, kInitialExport, kStartIntrExport,
    kGetLastADErrorExport, kQueryBufExport, kADResultExport};

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

/// The function in `slot`, looked up by its export name through `resolve` at
/// its first call and kept for the calls after. `resolve(name)` gives the
/// function's address (a void pointer or a function pointer) or throws.
template <typename Fn, typename Resolve>
Fn bind(Fn& slot, const ToviraExportName& function, Resolve&& resolve) {
    if (slot == nullptr)
        slot = reinterpret_cast<Fn>(resolve(function.name));
    return slot;
}

/// Length of the name buffer handed to ConfigInfo.
inline constexpr int kCardNameBytes = 201;
