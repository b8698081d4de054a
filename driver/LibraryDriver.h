#pragma once

#include "AdDriver.h"
#include "ToviraApi.h"

#include <QLibrary>
#include <QString>
#include <QStringList>

/// The real card library, bound by name at the first call of each function.
/// A library or export that cannot be had throws FatalError naming it and the
/// loader's reason; a file the loader refuses that is no library of any
/// machine (a text, an empty file) is said to be none.
class LibraryDriver final : public AdDriver {
public:
    /// `libraryPath` as QLibrary takes it: the file (besideProgram), or a
    /// name for the system's library search. When `searched` names where the
    /// library was looked for and not found, a library that does not load is
    /// reported with that list.
    explicit LibraryDriver(const QString& libraryPath, QStringList searched = {});

    std::int32_t ConfigInfo(std::uint8_t* name201, std::int32_t* v1, std::int32_t* v2,
                            std::int32_t* v3, std::int32_t* v4, float* zeroLevel, float* span,
                            std::int32_t* extra) override;
    std::int32_t StopIntr() override;
    std::int32_t Initial(std::int32_t a, std::int32_t b, std::int32_t c, std::int32_t d) override;
    std::int32_t StartIntr(std::int16_t a, std::int32_t pointsPerBuf, std::int16_t b,
                           std::int16_t chnCount, std::int32_t sampFreq, std::int32_t c,
                           std::int16_t d) override;
    std::int32_t GetLastADError() override;
    std::int32_t QueryBuf() override;
    std::int32_t ADResult(std::int16_t* buffer) override;

    /// The library's file beside `programDir`, under the name this system's
    /// loader takes it by: libtovira.so, or tovira.dll on Windows.
    static QString besideProgram(const QString& programDir);

private:
    // What differs with the system's loader (LibraryDriver_win.cpp,
    // LibraryDriver_posix.cpp).
    /// Whether `path` starts as a library of some machine does for this
    /// system's loader (a PE header on Windows, ELF elsewhere), so that a load
    /// it refuses is the loader's to explain.
    static bool isLibraryFile(const QString& path);
    /// The loader's reason why the loaded `library` has no export `name`.
    static QString missingFunctionReason(const QLibrary& library, const char* name);

    QFunctionPointer resolve(const char* name);
    /// `slot`'s function, bound at its first call (bind, ToviraApi.h).
    template <typename Fn> Fn bound(Fn& slot, const ToviraExportName& function);

    QLibrary m_library;
    QStringList m_searched;
    ToviraFunctions m_fn;
};
