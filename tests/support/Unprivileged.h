#pragma once

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <pwd.h>
#include <unistd.h>

#include <optional>
#include <string>

/// How a run of the current test as an unprivileged user went.
struct UnprivilegedRun {
    bool ran = false;    ///< false: no such user could be had; `output` says why
    bool passed = false; ///< the one test ran, was not skipped, and passed
    std::string output;
};

/// Runs the current test again, alone, as the user "nobody", for tests whose
/// point is what permission bits forbid: root ignores them, and CI runs as
/// root. The test executable is copied where that user may run it; the
/// sanitizers' suppressions go with it.
inline UnprivilegedRun runCurrentTestUnprivileged() {
    UnprivilegedRun run;
    const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
    const passwd* nobody = getpwnam("nobody");
    if (setpriv.isEmpty() || nobody == nullptr || nobody->pw_uid == 0) {
        run.output = setpriv.isEmpty() ? "no setpriv (Debian package util-linux)"
                                       : "no unprivileged user \"nobody\"";
        return run;
    }
    QTemporaryDir dir(QStringLiteral("/tmp/unprivileged-XXXXXX"));
    const QString copy = dir.filePath(QStringLiteral("test"));
    const QFile::Permissions readRun = QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup |
                                       QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther;
    if (!dir.isValid() ||
        !QFile::copy(QFile::symLinkTarget(QStringLiteral("/proc/self/exe")), copy) ||
        !QFile::setPermissions(copy, readRun) || !QFile::setPermissions(dir.path(), readRun)) {
        run.output = "cannot copy the test executable where \"nobody\" may run it";
        return run;
    }
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TMPDIR"), QStringLiteral("/tmp"));
    QString lsan = environment.value(QStringLiteral("LSAN_OPTIONS"));
    const qsizetype at = lsan.indexOf(QStringLiteral("suppressions="));
    if (at >= 0) {
        const qsizetype from = at + 13;
        const qsizetype to = lsan.indexOf(u':', from) < 0 ? lsan.size() : lsan.indexOf(u':', from);
        const QString suppressions = dir.filePath(QStringLiteral("lsan.supp"));
        QFile::copy(lsan.mid(from, to - from), suppressions);
        QFile::setPermissions(suppressions, readRun);
        lsan.replace(from, to - from, suppressions);
        environment.insert(QStringLiteral("LSAN_OPTIONS"), lsan);
    }
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    const QString filter =
        QStringLiteral("--gtest_filter=%1.%2")
            .arg(QString::fromUtf8(test->test_suite_name()), QString::fromUtf8(test->name()));
    QProcess child;
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(setpriv, {QStringLiteral("--reuid=%1").arg(nobody->pw_uid),
                          QStringLiteral("--regid=%1").arg(nobody->pw_gid),
                          QStringLiteral("--clear-groups"), QStringLiteral("--"), copy, filter});
    child.waitForFinished(120000);
    run.output = child.readAll().toStdString();
    // setpriv itself says so when it cannot run the copy (a /tmp mounted
    // noexec, say): no unprivileged run could be had, which is not a failure.
    if (child.exitStatus() == QProcess::NormalExit &&
        (child.exitCode() == 126 || child.exitCode() == 127) &&
        run.output.rfind("setpriv: ", 0) == 0) {
        run.output = "\"nobody\" cannot run the test's copy: " + run.output;
        return run;
    }
    run.ran = true;
    run.passed = child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0 &&
                 run.output.find("[  PASSED  ] 1 test.") != std::string::npos &&
                 run.output.find("[  SKIPPED ]") == std::string::npos;
    return run;
}
