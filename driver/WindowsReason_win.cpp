#include "WindowsReason.h"

#include <windows.h>

QString windowsReason(unsigned long error) {
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    QString words =
        length > 0 ? QString::fromWCharArray(text, static_cast<int>(length)).trimmed() : QString();
    LocalFree(text);
    if (words.isEmpty()) {
        words = error == ERROR_PROC_NOT_FOUND ? QStringLiteral("库中没有这个导出函数")
                                              : QStringLiteral("系统未说明原因");
    }
    return words + QStringLiteral(" (%1)").arg(error);
}
