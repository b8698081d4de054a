#pragma once

#include <QWidget>

class QToolButton;

/// A pair of arrow buttons holding an integer between Min and Max, moved by
/// Increment per click or arrow key. Emits Change only when the value really
/// changes; a click at a limit does nothing.
class UpDown final : public QWidget {
    Q_OBJECT
public:
    explicit UpDown(QWidget* parent = nullptr);

    int Min() const { return m_min; }
    int Max() const { return m_max; }
    int Value() const { return m_value; }
    int Increment() const { return m_increment; }

    void setMin(int min);
    void setMax(int max);
    void setIncrement(int increment) { m_increment = increment; }
    /// Sets the value, clamped to the limits; emits Change if it differs.
    void setValue(int value) { setClamped(value); }

    void stepUp() { setClamped(static_cast<long long>(m_value) + m_increment); }
    void stepDown() { setClamped(static_cast<long long>(m_value) - m_increment); }

    QToolButton* upButton() const { return m_up; }
    QToolButton* downButton() const { return m_down; }

signals:
    void Change();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // Wide argument so that a step past the int range cannot wrap around.
    void setClamped(long long value);

    QToolButton* m_up = nullptr;
    QToolButton* m_down = nullptr;
    int m_min = 0;
    int m_max = 10;
    int m_value = 0;
    int m_increment = 1;
};
