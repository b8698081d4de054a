#pragma once

#include "acquisition/AcqState.h"
#include "display/Readouts.h"

#include <QWidget>

#include <chrono>
#include <functional>
#include <string>

class AdDriver;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QTimer;
class UpDown;
class WavePlot;

/// The program's one window: its controls, the acquisition state it owns and
/// the thin handlers that connect the two. Every handler catches the program's
/// fatal errors at its edge and hands them to the fatal handler.
class FrmMultiBuf final : public QWidget {
    Q_OBJECT
public:
    /// Called with the text of a fatal error; it is expected to end the program.
    using FatalHandler = std::function<void(const QString&)>;

    static constexpr std::chrono::milliseconds kDrainInterval{50};

    /// Builds the controls and runs Form_Load, so the window is ready to show.
    FrmMultiBuf(AdDriver& driver, FatalHandler onFatal, QWidget* parent = nullptr);

    const AcqState& state() const { return m_state; }
    AcqState& state() { return m_state; }
    bool timerRunning() const;
    /// Data.csv goes beside the program; tests and tools may point it elsewhere.
    void setSaveFolder(const QString& folder) { m_saveFolder = folder; }

    // Event handlers, public so tests and tools can drive them as a click would.
    void Form_Load();
    void cmdExit_Click();
    void cmdStart_Click();
    void cmdStop_Click();
    void CmdSave_Click();
    void TimerAD_Timer();
    void UpDownChn_Change();
    void UpDownXNum_Change();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void createControls();
    void setTabOrder();
    void Form_Unload();
    void ShowInstantValues();
    void ShowAverageValues();
    void setCaption(QLabel* label, const QString& text);
    template <typename F> void guarded(F&& handler);

    AdDriver& m_driver;
    FatalHandler m_onFatal;
    QString m_saveFolder;
    AcqState m_state;
    // The readout's text buffers, kept so their capacity survives from tick to
    // tick; the widgets still get new strings of their own.
    InstantReadout m_instant;
    std::string m_averageText;

    QGroupBox* Frame1 = nullptr;
    QGroupBox* Frame2 = nullptr;
    QGroupBox* Frame3 = nullptr;
    QGroupBox* Frame4 = nullptr;
    QRadioButton* OptADValue_0 = nullptr;
    QRadioButton* OptADValue_1 = nullptr;
    QPlainTextEdit* TxtADResult = nullptr;
    QLineEdit* txtXNum = nullptr;
    QLineEdit* txtPicChn = nullptr;
    UpDown* UpDownChn = nullptr;
    UpDown* UpDownXNum = nullptr;
    QLabel* Label4_0 = nullptr;
    QLabel* Label4_1 = nullptr;
    QLabel* Label4_2 = nullptr;
    QLineEdit* txtSampFreq = nullptr;
    QLabel* Label1_0 = nullptr;
    QLabel* Label1_1 = nullptr;
    QLabel* Label1_2 = nullptr;
    QLineEdit* txtSaveNum = nullptr;
    QPushButton* CmdSave = nullptr;
    WavePlot* PicDraw = nullptr;
    QPushButton* cmdStop = nullptr;
    QPushButton* cmdStart = nullptr;
    QPushButton* cmdExit = nullptr;
    QTimer* TimerAD = nullptr;
    QLabel* lblHardInfo = nullptr;
    QLabel* lblXnum = nullptr;
    QLabel* LabCurChnADVal = nullptr;
    QLabel* LabLowerLimit = nullptr;
    QLabel* LabUpperLimit = nullptr;
    QLabel* lblBlock = nullptr;
};
