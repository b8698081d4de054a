// The plot's drawing against the polyline through every vertex that it stands
// in for, at the largest point count in PicDraw's real size (641 x 313 with a
// 2-pixel frame), on the same image, painted as the plot paints. Every
// iteration draws all variants one after another, so each ratio compares
// runs made under the same conditions:
//   full    QPainter polyline through all 32000 vertices (cosmetic pen, aliased)
//   m4      each pixel column reduced to its first, lowest, highest and last
//           vertex, the reduced vertices drawn as one QPainter polyline
//   ours    paintTrace: the same reduction, each column's run of rows written
//           straight into an image that is then drawn in one go
// The bar: ours at least 10 times faster than full on full-scale noise and at
// least 3 times on a sine with a little noise. diff_px counts the pixels in
// which a variant's picture differs from full's. As in the program, each
// iteration draws a newer trace: the signal moves on by the 1000 scans that
// one tick brings at the default 20000 scans per second.
#include "BenchSupport.h"
#include "display/TraceRaster.h"
#include "display/WavePlot.h"

#include <QImage>
#include <QPainter>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <span>
#include <string>
#include <vector>

namespace {

constexpr int kPlotWidth = 641;
constexpr int kPlotHeight = 313;
const QRect kArea(2, 2, 637, 309);
constexpr std::int32_t kSpan = 65536;
constexpr std::size_t kPoints = 32000;
constexpr std::size_t kTickScans = 1000;
constexpr std::size_t kTicks = 16; // traces to cycle through

enum Signal : int { kNoise = 0, kSine = 1 };

// The simulated card's channel 14 (full-scale noise) and channel 13 (a 3 V sine
// with +-0.3 V of noise, period 400 scans).
std::vector<std::int32_t> makeSignal(Signal signal) {
    std::mt19937 random(12345);
    std::vector<std::int32_t> codes(kPoints + kTicks * kTickScans);
    for (std::size_t k = 0; k < codes.size(); ++k) {
        if (signal == kNoise) {
            codes[k] = static_cast<std::int32_t>(random() % 65536);
        } else {
            const double wave = 19661.0 * std::sin(2.0 * std::numbers::pi * k / 400.0);
            codes[k] = 32768 + static_cast<std::int32_t>(std::lround(wave)) +
                       static_cast<std::int32_t>(random() % 3933) - 1966;
        }
    }
    return codes;
}

QImage blankPlot(qreal dpr) {
    QImage image(QSize(kPlotWidth, kPlotHeight) * dpr, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(dpr);
    return image;
}

void preparePainter(QPainter& painter) {
    painter.setClipRect(kArea);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(QPen(Qt::black, 0));
}

QPointF vertex(std::span<const std::int32_t> codes, std::size_t k) {
    const double xScale = static_cast<double>(kArea.width() - 1) / (codes.size() - 1);
    const double yScale = static_cast<double>(kArea.height() - 1) / kSpan;
    return {kArea.left() + k * xScale, kArea.top() + (kSpan - codes[k]) * yScale};
}

// The QPainter alternative to the raster: the same per-column reduction, then
// one polyline through the reduced vertices in time order.
class M4Polyline {
public:
    void paint(QPainter& painter, std::span<const std::int32_t> codes, qreal dpr) {
        const double xScale = static_cast<double>(kArea.width() - 1) / (codes.size() - 1);
        const double yScale = static_cast<double>(kArea.height() - 1) / kSpan;
        const TraceMapping mapping{dpr * kArea.left(), dpr * xScale, dpr * kArea.top(),
                                   dpr * yScale, kSpan};
        reduceToColumns(codes, mapping, m_columns);
        m_points.clear();
        for (const ColumnPoints& c : m_columns) {
            const auto [low, high] = std::minmax(c.lowest, c.highest);
            for (const std::int32_t k : {c.first, low, high, c.last})
                if (m_points.empty() || k != m_last) {
                    m_points.push_back(vertex(codes, static_cast<std::size_t>(k)));
                    m_last = k;
                }
        }
        painter.drawPolyline(m_points.data(), static_cast<int>(m_points.size()));
    }

private:
    std::vector<ColumnPoints> m_columns;
    std::vector<QPointF> m_points;
    std::int32_t m_last = -1;
};

void paintFull(QPainter& painter, std::span<const std::int32_t> codes) {
    paintFullPolyline(painter, kArea, codes, static_cast<std::int32_t>(codes.size()) - 1, kSpan);
}

void paintOurs(QPainter& painter, std::span<const std::int32_t> codes) {
    paintTrace(painter, kArea, codes, static_cast<std::int32_t>(codes.size()) - 1, kSpan);
}

template <typename Paint> QImage picture(qreal dpr, Paint&& paint) {
    QImage image = blankPlot(dpr);
    image.fill(Qt::white);
    QPainter painter(&image);
    preparePainter(painter);
    paint(painter);
    return image;
}

double differingPixels(const QImage& a, const QImage& b) {
    int n = 0;
    for (int y = 0; y < a.height(); ++y) {
        const auto* la = reinterpret_cast<const QRgb*>(a.constScanLine(y));
        const auto* lb = reinterpret_cast<const QRgb*>(b.constScanLine(y));
        for (int x = 0; x < a.width(); ++x)
            n += la[x] != lb[x];
    }
    return n;
}

double traceCount(const QImage& a) {
    int n = 0;
    for (int y = 0; y < a.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(a.constScanLine(y));
        for (int x = 0; x < a.width(); ++x)
            n += line[x] != 0xFFFFFFFF;
    }
    return n;
}

void BM_Plot(benchmark::State& bench) {
    const auto signal = static_cast<Signal>(bench.range(0));
    const qreal dpr = static_cast<qreal>(bench.range(1));
    const std::vector<std::int32_t> signalCodes = makeSignal(signal);
    const auto trace = [&](std::size_t tick) {
        return std::span<const std::int32_t>(signalCodes)
            .subspan(tick % kTicks * kTickScans, kPoints);
    };
    const std::span<const std::int32_t> codes = trace(0);
    M4Polyline m4;

    const QImage fullPicture = picture(dpr, [&](QPainter& p) { paintFull(p, codes); });
    const QImage m4Picture = picture(dpr, [&](QPainter& p) { m4.paint(p, codes, dpr); });
    const QImage ourPicture = picture(dpr, [&](QPainter& p) { paintOurs(p, codes); });

    // As in the widget: the background is filled and then the trace drawn, by
    // a painter opened for the paint.
    QImage image = blankPlot(dpr);
    using bench::Clock;
    const auto timed = [&](auto&& paint) {
        const Clock::time_point start = Clock::now();
        image.fill(Qt::white);
        QPainter painter(&image);
        preparePainter(painter);
        paint(painter);
        painter.end();
        benchmark::DoNotOptimize(image.constBits());
        return bench::secondsSince(start);
    };
    double full = 0.0;
    double reduced = 0.0;
    double ours = 0.0;
    std::size_t tick = 0;
    for (auto _ : bench) {
        const auto newer = trace(++tick);
        full += timed([&](QPainter& p) { paintFull(p, newer); });
        reduced += timed([&](QPainter& p) { m4.paint(p, newer, dpr); });
        ours += timed([&](QPainter& p) { paintOurs(p, newer); });
    }
    const auto n = static_cast<double>(bench.iterations());
    bench.counters["full_ms"] = 1e3 * full / n;
    bench.counters["m4_ms"] = 1e3 * reduced / n;
    bench.counters["ours_ms"] = 1e3 * ours / n;
    bench.counters["m4_speedup"] = full / reduced;
    bench.counters["ours_speedup"] = full / ours;
    bench.counters["trace_px"] = traceCount(fullPicture);
    bench.counters["m4_diff_px"] = differingPixels(m4Picture, fullPicture);
    bench.counters["ours_diff_px"] = differingPixels(ourPicture, fullPicture);
    bench.SetLabel(std::string(signal == kNoise ? "full-scale noise" : "sine + noise") +
                   ", 32000 points, pixel ratio " + std::to_string(static_cast<int>(dpr)));
}

// Ours alone, without the polyline beside it: what a repaint of the plot costs.
void BM_PaintTraceOnly(benchmark::State& bench) {
    const auto signal = static_cast<Signal>(bench.range(0));
    const qreal dpr = static_cast<qreal>(bench.range(1));
    const std::vector<std::int32_t> signalCodes = makeSignal(signal);
    QImage image = blankPlot(dpr);
    std::size_t tick = 0;
    for (auto _ : bench) {
        image.fill(Qt::white);
        QPainter painter(&image);
        preparePainter(painter);
        paintOurs(painter, std::span<const std::int32_t>(signalCodes)
                               .subspan(++tick % kTicks * kTickScans, kPoints));
    }
}

} // namespace

BENCHMARK(BM_Plot)
    ->ArgsProduct({{kNoise, kSine}, {1, 2}})
    ->ArgNames({"signal", "dpr"})
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PaintTraceOnly)
    ->ArgsProduct({{kNoise, kSine}, {1, 2}})
    ->ArgNames({"signal", "dpr"})
    ->Unit(benchmark::kMicrosecond);
