#include "WindowFixture.h"
#include "driver/LibraryDriver.h"

#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>

namespace {

// The counter channel of the simulated card carries the scan number, so the
// ring is continuous exactly when every kept scan is SampDiv after the last.
void expectContinuousCounter(const AcqState& s) {
    ASSERT_GT(s.DataPtr, 100);
    EXPECT_EQ(s.AdData(4, 0), s.SampDiv - 1); // the SampDiv-th scan, counted from 1
    for (std::int32_t p = 1; p < s.DataPtr; ++p)
        ASSERT_EQ(s.AdData(4, p), (s.AdData(4, p - 1) + s.SampDiv) % 65536) << "point " << p;
}

} // namespace

class EndToEnd : public ::testing::TestWithParam<const char*> {};

TEST_P(EndToEnd, TheSimulatedCardFillsTheRingWithoutGaps) {
    LibraryDriver card(LibraryDriver::besideProgram(QStringLiteral(SIM_LIBRARY_DIR)));
    QStringList fatals;
    FrmMultiBuf form(card, [&](const QString& m) { fatals << m; });
    form.findChild<QLineEdit*>(QStringLiteral("txtSampFreq"))
        ->setText(QString::fromLatin1(GetParam()));
    form.cmdStart_Click();
    ASSERT_TRUE(form.timerRunning());
    QTest::qWait(1000);
    form.cmdStop_Click();
    ASSERT_TRUE(fatals.isEmpty()) << fatals.join('\n').toStdString();

    const AcqState& s = form.state();
    EXPECT_GT(s.BlockTotal, 0);
    // Every block the program took went through the decimation, none twice.
    const std::int64_t scans = s.BlockTotal * s.PointsPerBuf;
    EXPECT_EQ(s.DataPtr, scans / s.SampDiv % 32000);
    expectContinuousCounter(s);
}

INSTANTIATE_TEST_SUITE_P(Rates, EndToEnd, ::testing::Values("20000", "3000"));

TEST(EndToEndSave, TheCounterColumnIsContinuousFromFirstRowToLast) {
    LibraryDriver card(LibraryDriver::besideProgram(QStringLiteral(SIM_LIBRARY_DIR)));
    QStringList fatals;
    FrmMultiBuf form(card, [&](const QString& m) { fatals << m; });
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    form.setSaveFolder(folder.path());
    form.cmdStart_Click();
    QTest::qWait(700); // at 20000 scans/s about 14000 points: more than are saved
    form.cmdStop_Click();
    ASSERT_GE(form.state().DataPtr, 10000);
    form.CmdSave_Click();
    ASSERT_TRUE(fatals.isEmpty());
    EXPECT_EQ(form.findChild<QLabel*>(QStringLiteral("lblBlock"))->text(),
              QStringLiteral("保存完毕！文件名Data.csv"));
    EXPECT_TRUE(form.findChild<QPushButton*>(QStringLiteral("CmdSave"))->isEnabled());

    QFile file(folder.filePath(QStringLiteral("Data.csv")));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().split('\n');
    ASSERT_EQ(lines.size(),
              10003); // title, header, 10000 rows, and the empty rest after the last CR LF
    EXPECT_EQ(lines[1], ",\"CH1\",\"CH2\",\"CH3\",\"CH4\"\r");
    EXPECT_TRUE(lines.back().isEmpty());
    int previous = -1;
    for (int row = 0; row < 10000; ++row) {
        const QList<QByteArray> fields = lines[row + 2].split(',');
        ASSERT_EQ(fields.size(), 6) << row;
        EXPECT_EQ(fields[0].toInt(), row);
        const int counter = fields[4].toInt();
        if (previous >= 0) {
            ASSERT_EQ(counter, (previous + 1) % 65536) << "row " << row;
        }
        previous = counter;
    }
    // The last row is the newest point.
    EXPECT_EQ(previous, form.state().AdData(4, form.state().DataPtr - 1));
}
