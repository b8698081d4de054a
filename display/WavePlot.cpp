#include "WavePlot.h"

#include "NumberText.h"
#include "TraceRaster.h"
#include "acquisition/AcqState.h"
#include "base/FatalError.h"

#include <QPaintEvent>
#include <QPainter>
#include <QPen>

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
    // The raster keeps its buffers between traces; one per thread, as painters
    // on images may work outside the user-interface thread.
    thread_local TraceRaster raster;
    raster.paint(painter, area, codes, xRight, yTop);
}
