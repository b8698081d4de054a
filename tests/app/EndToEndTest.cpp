#include "LibraryDriver.h"
#include "WindowFixture.h"

#include <QLineEdit>

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
    form.findChild<QLineEdit*>(QStringLiteral("txtSampFreq"))->setText(QString::fromLatin1(GetParam()));
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
