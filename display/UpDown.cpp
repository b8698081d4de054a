#include "UpDown.h"

#include <QKeyEvent>
#include <QToolButton>

#include <algorithm>

UpDown::UpDown(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::StrongFocus);
    m_up = new QToolButton(this);
    m_down = new QToolButton(this);
    m_up->setArrowType(Qt::UpArrow);
    m_down->setArrowType(Qt::DownArrow);
    m_up->setAccessibleName(QStringLiteral("增加"));
    m_down->setAccessibleName(QStringLiteral("减少"));
    for (QToolButton* b : {m_up, m_down}) {
        // The pair takes the focus as one control, like the platform's own.
        b->setFocusPolicy(Qt::NoFocus);
        b->setAutoRepeat(true);
    }
    connect(m_up, &QToolButton::clicked, this, &UpDown::stepUp);
    connect(m_down, &QToolButton::clicked, this, &UpDown::stepDown);
}

void UpDown::setMin(int min) {
    m_min = min;
    m_value = std::max(m_value, m_min);
}

void UpDown::setMax(int max) {
    m_max = max;
    m_value = std::min(m_value, m_max);
}

void UpDown::setClamped(long long value) {
    const long long clamped = std::clamp<long long>(value, m_min, std::max(m_min, m_max));
    if (clamped == m_value)
        return;
    m_value = static_cast<int>(clamped);
    emit Change();
}

void UpDown::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Up:
        stepUp();
        break;
    case Qt::Key_Down:
        stepDown();
        break;
    default:
        QWidget::keyPressEvent(event);
    }
}

void UpDown::resizeEvent(QResizeEvent*) {
    const int half = height() / 2;
    m_up->setGeometry(0, 0, width(), half);
    m_down->setGeometry(0, half, width(), height() - half);
}
