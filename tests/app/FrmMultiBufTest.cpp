#include "WindowFixture.h"
#include "display/UpDown.h"
#include "driver/LibraryDriver.h"

#include <QApplication>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

TEST(MainWindow, ControlsHaveTheirStoredTextGeometryAndContainer) {
    Window w;
    EXPECT_EQ(w.form->windowTitle(), QStringLiteral("Velmarq  综合数据采集例程"));
    EXPECT_EQ(w.form->size(), QSize(847, 551));
    const struct {
        const char* name;
        const char* container;
        const char* text;
        QRect geometry; // pixels: twips / 15
    } controls[] = {
        {"Frame4", "FrmMultiBuf", "全部通道采集数据", {3, 36, 172, 430}},
        {"OptADValue_1", "Frame4", "最新平均值", {36, 396, 94, 19}},
        {"OptADValue_0", "Frame4", "最新瞬时值", {36, 372, 94, 19}},
        {"Frame3", "FrmMultiBuf", "画图", {399, 3, 136, 67}},
        {"txtXNum", "Frame3", "200", {60, 42, 46, 18}},
        {"txtPicChn", "Frame3", "1", {81, 15, 25, 19}},
        {"Label4_2", "Frame3", "X轴点数:", {9, 45, 48, 12}},
        {"Label4_1", "Frame3", "图形显示通道:", {3, 18, 78, 12}},
        {"Frame2", "FrmMultiBuf", "采样参数", {234, 9, 151, 58}},
        {"txtSampFreq", "Frame2", "20000", {75, 21, 52, 19}},
        {"Label1_1", "Frame2", "采样频率:", {12, 24, 54, 12}},
        {"Frame1", "FrmMultiBuf", "文件保存", {552, 6, 163, 64}},
        {"txtSaveNum", "Frame1", "10000", {6, 36, 58, 22}},
        {"CmdSave", "Frame1", "保存文件", {75, 33, 78, 22}},
        {"Label1_0", "Frame1", "数据点数:", {9, 18, 54, 12}},
        {"cmdStop", "FrmMultiBuf", "停止采集", {303, 438, 78, 22}},
        {"cmdStart", "FrmMultiBuf", "开始采集", {198, 438, 78, 22}},
        {"cmdExit", "FrmMultiBuf", "退出", {411, 438, 78, 22}},
        {"Label1_2", "FrmMultiBuf", "硬件名称:", {9, 9, 54, 12}},
        {"lblXnum", "FrmMultiBuf", "1000", {807, 435, 24, 12}},
        {"LabCurChnADVal", "FrmMultiBuf", "0V", {663, 93, 12, 12}},
        {"LabLowerLimit", "FrmMultiBuf", "-5", {180, 411, 12, 12}},
        {"LabUpperLimit", "FrmMultiBuf", "+5", {180, 115, 12, 12}},
        {"Label4_0", "FrmMultiBuf", "接收数据块数:", {237, 90, 78, 12}},
        {"lblBlock", "FrmMultiBuf", "Label2", {325, 91, 38, 12}},
    };
    for (const auto& c : controls) {
        SCOPED_TRACE(c.name);
        QWidget* widget = w.get(c.name);
        ASSERT_NE(widget, nullptr);
        EXPECT_EQ(widget->parentWidget()->objectName(), QString::fromLatin1(c.container));
        EXPECT_EQ(w.text(c.name), QString::fromUtf8(c.text));
        if (qobject_cast<QLabel*>(widget) != nullptr) {
            // Labels keep their place and grow, never shrink, to fit the font.
            EXPECT_EQ(widget->pos(), c.geometry.topLeft());
            EXPECT_GE(widget->width(), c.geometry.width());
            EXPECT_GE(widget->height(), c.geometry.height());
            EXPECT_GE(widget->width(), widget->fontMetrics().horizontalAdvance(w.text(c.name)));
        } else {
            EXPECT_EQ(widget->geometry(), c.geometry);
        }
    }
    EXPECT_EQ(w.get("TxtADResult")->geometry(), QRect(12, 15, 154, 346));
    EXPECT_EQ(w.get("TxtADResult")->parentWidget()->objectName(), "Frame4");
    EXPECT_TRUE(w.get<QPlainTextEdit>("TxtADResult")->isReadOnly());
    EXPECT_TRUE(w.get<QPlainTextEdit>("TxtADResult")->toPlainText().isEmpty());
    EXPECT_EQ(w.get("PicDraw")->geometry(), QRect(197, 115, 641, 313));
    EXPECT_EQ(w.get("UpDownChn")->geometry(), QRect(108, 9, 16, 28));
    EXPECT_EQ(w.get("UpDownXNum")->geometry(), QRect(108, 36, 16, 28));
    EXPECT_TRUE(w.get<QRadioButton>("OptADValue_1")->isChecked());
    EXPECT_FALSE(w.get<QRadioButton>("OptADValue_0")->isChecked());
}

TEST(MainWindow, LoadShowsTheCardAndSetsTheInitialState) {
    Window w({'P', 'C', 'I', '-', '1', '7', 0, 'x'});
    EXPECT_TRUE(w.fatals.isEmpty());
    EXPECT_EQ(w.text("lblHardInfo"), "PCI-17");
    EXPECT_EQ(w.card.calls, std::vector<std::string>{"ConfigInfo"});
    const AcqState& s = w.form->state();
    EXPECT_EQ(s.AdZero, 2048);
    EXPECT_EQ(s.AdSpan, 4096);
    EXPECT_EQ(s.XNum, 200);
    EXPECT_EQ(s.CurChn, 1);
    auto* xnum = w.get<UpDown>("UpDownXNum");
    EXPECT_EQ(xnum->Max(), 32000);
    EXPECT_EQ(xnum->Value(), 200);
    EXPECT_EQ(xnum->Increment(), 50);
    auto* chn = w.get<UpDown>("UpDownChn");
    EXPECT_EQ(chn->Min(), 0);
    EXPECT_EQ(chn->Max(), 32);
    EXPECT_EQ(chn->Value(), 1);
    EXPECT_TRUE(w.get("cmdStart")->isEnabled());
    EXPECT_TRUE(w.get("cmdExit")->isEnabled());
    EXPECT_FALSE(w.get("cmdStop")->isEnabled());
    EXPECT_FALSE(w.get("CmdSave")->isEnabled());
    EXPECT_FALSE(w.form->timerRunning());

    Window empty({0, 'A'});
    EXPECT_EQ(empty.text("lblHardInfo"), "");
}

TEST(MainWindow, TheCardsNameIsShownAsItsCharactersNeverAsMarkup) {
    const QByteArray name = "<b>A</b>&lt;";
    std::vector<std::uint8_t> bytes(name.begin(), name.end());
    bytes.push_back(0);
    Window w(bytes);
    auto* label = w.get<QLabel>("lblHardInfo");
    EXPECT_EQ(label->text(), QString::fromLatin1(name));
    // Drawn as markup, the label would need room for "A<" only.
    EXPECT_GE(label->width(), label->fontMetrics().horizontalAdvance(QString::fromLatin1(name)));
}

TEST(MainWindow, FocusStartsOnExitAndTabSkipsTheDisabledStop) {
    Window w;
    w.show();
    EXPECT_EQ(QApplication::focusWidget(), w.get("cmdExit"));
    const char* order[] = {"cmdStart",  "PicDraw", "txtSaveNum", "txtSampFreq", "txtPicChn",
                           "UpDownChn", "txtXNum", "UpDownXNum", "TxtADResult"};
    for (const char* next : order) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget()->objectName(), QString::fromLatin1(next));
    }
    for (auto* b : w.form->findChildren<QPushButton*>()) {
        EXPECT_FALSE(b->isDefault()) << b->objectName().toStdString();
    }
}

TEST(MainWindow, EnterOrSpaceOnTheFocusedExitStopsTheCardTwiceAndCloses) {
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Space}) {
        Window w;
        w.show();
        QTest::keyClick(w.get("cmdExit"), key);
        EXPECT_FALSE(w.form->isVisible());
        EXPECT_EQ(w.card.count("StopIntr"), 2);
    }
    Window closed;
    closed.show();
    closed.form->close(); // the close box
    EXPECT_EQ(closed.card.count("StopIntr"), 1);
}

TEST(MainWindow, StartAndStopSwitchButtonsTimerAndLimits) {
    Window w;
    w.click("cmdStart");
    EXPECT_TRUE(w.form->timerRunning());
    EXPECT_FALSE(w.get("cmdStart")->isEnabled());
    EXPECT_TRUE(w.get("cmdStop")->isEnabled());
    EXPECT_FALSE(w.get("CmdSave")->isEnabled());
    EXPECT_EQ(w.text("LabUpperLimit"), "+5V");
    EXPECT_EQ(w.text("LabLowerLimit"), "-5V");
    EXPECT_EQ(w.text("lblBlock"), "Label2"); // a start leaves the status line
    EXPECT_EQ(w.form->state().AdData(16, 31999), 2048);
    ASSERT_EQ(w.card.startCalls.size(), 1U);
    EXPECT_EQ(w.card.startCalls[0].sampFreq, 20000);

    w.click("cmdStop");
    EXPECT_FALSE(w.form->timerRunning());
    EXPECT_TRUE(w.get("cmdStart")->isEnabled());
    EXPECT_FALSE(w.get("cmdStop")->isEnabled());
    EXPECT_TRUE(w.get("CmdSave")->isEnabled());
    EXPECT_EQ(w.text("LabUpperLimit"), "+5V");
    EXPECT_EQ(w.card.count("StopIntr"), 2);
}

TEST(MainWindow, AFailedStartShowsTheErrorAndChangesNoControl) {
    const struct {
        const char* rate;
        std::int32_t initialResult, startResult, error;
        const char* message;
    } cases[] = {
        {"20000", 0, 1, 13, "初始化错误，Error=13"},
        {"20000", 1, 0, -2, "启动采集错误，Error=-2"},
        {"abc", 1, 1, 0, "采样频率错误，请输入不小于1的数值"},
        {"0.4", 1, 1, 0, "采样频率错误，请输入不小于1的数值"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        Window w;
        w.card.initialResult = c.initialResult;
        w.card.startResult = c.startResult;
        w.card.lastError = c.error;
        w.get<QLineEdit>("txtSampFreq")->setText(QString::fromUtf8(c.rate));
        w.click("cmdStart");
        EXPECT_EQ(w.text("lblBlock"), QString::fromUtf8(c.message));
        EXPECT_FALSE(w.form->timerRunning());
        EXPECT_TRUE(w.get("cmdStart")->isEnabled());
        EXPECT_FALSE(w.get("cmdStop")->isEnabled());
        EXPECT_FALSE(w.get("CmdSave")->isEnabled());
        EXPECT_EQ(w.text("LabUpperLimit"), "+5");
        // The label grows to the right to fit the message.
        auto* status = w.get<QLabel>("lblBlock");
        EXPECT_EQ(status->pos(), QPoint(325, 91));
        EXPECT_GE(status->width(), status->fontMetrics().horizontalAdvance(status->text()));
    }
}

TEST(MainWindow, RestartKeepsBlockTotalAndRefillsTheRing) {
    Window w;
    w.click("cmdStart");
    w.card.queryAnswers = {2};
    w.form->TimerAD_Timer();
    EXPECT_EQ(w.form->state().BlockTotal, 2);
    EXPECT_EQ(w.form->state().DataPtr, 1000);
    EXPECT_EQ(w.text("lblBlock"), QStringLiteral("采集缓冲区个数 2       采集数据指针: 1000"));
    w.click("cmdStop");
    w.click("cmdStart");
    EXPECT_EQ(w.form->state().BlockTotal, 2);
    EXPECT_EQ(w.form->state().DataPtr, 0);
    EXPECT_EQ(w.form->state().AdData(3, 5), 2048);
}

TEST(MainWindow, MissingLibraryIsFatalAndNamesTheLibrary) {
    LibraryDriver missing(QStringLiteral("/nonexistent/dir/tovira"));
    QStringList fatals;
    FrmMultiBuf form(missing, [&](const QString& m) { fatals << m; });
    ASSERT_EQ(fatals.size(), 1);
    // The path as the system writes it, and the system's reason after it.
    EXPECT_TRUE(fatals[0].startsWith(
        QStringLiteral("无法加载驱动程序库 %1：")
            .arg(QDir::toNativeSeparators(QStringLiteral("/nonexistent/dir/tovira")))))
        << fatals[0].toStdString();
#if !defined(_WIN32)
    EXPECT_TRUE(fatals[0].contains(QStringLiteral("No such file"))) << fatals[0].toStdString();
#endif
}

TEST(UpDownControl, ClampsAtItsLimitsAndSignalsOnlyRealChanges) {
    UpDown u;
    u.setMin(10);
    u.setMax(100);
    u.setValue(20);
    u.setIncrement(50);
    int changes = 0;
    QObject::connect(&u, &UpDown::Change, [&] { ++changes; });
    QTest::mouseClick(u.upButton(), Qt::LeftButton);
    EXPECT_EQ(u.Value(), 70);
    QTest::mouseClick(u.upButton(), Qt::LeftButton);
    EXPECT_EQ(u.Value(), 100);
    QTest::mouseClick(u.upButton(), Qt::LeftButton); // at the limit: no change
    EXPECT_EQ(changes, 2);
    QTest::keyClick(&u, Qt::Key_Down);
    EXPECT_EQ(u.Value(), 50);
    QTest::keyClick(&u, Qt::Key_Down);
    QTest::keyClick(&u, Qt::Key_Down);
    EXPECT_EQ(u.Value(), 10);
    EXPECT_EQ(changes, 4);
    u.setIncrement(2147483647);
    u.stepUp(); // no overflow past the int range
    EXPECT_EQ(u.Value(), 100);
}
