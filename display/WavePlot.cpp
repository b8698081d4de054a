#include "WavePlot.h"

#include "AcqState.h"
#include "FatalError.h"
#include "NumberText.h"

#include <QPaintEvent>
#include <QPainter>
#include <QPen>

#include <array>
#include <cstddef>

WavePlot::WavePlot(QWidget* parent) : QFrame(parent) {
    // A white plot with the classic sunken border; the trace uses the
    // foreground colour, so a caller can recolour both through the palette.
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setLineWidth(2);
    QPalette colours = palette();
    colours.setColor(QPalette::Window, Qt::white);
    colours.setColor(QPalette::WindowText, Qt::black);
    setPalette(colours);
    setAutoFillBackground(true);
    m_trace.reserve(static_cast<std::size_t>(kRingPoints));
}

void WavePlot::Cls() {
    m_trace.clear();
    update();
}

void WavePlot::setScale(std::int32_t xRight, std::int32_t yTop) {
    m_hasScale = xRight != 0 && yTop != 0;
    m_xRight = m_hasScale ? xRight : 0;
    m_yTop = m_hasScale ? yTop : 0;
}

std::span<std::int32_t> WavePlot::newTrace(std::int32_t points) {
    m_trace.assign(static_cast<std::size_t>(points > 0 ? points : 0), 0);
    m_traceXRight = m_xRight;
    m_traceYTop = m_yTop;
    m_traceHasScale = m_hasScale;
    update();
    return m_trace;
}

void WavePlot::paintEvent(QPaintEvent* event) {
    QFrame::paintEvent(event);
    if (m_trace.empty() || !m_traceHasScale)
        return;
    QPainter painter(this);
    const QRect area = contentsRect();
    painter.setClipRect(area);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(QPen(palette().color(QPalette::WindowText), 0));
    paintTrace(painter, area, m_trace, m_traceXRight, m_traceYTop);
}

std::int32_t traceStart(std::int32_t dataPtr, std::int32_t points) {
    return ringStepBack(dataPtr, points);
}

bool traceDrawable(const AcqState& state, std::int16_t channel) {
    return channel <= state.ChnCount;
}

namespace {

void checkTraceArgs(const AcqState& state, std::int16_t channel, std::size_t points) {
    if (channel < 0 || channel >= kRingRows)
        throw FatalError("通道号超出范围：" + PlainNumText(channel));
    if (state.DataPtr < 0 || state.DataPtr >= kRingPoints)
        throw FatalError("数据指针超出范围：" + PlainNumText(state.DataPtr));
    if (points < 1 || points > static_cast<std::size_t>(kRingPoints))
        throw FatalError("X轴点数超出范围：" + PlainNumText(static_cast<std::int64_t>(points)));
}

} // namespace

void waveTrace(const AcqState& state, std::int16_t channel, std::span<std::int32_t> out) {
    checkTraceArgs(state, channel, out.size());
    std::int32_t p = traceStart(state.DataPtr, static_cast<std::int32_t>(out.size()));
    for (std::int32_t& code : out) {
        code = state.AdData(channel, p);
        p = ringAdvance(p);
    }
}

void DrawWave(WavePlot& plot, const AcqState& state, std::int16_t channel) {
    if (!traceDrawable(state, channel))
        return;
    // Checked before the plot is touched, so a bad argument does not blank it.
    checkTraceArgs(state, channel, static_cast<std::size_t>(state.XNum < 0 ? 0 : state.XNum));
    waveTrace(state, channel, plot.newTrace(state.XNum));
}

void paintTrace(QPainter& painter, const QRect& area, std::span<const std::int32_t> codes,
                std::int32_t xRight, std::int32_t yTop) {
    if (codes.empty() || xRight == 0 || yTop == 0)
        return;
    // The edges of the coordinate system are the outermost pixel rows and
    // columns of the area, so a trace at code 0 or at yTop stays visible.
    const double left = area.left();
    const double top = area.top();
    const double xScale = static_cast<double>(area.width() - 1) / xRight;
    const double yScale = static_cast<double>(area.height() - 1) / yTop;
    const auto vertex = [&](std::size_t k) {
        return QPointF(left + static_cast<double>(k) * xScale,
                       top + (static_cast<double>(yTop) - codes[k]) * yScale);
    };

    if (codes.size() == 1) {
        painter.drawPoint(vertex(0));
        return;
    }
    // One polyline in pieces from a fixed buffer: a 32000-point trace is painted
    // without allocating. Each piece starts at the last vertex of the one before,
    // so the line is unbroken.
    constexpr std::size_t kPiece = 1024;
    std::array<QPointF, kPiece> points;
    std::size_t first = 0;
    while (first + 1 < codes.size()) {
        std::size_t n = 0;
        for (std::size_t k = first; k < codes.size() && n < kPiece; ++k)
            points[n++] = vertex(k);
        painter.drawPolyline(points.data(), static_cast<int>(n));
        first += n - 1;
    }
}
