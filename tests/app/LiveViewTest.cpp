#include "WindowFixture.h"
#include "display/UpDown.h"
#include "display/WavePlot.h"

#include <QFile>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QToolButton>

namespace {

QString readout(const Window& w) {
    return w.get<QPlainTextEdit>("TxtADResult")->toPlainText();
}

void clickUp(const Window& w, const char* upDown) {
    QTest::mouseClick(w.get<UpDown>(upDown)->upButton(), Qt::LeftButton);
}

} // namespace

TEST(Tick, WithoutBlocksChangesNothingNotEvenTheStatusLine) {
    Window w;
    w.click("cmdStart");
    w.card.queryAnswers = {0};
    w.form->TimerAD_Timer();
    EXPECT_EQ(w.text("lblBlock"), "Label2");
    EXPECT_EQ(w.form->state().BlockTotal, 0);
    EXPECT_TRUE(readout(w).isEmpty());
    EXPECT_TRUE(w.get<WavePlot>("PicDraw")->trace().empty());
    EXPECT_EQ(w.card.count("ADResult"), 0);
}

TEST(Tick, RefreshesPlotAndTheChosenReadoutOncePerTick) {
    Window w;
    w.click("cmdStart");
    w.tickFlatBlocks(2);
    EXPECT_EQ(w.card.count("ADResult"), 2);
    EXPECT_EQ(w.text("lblBlock"), QStringLiteral("采集缓冲区个数 2       采集数据指针: 1000"));
    // Averages are the default; they leave the single-value label alone.
    EXPECT_TRUE(readout(w).startsWith(QStringLiteral("最新采集平均值:\n")))
        << readout(w).toStdString();
    EXPECT_TRUE(readout(w).contains(QStringLiteral("Ch 1=03E9   V: -2.556")));
    EXPECT_EQ(w.text("LabCurChnADVal"), "0V");
    // The plot shows the newest 200 points of channel 1.
    const auto trace = w.get<WavePlot>("PicDraw")->trace();
    ASSERT_EQ(trace.size(), 200U);
    EXPECT_EQ(trace.front(), 1001);
    EXPECT_EQ(trace.back(), 1001);

    w.get<QRadioButton>("OptADValue_0")->click();
    w.tickFlatBlocks(1);
    EXPECT_TRUE(readout(w).startsWith(QStringLiteral("最新采集瞬时值:\n")));
    EXPECT_EQ(w.text("LabCurChnADVal"), "Chn1 = -2.556");
    EXPECT_EQ(w.text("lblBlock"), QStringLiteral("采集缓冲区个数 3       采集数据指针: 1500"));
}

TEST(Tick, ANegativeCountCopiesNothingButCountsDown) {
    Window w;
    w.click("cmdStart");
    w.card.queryAnswers = {0xFFFD}; // -3 in the low 16 bits
    w.form->TimerAD_Timer();
    EXPECT_EQ(w.card.count("ADResult"), 0);
    EXPECT_EQ(w.form->state().BlockTotal, -3);
    EXPECT_EQ(w.text("lblBlock"), QStringLiteral("采集缓冲区个数-3       采集数据指针: 0"));
    EXPECT_EQ(w.get<WavePlot>("PicDraw")->trace().size(), 200U); // still redrawn
}

TEST(Tick, AZeroSpanShowsDashesAndKeepsRunning) {
    Window w;
    w.card.span = 0.0F;
    w.form = std::make_unique<FrmMultiBuf>(w.card, [&](const QString& m) { w.fatals << m; });
    w.click("cmdStart");
    w.get<QRadioButton>("OptADValue_0")->click();
    w.tickFlatBlocks(1);
    EXPECT_TRUE(w.fatals.isEmpty());
    EXPECT_TRUE(w.form->timerRunning());
    EXPECT_TRUE(readout(w).contains(QStringLiteral("Ch 1=03E9   V: ----")));
    EXPECT_EQ(w.text("LabCurChnADVal"), "Chn1 = ----");
    EXPECT_FALSE(w.get<WavePlot>("PicDraw")->hasScale());
    // The plot stays blank however the view changes.
    clickUp(w, "UpDownXNum");
    EXPECT_TRUE(w.fatals.isEmpty());
    EXPECT_FALSE(w.get<WavePlot>("PicDraw")->hasScale());
}

TEST(ViewControls, PointCountRescalesRedrawsAndAdaptsItsStep) {
    Window w;
    auto* xnum = w.get<UpDown>("UpDownXNum");
    auto* plot = w.get<WavePlot>("PicDraw");
    const struct {
        int value;
        int step;
    } clicks[] = {{250, 20}, {270, 20}, {290, 20}};
    for (const auto& c : clicks) {
        clickUp(w, "UpDownXNum");
        EXPECT_EQ(xnum->Value(), c.value);
        EXPECT_EQ(xnum->Increment(), c.step);
        EXPECT_EQ(w.form->state().XNum, c.value);
        EXPECT_EQ(w.text("txtXNum"), QString::number(c.value));
        EXPECT_EQ(w.text("lblXnum"), " " + QString::number(c.value));
        EXPECT_EQ(plot->scaleRight(), c.value - 1);
        EXPECT_EQ(plot->scaleTop(), 4096);
        // Before the first start only channel 0 is drawable; channel 1 stays blank.
        EXPECT_TRUE(plot->trace().empty());
    }
    for (int i = 0; i < 11; ++i)
        clickUp(w, "UpDownXNum");
    EXPECT_EQ(xnum->Value(), 510);
    EXPECT_EQ(xnum->Increment(), 50);
    QTest::keyClick(xnum, Qt::Key_Down);
    EXPECT_EQ(xnum->Value(), 460);
    EXPECT_EQ(xnum->Increment(), 20);

    // Channel 0 is drawn even before a start, as a flat trace of the zeroed ring.
    for (int i = 0; i < 1; ++i)
        QTest::mouseClick(w.get<UpDown>("UpDownChn")->downButton(), Qt::LeftButton);
    EXPECT_EQ(w.text("txtPicChn"), " 0");
    EXPECT_TRUE(plot->trace().empty()); // a channel change alone does not redraw
    clickUp(w, "UpDownXNum");
    ASSERT_EQ(plot->trace().size(), 480U);
    EXPECT_EQ(plot->trace()[0], 0);
}

TEST(ViewControls, ChannelChoiceShowsFromTheNextTickAndWhileStoppedOnPointChange) {
    Window w;
    w.click("cmdStart");
    w.tickFlatBlocks(1);
    w.click("cmdStop");
    auto* plot = w.get<WavePlot>("PicDraw");
    ASSERT_EQ(plot->trace().front(), 1001);

    clickUp(w, "UpDownChn");
    EXPECT_EQ(w.form->state().CurChn, 2);
    EXPECT_EQ(w.text("txtPicChn"), " 2");
    EXPECT_EQ(plot->trace().front(), 1001); // unchanged until a redraw
    clickUp(w, "UpDownXNum");               // redraws at once, also while stopped
    EXPECT_EQ(plot->trace().size(), 250U);
    EXPECT_EQ(plot->trace().back(), 1002);

    // Channels above 17 cannot be drawn: a point change leaves the plot blank.
    w.get<UpDown>("UpDownChn")->setValue(20);
    EXPECT_EQ(w.form->state().CurChn, 20);
    clickUp(w, "UpDownXNum");
    EXPECT_TRUE(plot->trace().empty());
    EXPECT_TRUE(w.fatals.isEmpty());
}

TEST(Save, ReportsTheOutcomeAndEnablesTheButtonEitherWay) {
    Window w;
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    w.stopAfterOneFlatBlock(folder.path());

    w.get<QLineEdit>("txtSaveNum")->setText(QStringLiteral("2"));
    w.click("CmdSave");
    EXPECT_EQ(w.text("lblBlock"), QStringLiteral("保存完毕！文件名Data.csv"));
    EXPECT_TRUE(w.get("CmdSave")->isEnabled());
    QFile saved(folder.filePath(QStringLiteral("Data.csv")));
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_EQ(saved.readAll(), QByteArray("\"\xCA\xFD\xBE\xDD\xB2\xC9\xBC\xAF\xBD\xE1\xB9\xFB\"\r\n"
                                          ",\"CH1\",\"CH2\",\"CH3\",\"CH4\"\r\n"
                                          "0,1001,1002,1003,1004,\r\n"
                                          "1,1001,1002,1003,1004,\r\n"));
    saved.close();

    // A count beyond 16 bits fails and leaves the earlier file as it was.
    w.get<QLineEdit>("txtSaveNum")->setText(QStringLiteral("40000"));
    w.click("CmdSave");
    EXPECT_EQ(w.text("lblBlock"),
              QStringLiteral("保存文件失败！可能是您正在编辑Data.csv文件，请先退出该文件"));
    EXPECT_TRUE(w.get("CmdSave")->isEnabled());
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_EQ(saved.readAll().count('\n'), 4);
}
