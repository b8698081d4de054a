#include "FrmMultiBuf.h"

#include "acquisition/CardSetup.h"
#include "acquisition/Drain.h"
#include "acquisition/StartStop.h"
#include "display/NumberText.h"
#include "display/StatusText.h"
#include "display/UpDown.h"
#include "display/ViewControls.h"
#include "display/WavePlot.h"
#include "driver/AdDriver.h"
#include "export/CsvExport.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

namespace {

// The window's layout is kept in twips; 15 twips make one pixel at 96 dpi, and
// Qt scales pixels for high-DPI screens.
constexpr int kTwipsPerPixel = 15;

QRect twips(int left, int top, int width, int height) {
    return {left / kTwipsPerPixel, top / kTwipsPerPixel, width / kTwipsPerPixel,
            height / kTwipsPerPixel};
}

template <typename W> W* place(W* widget, const char* name, const QRect& geometry) {
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(geometry);
    return widget;
}

QGroupBox* frame(QWidget* parent, const char* name, const QString& caption, const QRect& r) {
    return place(new QGroupBox(caption, parent), name, r);
}

QLabel* label(QWidget* parent, const char* name, const QString& caption, const QRect& r) {
    auto* l = place(new QLabel(caption, parent), name, r);
    // Labels also show the card's name and other driver text: never markup.
    l->setTextFormat(Qt::PlainText);
    // The stored sizes fit the captions in the original font; where this
    // platform's font is larger, grow rather than clip the caption.
    l->resize(l->size().expandedTo(l->sizeHint()));
    return l;
}

QLineEdit* textBox(QWidget* parent, const char* name, const QString& text, const QRect& r) {
    auto* box = place(new QLineEdit(text, parent), name, r);
    // The stored heights are a text line and little more: no room for padding.
    box->setTextMargins(0, 0, 0, 0);
    return box;
}

QPushButton* button(QWidget* parent, const char* name, const QString& caption, const QRect& r) {
    auto* b = place(new QPushButton(caption, parent), name, r);
    // Enter presses the focused button; no button is the window's default.
    b->setAutoDefault(true);
    b->setDefault(false);
    return b;
}

QRadioButton* option(QWidget* parent, const char* name, const QString& caption, const QRect& r) {
    return place(new QRadioButton(caption, parent), name, r);
}

UpDown* upDown(QWidget* parent, const char* name, int min, int max, int value, int increment,
               const QRect& r) {
    auto* u = place(new UpDown(parent), name, r);
    u->setMin(min);
    u->setMax(max);
    u->setValue(value);
    u->setIncrement(increment);
    return u;
}

} // namespace

FrmMultiBuf::FrmMultiBuf(AdDriver& driver, FatalHandler onFatal, QWidget* parent)
    : QWidget(parent), m_driver(driver), m_onFatal(std::move(onFatal)),
      m_saveFolder(QCoreApplication::applicationDirPath()) {
    setObjectName(QStringLiteral("FrmMultiBuf"));
    setWindowTitle(QStringLiteral("Velmarq  综合数据采集例程"));
    // The stored sizes fit a font whose Chinese characters are 12 pixels wide.
    // Windows ships the first two; the last is Linux's usual Chinese font.
    QFont font;
    font.setFamilies({QStringLiteral("Microsoft YaHei UI"), QStringLiteral("SimSun"),
                      QStringLiteral("Noto Sans CJK SC")});
    font.setPixelSize(12);
    setFont(font);
    resize(twips(0, 0, 12705, 8265).size());
    createControls();
    setTabOrder();
    cmdExit->setFocus();
    Form_Load();
}

void FrmMultiBuf::createControls() {
    Frame4 = frame(this, "Frame4", QStringLiteral("全部通道采集数据"), twips(45, 540, 2580, 6450));
    OptADValue_1 =
        option(Frame4, "OptADValue_1", QStringLiteral("最新平均值"), twips(540, 5940, 1410, 285));
    OptADValue_0 =
        option(Frame4, "OptADValue_0", QStringLiteral("最新瞬时值"), twips(540, 5580, 1410, 285));
    OptADValue_1->setChecked(true);
    TxtADResult = place(new QPlainTextEdit(Frame4), "TxtADResult", twips(180, 225, 2310, 5190));
    TxtADResult->setReadOnly(true);
    TxtADResult->setTabChangesFocus(true);
    TxtADResult->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    TxtADResult->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    Frame3 = frame(this, "Frame3", QStringLiteral("画图"), twips(5985, 45, 2040, 1005));
    txtXNum = textBox(Frame3, "txtXNum", QStringLiteral("200"), twips(900, 630, 690, 270));
    txtPicChn = textBox(Frame3, "txtPicChn", QStringLiteral("1"), twips(1215, 225, 375, 285));
    UpDownChn =
        upDown(Frame3, "UpDownChn", 0, kSelectableChannels - 1, 1, 1, twips(1620, 135, 240, 420));
    UpDownXNum = upDown(Frame3, "UpDownXNum", 10, 32000, 200, 50, twips(1620, 540, 240, 420));
    Label4_2 = label(Frame3, "Label4_2", QStringLiteral("X轴点数:"), twips(135, 675, 720, 180));
    Label4_1 =
        label(Frame3, "Label4_1", QStringLiteral("图形显示通道:"), twips(45, 270, 1170, 180));

    Frame2 = frame(this, "Frame2", QStringLiteral("采样参数"), twips(3510, 135, 2265, 870));
    txtSampFreq =
        textBox(Frame2, "txtSampFreq", QStringLiteral("20000"), twips(1125, 315, 780, 285));
    Label1_1 = label(Frame2, "Label1_1", QStringLiteral("采样频率:"), twips(180, 360, 810, 180));

    Frame1 = frame(this, "Frame1", QStringLiteral("文件保存"), twips(8280, 90, 2445, 960));
    txtSaveNum = textBox(Frame1, "txtSaveNum", QStringLiteral("10000"), twips(90, 540, 870, 330));
    CmdSave = button(Frame1, "CmdSave", QStringLiteral("保存文件"), twips(1125, 495, 1170, 330));
    Label1_0 = label(Frame1, "Label1_0", QStringLiteral("数据点数:"), twips(135, 270, 810, 180));

    PicDraw = place(new WavePlot(this), "PicDraw", twips(2955, 1725, 9615, 4695));
    PicDraw->setFocusPolicy(Qt::StrongFocus);
    cmdStop = button(this, "cmdStop", QStringLiteral("停止采集"), twips(4545, 6570, 1170, 330));
    cmdStart = button(this, "cmdStart", QStringLiteral("开始采集"), twips(2970, 6570, 1170, 330));
    cmdExit = button(this, "cmdExit", QStringLiteral("退出"), twips(6165, 6570, 1170, 330));

    TimerAD = new QTimer(this);
    TimerAD->setObjectName(QStringLiteral("TimerAD"));
    TimerAD->setInterval(kDrainInterval);
    TimerAD->setTimerType(Qt::PreciseTimer);

    lblHardInfo =
        label(this, "lblHardInfo", QStringLiteral("采集卡名称"), twips(1080, 135, 900, 180));
    Label1_2 = label(this, "Label1_2", QStringLiteral("硬件名称:"), twips(135, 135, 810, 180));
    lblXnum = label(this, "lblXnum", QStringLiteral("1000"), twips(12105, 6525, 360, 180));
    LabCurChnADVal =
        label(this, "LabCurChnADVal", QStringLiteral("0V"), twips(9945, 1395, 180, 180));
    LabLowerLimit = label(this, "LabLowerLimit", QStringLiteral("-5"), twips(2700, 6165, 180, 180));
    LabUpperLimit = label(this, "LabUpperLimit", QStringLiteral("+5"), twips(2700, 1725, 180, 180));
    Label4_0 =
        label(this, "Label4_0", QStringLiteral("接收数据块数:"), twips(3555, 1350, 1170, 180));
    lblBlock = label(this, "lblBlock", QStringLiteral("Label2"), twips(4875, 1365, 570, 180));

    cmdStop->setEnabled(false);
    CmdSave->setEnabled(false);

    connect(cmdExit, &QPushButton::clicked, this, &FrmMultiBuf::cmdExit_Click);
    connect(cmdStart, &QPushButton::clicked, this, &FrmMultiBuf::cmdStart_Click);
    connect(cmdStop, &QPushButton::clicked, this, &FrmMultiBuf::cmdStop_Click);
    connect(CmdSave, &QPushButton::clicked, this, &FrmMultiBuf::CmdSave_Click);
    connect(TimerAD, &QTimer::timeout, this, &FrmMultiBuf::TimerAD_Timer);
    connect(UpDownChn, &UpDown::Change, this, &FrmMultiBuf::UpDownChn_Change);
    connect(UpDownXNum, &UpDown::Change, this, &FrmMultiBuf::UpDownXNum_Change);
}

void FrmMultiBuf::setTabOrder() {
    const QWidget* const order[] = {cmdExit,    cmdStart,    cmdStop,      PicDraw,     CmdSave,
                                    txtSaveNum, txtSampFreq, txtPicChn,    UpDownChn,   txtXNum,
                                    UpDownXNum, TxtADResult, OptADValue_0, OptADValue_1};
    for (std::size_t i = 0; i + 1 < std::size(order); ++i)
        QWidget::setTabOrder(const_cast<QWidget*>(order[i]), const_cast<QWidget*>(order[i + 1]));
}

bool FrmMultiBuf::timerRunning() const {
    return TimerAD->isActive();
}

template <typename F> void FrmMultiBuf::guarded(F&& handler) {
    try {
        handler();
    } catch (const std::exception& e) {
        // Nothing may run on after a fatal error, not even the next tick while
        // the message is on screen.
        TimerAD->stop();
        m_onFatal(QString::fromUtf8(e.what()));
    }
}

void FrmMultiBuf::setCaption(QLabel* label, const QString& text) {
    // Labels grow to the right to fit a caption written at run time.
    label->setText(text);
    label->adjustSize();
}

void FrmMultiBuf::Form_Load() {
    guarded([&] {
        UpDownXNum->setMax(32000);
        loadCard(m_driver, m_state, UpDownXNum->Value());
        // Each name byte is one character of its own.
        setCaption(lblHardInfo,
                   QString::fromLatin1(m_state.HardName.data(),
                                       static_cast<qsizetype>(m_state.HardName.size())));
    });
}

void FrmMultiBuf::Form_Unload() {
    guarded([&] { stopAcquisition(m_driver); });
}

void FrmMultiBuf::closeEvent(QCloseEvent* event) {
    Form_Unload();
    event->accept();
}

void FrmMultiBuf::cmdExit_Click() {
    guarded([&] { stopAcquisition(m_driver); });
    close();
}

void FrmMultiBuf::cmdStart_Click() {
    guarded([&] {
        const StartResult result =
            startAcquisition(m_driver, m_state, txtSampFreq->text().toStdString());
        if (result.outcome != StartOutcome::Started) {
            setCaption(lblBlock, QString::fromStdString(startFailureText(result)));
            return;
        }
        PicDraw->setScale(m_state.XNum - 1, m_state.AdSpan);
        TimerAD->start();
        cmdStart->setEnabled(false);
        cmdStop->setEnabled(true);
        CmdSave->setEnabled(false);
        setCaption(LabUpperLimit, QStringLiteral("+5V"));
        setCaption(LabLowerLimit, QStringLiteral("-5V"));
    });
}

void FrmMultiBuf::cmdStop_Click() {
    guarded([&] {
        stopAcquisition(m_driver);
        TimerAD->stop();
        cmdStart->setEnabled(true);
        cmdStop->setEnabled(false);
        CmdSave->setEnabled(true);
    });
}

void FrmMultiBuf::TimerAD_Timer() {
    guarded([&] {
        const std::int16_t c = m_state.CurChn;
        const std::int16_t n = drainReadyBlocks(m_driver, m_state);
        if (n == 0)
            return;
        DrawWave(*PicDraw, m_state, c);
        if (OptADValue_0->isChecked())
            ShowInstantValues();
        else
            ShowAverageValues();
        m_state.BlockTotal += n;
        setCaption(lblBlock,
                   QString::fromStdString(blockStatusText(m_state.BlockTotal, m_state.DataPtr)));
    });
}

void FrmMultiBuf::ShowInstantValues() {
    instantReadout(m_state, m_instant);
    TxtADResult->setPlainText(QString::fromStdString(m_instant.list));
    setCaption(LabCurChnADVal, QString::fromStdString(m_instant.label));
}

void FrmMultiBuf::ShowAverageValues() {
    averageReadout(m_state, m_averageText);
    TxtADResult->setPlainText(QString::fromStdString(m_averageText));
}

void FrmMultiBuf::UpDownChn_Change() {
    guarded([&] {
        const int value = UpDownChn->Value();
        txtPicChn->setText(QString::fromStdString(SpacedNumText(value)));
        m_state.CurChn = static_cast<std::int16_t>(value);
    });
}

void FrmMultiBuf::UpDownXNum_Change() {
    guarded([&] {
        const int value = UpDownXNum->Value();
        txtXNum->setText(QString::fromStdString(PlainNumText(value)));
        m_state.XNum = value;
        setCaption(lblXnum, QString::fromStdString(SpacedNumText(m_state.XNum)));
        PicDraw->Cls();
        PicDraw->setScale(m_state.XNum - 1, m_state.AdSpan);
        DrawWave(*PicDraw, m_state, m_state.CurChn);
        UpDownXNum->setIncrement(xNumIncrement(value));
    });
}

void FrmMultiBuf::CmdSave_Click() {
    guarded([&] {
        CmdSave->setEnabled(false);
        const SaveResult result =
            saveDataCsv(m_state, txtSaveNum->text().toStdString(), dataCsvPath(m_saveFolder));
        setCaption(lblBlock, QString::fromStdString(saveStatusText(result.ok)));
        CmdSave->setEnabled(true);
    });
}
