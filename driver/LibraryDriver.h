#pragma once

#include "AdDriver.h"
#include "ToviraApi.h"

#include <QLibrary>
#include <QString>
#include <QStringList>

/// The real card library, bound by name at the first call of each function.
/// A library or export that cannot be found throws FatalError naming it and the
/// system's reason.
class LibraryDriver final : public AdDriver {
public:
    /// `libraryPath` as QLibrary takes it, e.g. "<program dir>/tovira". When
    /// `searched` names where the library was looked for and not found, a
    /// library that does not load is reported with that list.
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

    /// The library's path beside `programDir`, as the program binds it.
    static QString besideProgram(const QString& programDir);

private:
    QFunctionPointer resolve(const char* name);
    /// `slot`'s function, bound at its first call (bind, ToviraApi.h).
    template <typename Fn> Fn bound(Fn& slot, const ToviraExportName& function);

    QLibrary m_library;
    QStringList m_searched;
    ToviraFunctions m_fn;
};
