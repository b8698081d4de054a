#include "FrmMultiBuf.h"
#include "driver/CardRoute.h"

#include <QApplication>
#include <QMessageBox>

#include <cstdio>
#include <memory>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);

    bool failed = false;
    // One message, on screen and on standard error, then the program ends
    // with a non-zero status.
    auto onFatal = [&failed](const QString& message) {
        // UTF-8 everywhere: Windows' ANSI code page may not hold the text.
        std::fprintf(stderr, "multibuf: %s\n", message.toUtf8().constData());
        std::fflush(stderr);
        if (!failed) {
            // The message quotes paths and the system's words: never markup.
            QMessageBox box(QMessageBox::Critical, QStringLiteral("MultiBuf"), message,
                            QMessageBox::Ok);
            box.setTextFormat(Qt::PlainText);
            box.exec();
        }
        failed = true;
        QCoreApplication::exit(1);
    };

    // The card library beside the program, loaded directly or reached through
    // the card host; the window cannot tell which.
    const std::unique_ptr<AdDriver> driver =
        makeDriver(cardRoute(QCoreApplication::applicationDirPath()), onFatal);
    FrmMultiBuf window(*driver, onFatal);
    if (failed)
        return 1;
    window.show();
    const int status = QApplication::exec();
    return failed ? 1 : status;
}
