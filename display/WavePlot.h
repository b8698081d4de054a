#pragma once

#include <QFrame>

#include <cstdint>
#include <span>
#include <vector>

class QPainter;
class QRect;
struct AcqState;

/// The plot area: one trace of raw codes in a user coordinate system in which x
/// counts points from 0 at the left edge to xRight at the right edge and y counts
/// codes from 0 at the bottom edge to yTop at the top. It keeps the last trace
/// and paints it whenever Qt asks, so the trace survives being covered.
class WavePlot final : public QFrame {
    Q_OBJECT
public:
    explicit WavePlot(QWidget* parent = nullptr);

    /// Removes the trace; the plot shows its blank background.
    void Cls();

    /// Sets the coordinate system for the traces drawn from now on; a trace on
    /// show keeps the system it was drawn in. A zero width or height cannot map
    /// anything (a card that reports no span gives yTop 0): the plot then keeps
    /// no coordinate system and traces drawn until the next valid one stay blank.
    void setScale(std::int32_t xRight, std::int32_t yTop);
    bool hasScale() const { return m_hasScale; }
    std::int32_t scaleRight() const { return m_xRight; }
    std::int32_t scaleTop() const { return m_yTop; }

    /// Clears the plot and returns room for a new trace of `points` codes, which
    /// the caller fills before control returns to the event loop. Up to a whole
    /// ring of points this reuses storage, so redrawing allocates nothing.
    std::span<std::int32_t> newTrace(std::int32_t points);
    /// The codes of the trace on show, oldest first; empty after Cls().
    std::span<const std::int32_t> trace() const { return m_trace; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::vector<std::int32_t> m_trace;
    // The current coordinate system.
    std::int32_t m_xRight = 0;
    std::int32_t m_yTop = 0;
    bool m_hasScale = false;
    // The system the trace on show was drawn in.
    std::int32_t m_traceXRight = 0;
    std::int32_t m_traceYTop = 0;
    bool m_traceHasScale = false;
};

/// Ring index of the oldest of the newest `points` points (1 to 32000) when
/// `dataPtr` is the write pointer.
std::int32_t traceStart(std::int32_t dataPtr, std::int32_t points);

/// Whether DrawWave draws `channel`: any channel up to ChnCount. Channel
/// ChnCount itself is the ring's spare row (flat zeros) once acquisition has
/// started; before the first start ChnCount is 0 and only channel 0 passes.
bool traceDrawable(const AcqState& state, std::int16_t channel);

/// The codes of `channel` over the newest out.size() ring points, oldest first,
/// walking forward from traceStart() and wrapping after point 31999. Vertex k of
/// the trace is (k, out[k]). A channel outside the ring's rows, a write pointer
/// outside the ring or a length outside 1 to 32000 is a fatal error.
void waveTrace(const AcqState& state, std::int16_t channel, std::span<std::int32_t> out);

/// Redraws the plot with the newest XNum points of `channel`. A channel that is
/// not drawable leaves the plot exactly as it was. Relies on the coordinate
/// system set by the caller.
void DrawWave(WavePlot& plot, const AcqState& state, std::int16_t channel);

/// Draws the trace as the painter's pen would draw one polyline through every
/// vertex (k, codes[k]), mapping x 0..xRight onto the left..right pixel columns
/// of `area` and y 0..yTop onto its bottom..top pixel rows. Every vertex counts
/// even when there are far more of them than pixels: no vertex is thinned out
/// or averaged away. With the plot's cosmetic, aliased pen the trace is made
/// per pixel column (TraceRaster), in time that hardly grows with the number of
/// vertices. xRight and yTop must not be 0.
void paintTrace(QPainter& painter, const QRect& area, std::span<const std::int32_t> codes,
                std::int32_t xRight, std::int32_t yTop);
