#include "LibraryDriver.h"

#include "DriverMessages.h"
#include "base/FatalError.h"

#include <QDir>
#include <QFileInfo>

LibraryDriver::LibraryDriver(const QString& libraryPath, QStringList searched)
    : m_library(libraryPath), m_searched(std::move(searched)) {
}

QFunctionPointer LibraryDriver::resolve(const char* name) {
    if (!m_library.isLoaded() && !m_library.load()) {
        const QString library = QDir::toNativeSeparators(m_library.fileName());
        if (!m_searched.isEmpty())
            throw FatalError(
                libraryNotFoundText(library, m_searched, m_library.errorString()).toStdString());
        // A file that is no library at all (a text, an empty download) gets
        // the program's words: Windows' own ("not a valid Win32 application",
        // under Wine only an error number) do not say that the file is wrong.
        const QFileInfo file(m_library.fileName());
        if (file.isAbsolute() && file.isFile() && !isLibraryFile(file.filePath()))
            throw FatalError(notALibraryText(library).toStdString());
        throw FatalError(libraryNotLoadedText(library, m_library.errorString()).toStdString());
    }
    QFunctionPointer fn = m_library.resolve(name);
    if (fn == nullptr) {
        throw FatalError(functionMissingText(QDir::toNativeSeparators(m_library.fileName()),
                                             QString::fromLatin1(name),
                                             missingFunctionReason(m_library, name))
                             .toStdString());
    }
    return fn;
}

template <typename Fn> Fn LibraryDriver::bound(Fn& slot, const ToviraExportName& function) {
    return bind(slot, function, [this](const char* name) { return resolve(name); });
}

std::int32_t LibraryDriver::ConfigInfo(std::uint8_t* name201, std::int32_t* v1, std::int32_t* v2,
                                       std::int32_t* v3, std::int32_t* v4, float* zeroLevel,
                                       float* span, std::int32_t* extra) {
    return bound(m_fn.configInfo, kConfigInfoExport)(name201, v1, v2, v3, v4, zeroLevel, span,
                                                     extra);
}

std::int32_t LibraryDriver::StopIntr() {
    return bound(m_fn.stopIntr, kStopIntrExport)();
}

std::int32_t LibraryDriver::Initial(std::int32_t a, std::int32_t b, std::int32_t c,
                                    std::int32_t d) {
    return bound(m_fn.initial, kInitialExport)(a, b, c, d);
}

std::int32_t LibraryDriver::StartIntr(std::int16_t a, std::int32_t pointsPerBuf, std::int16_t b,
                                      std::int16_t chnCount, std::int32_t sampFreq, std::int32_t c,
                                      std::int16_t d) {
    return bound(m_fn.startIntr, kStartIntrExport)(a, pointsPerBuf, b, chnCount, sampFreq, c, d);
}

std::int32_t LibraryDriver::GetLastADError() {
    return bound(m_fn.getLastADError, kGetLastADErrorExport)();
}

std::int32_t LibraryDriver::QueryBuf() {
    return bound(m_fn.queryBuf, kQueryBufExport)();
}

std::int32_t LibraryDriver::ADResult(std::int16_t* buffer) {
    return bound(m_fn.adResult, kADResultExport)(buffer);
}
