#include "LibraryDriver.h"

#include "DriverMessages.h"
#include "base/FatalError.h"

#include <QDir>

#define TOVIRA_BIND(slot, name, bytes) bound(m_fn.slot, TOVIRA_EXPORT_NAME(name, bytes))

LibraryDriver::LibraryDriver(const QString& libraryPath, QStringList searched)
    : m_library(libraryPath), m_searched(std::move(searched)) {
}

QString LibraryDriver::besideProgram(const QString& programDir) {
    return QDir(programDir).filePath(QStringLiteral("tovira"));
}

QFunctionPointer LibraryDriver::resolve(const char* name) {
    if (!m_library.isLoaded() && !m_library.load()) {
        const QString library = QDir::toNativeSeparators(m_library.fileName());
        throw FatalError((m_searched.isEmpty()
                              ? libraryNotLoadedText(library, m_library.errorString())
                              : libraryNotFoundText(library, m_searched, m_library.errorString()))
                             .toStdString());
    }
    QFunctionPointer fn = m_library.resolve(name);
    if (fn == nullptr) {
        throw FatalError(functionMissingText(QDir::toNativeSeparators(m_library.fileName()),
                                             QString::fromLatin1(name), m_library.errorString())
                             .toStdString());
    }
    return fn;
}

std::int32_t LibraryDriver::ConfigInfo(std::uint8_t* name201, std::int32_t* v1, std::int32_t* v2,
                                       std::int32_t* v3, std::int32_t* v4, float* zeroLevel,
                                       float* span, std::int32_t* extra) {
    return TOVIRA_BIND(configInfo, ConfigInfo, 32)(name201, v1, v2, v3, v4, zeroLevel, span, extra);
}

std::int32_t LibraryDriver::StopIntr() {
    return TOVIRA_BIND(stopIntr, StopIntr, 0)();
}

std::int32_t LibraryDriver::Initial(std::int32_t a, std::int32_t b, std::int32_t c,
                                    std::int32_t d) {
    return TOVIRA_BIND(initial, Initial, 16)(a, b, c, d);
}

std::int32_t LibraryDriver::StartIntr(std::int16_t a, std::int32_t pointsPerBuf, std::int16_t b,
                                      std::int16_t chnCount, std::int32_t sampFreq, std::int32_t c,
                                      std::int16_t d) {
    return TOVIRA_BIND(startIntr, StartIntr, 28)(a, pointsPerBuf, b, chnCount, sampFreq, c, d);
}

std::int32_t LibraryDriver::GetLastADError() {
    return TOVIRA_BIND(getLastADError, GetLastADError, 0)();
}

std::int32_t LibraryDriver::QueryBuf() {
    return TOVIRA_BIND(queryBuf, QueryBuf, 0)();
}

std::int32_t LibraryDriver::ADResult(std::int16_t* buffer) {
    return TOVIRA_BIND(adResult, ADResult, 4)(buffer);
}
