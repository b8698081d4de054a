// Test entry for suites that need widgets: one QApplication for the whole run.
#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    // Headless by default. Windows' Qt has no offscreen platform (it needs
    // FreeType), and Wine does not pass QT_* variables on, so there the
    // minimal platform stands in, with the system's own fonts.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
#if defined(Q_OS_WIN)
        qputenv("QT_QPA_PLATFORM", "minimal:enable_fonts");
#else
        qputenv("QT_QPA_PLATFORM", "offscreen");
#endif
    }
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
