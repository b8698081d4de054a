#include "display/TraceRaster.h"
#include "display/WavePlot.h"

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QPolygonF>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <functional>
#include <numbers>
#include <ostream>
#include <random>
#include <span>
#include <string>
#include <vector>

// The fast trace against the polyline through every vertex that it stands in
// for, drawn by QPainter itself on an image the size of the window's plot.
namespace {

// PicDraw is 641 x 313 pixels with a 2-pixel frame; the trace uses what is
// inside the frame, and the codes of a 16-bit card over its span.
constexpr int kPlotWidth = 641;
constexpr int kPlotHeight = 313;
const QRect kArea(2, 2, 637, 309);
constexpr std::int32_t kSpan = 65536;

using Codes = std::vector<std::int32_t>;

// A set of device pixels: those of an image that differ from its white
// background, or any that a test marks.
class Pixels {
public:
    Pixels(int width, int height)
        : m_width(width), m_height(height), m_set(static_cast<std::size_t>(width) * height) {}
    explicit Pixels(const QImage& image)
        : m_width(image.width()), m_height(image.height()),
          m_set(static_cast<std::size_t>(m_width) * m_height) {
        const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
        for (int y = 0; y < m_height; ++y) {
            const auto* line = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
            for (int x = 0; x < m_width; ++x)
                m_set[index(x, y)] = line[x] != 0xFFFFFFFF;
        }
    }

    void mark(int x, int y) {
        if (x >= 0 && y >= 0 && x < m_width && y < m_height)
            m_set[index(x, y)] = 1;
    }
    int width() const { return m_width; }
    int height() const { return m_height; }
    bool set(int x, int y) const {
        return x >= 0 && y >= 0 && x < m_width && y < m_height && m_set[index(x, y)] != 0;
    }
    bool setNear(int x, int y) const {
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx)
                if (set(x + dx, y + dy))
                    return true;
        return false;
    }
    int count() const {
        int n = 0;
        for (const auto s : m_set)
            n += s;
        return n;
    }
    // Set pixels reachable from (x, y) through set pixels, diagonals included.
    int reachableFrom(int x, int y) const {
        if (!set(x, y))
            return 0;
        std::vector<std::uint8_t> seen(m_set.size(), 0);
        std::vector<std::pair<int, int>> todo{{x, y}};
        seen[index(x, y)] = 1;
        int n = 0;
        while (!todo.empty()) {
            const auto [px, py] = todo.back();
            todo.pop_back();
            ++n;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx) {
                    const int nx = px + dx;
                    const int ny = py + dy;
                    if (set(nx, ny) && seen[index(nx, ny)] == 0) {
                        seen[index(nx, ny)] = 1;
                        todo.emplace_back(nx, ny);
                    }
                }
        }
        return n;
    }

private:
    std::size_t index(int x, int y) const {
        return static_cast<std::size_t>(y) * static_cast<std::size_t>(m_width) +
               static_cast<std::size_t>(x);
    }
    int m_width;
    int m_height;
    std::vector<std::uint8_t> m_set;
};

QImage blankPlot(qreal dpr) {
    QImage image(QSize(kPlotWidth, kPlotHeight) * dpr, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(dpr);
    image.fill(Qt::white);
    return image;
}

// The painter as the plot sets it up: clipped to the area, aliased, a
// cosmetic pen in the foreground colour.
void preparePainter(QPainter& painter) {
    painter.setClipRect(kArea);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(QPen(Qt::black, 0));
}

double xScale(std::size_t points) {
    return static_cast<double>(kArea.width() - 1) / static_cast<double>(points - 1);
}
constexpr double kYScale = static_cast<double>(309 - 1) / kSpan;

QPointF logicalVertex(const Codes& codes, std::size_t k) {
    return {kArea.left() + static_cast<double>(k) * xScale(codes.size()),
            kArea.top() + (static_cast<double>(kSpan) - codes[k]) * kYScale};
}

// One polyline through every vertex: the drawing the fast trace must match.
QImage polylinePlot(const Codes& codes, qreal dpr) {
    QImage image = blankPlot(dpr);
    QPainter painter(&image);
    preparePainter(painter);
    QPolygonF polygon;
    for (std::size_t k = 0; k < codes.size(); ++k)
        polygon << logicalVertex(codes, k);
    painter.drawPolyline(polygon);
    return image;
}

QImage tracePlot(const Codes& codes, qreal dpr) {
    QImage image = blankPlot(dpr);
    QPainter painter(&image);
    preparePainter(painter);
    paintTrace(painter, kArea, codes, static_cast<std::int32_t>(codes.size()) - 1, kSpan);
    return image;
}

struct Signal {
    const char* name;
    std::function<std::int32_t(std::size_t k, std::mt19937& random)> code;
};

std::int32_t clampCode(double code) {
    return static_cast<std::int32_t>(std::clamp(std::lround(code), 0L, 65535L));
}

double sinePoint(std::size_t k, int period) {
    return std::sin(2.0 * std::numbers::pi * static_cast<double>(k) / period);
}

const Signal kSignals[] = {
    {"full-scale noise", [](std::size_t, std::mt19937& r) { return std::int32_t(r() % 65536); }},
    {"sine with a little noise",
     [](std::size_t k, std::mt19937& r) {
         return clampCode(32768 + 26214 * sinePoint(k, 400) + int(r() % 3933) - 1966);
     }},
    {"square with noise",
     [](std::size_t k, std::mt19937& r) {
         return clampCode((k / 500 % 2 ? 12907 : 52429) + int(r() % 1001) - 500);
     }},
    {"spikes",
     [](std::size_t k, std::mt19937& r) {
         if (k % 97 == 13)
             return k % 2 ? 65535 : 0;
         return clampCode(32768 + int(r() % 101) - 50);
     }},
    {"constant", [](std::size_t, std::mt19937&) { return 39321; }},
    {"counter ramp",
     [](std::size_t k, std::mt19937&) { return std::int32_t((40000 + k) % 65536); }},
    {"codes at 0", [](std::size_t, std::mt19937&) { return 0; }},
    {"codes at the span", [](std::size_t, std::mt19937&) { return kSpan; }},
};

// Names the signal in gtest's messages.
[[maybe_unused]] void PrintTo(const Signal& signal, std::ostream* out) {
    *out << signal.name;
}

Codes makeCodes(const Signal& signal, std::size_t points) {
    std::mt19937 random(20240501);
    Codes codes(points);
    for (std::size_t k = 0; k < points; ++k)
        codes[k] = signal.code(k, random);
    return codes;
}

// The device pixel a coordinate lies in; one a rounding error short of a
// pixel's edge is on it.
int pixelIndex(double v) {
    return static_cast<int>(std::floor(v + 1.0e-7));
}

// Compares one trace with the polyline and reports the first failure of each
// kind, so a broken case says what broke without flooding the log.
void expectFaithful(const Codes& codes, qreal dpr) {
    const Pixels ours(tracePlot(codes, dpr));
    const Pixels full(polylinePlot(codes, dpr));

    // Every vertex sets its own pixel: the one it lies in.
    std::vector<QPoint> vertexPixels;
    vertexPixels.reserve(codes.size());
    for (std::size_t k = 0; k < codes.size(); ++k) {
        const QPointF v = logicalVertex(codes, k) * dpr;
        vertexPixels.emplace_back(pixelIndex(v.x()), pixelIndex(v.y()));
    }
    for (std::size_t k = 0; k < codes.size(); ++k)
        if (!ours.set(vertexPixels[k].x(), vertexPixels[k].y())) {
            ADD_FAILURE() << "vertex " << k << " (code " << codes[k] << ") at pixel "
                          << vertexPixels[k].x() << "," << vertexPixels[k].y() << " is not drawn";
            break;
        }

    // One connected trace.
    EXPECT_EQ(ours.reachableFrom(vertexPixels[0].x(), vertexPixels[0].y()), ours.count())
        << "the trace falls apart";

    // QPainter's polyline drops some runs of segments shorter than a pixel, and
    // with them the pixels of their vertices, leaving holes in its trace. The
    // fast trace draws those vertices, so near them it may differ.
    Pixels dropped(full.width(), full.height());
    for (const QPoint& v : vertexPixels)
        if (!full.set(v.x(), v.y()))
            dropped.mark(v.x(), v.y());

    // Nothing where the polyline is not, and nothing left out where it is,
    // give or take one pixel; and nothing at all outside the area.
    const QRect deviceArea(kArea.topLeft() * dpr, kArea.size() * dpr);
    for (int y = 0; y < ours.height(); ++y)
        for (int x = 0; x < ours.width(); ++x) {
            if (ours.set(x, y) && !full.setNear(x, y) && !dropped.setNear(x, y)) {
                ADD_FAILURE() << "pixel " << x << "," << y << " is far from the polyline";
                return;
            }
            if (full.set(x, y) && !ours.setNear(x, y)) {
                ADD_FAILURE() << "polyline pixel " << x << "," << y << " is missing";
                return;
            }
            if (ours.set(x, y) && !deviceArea.contains(x, y)) {
                ADD_FAILURE() << "pixel " << x << "," << y << " lies outside the area";
                return;
            }
        }
}

class TraceRasterTest : public ::testing::TestWithParam<Signal> {};

TEST_P(TraceRasterTest, MatchesThePolylineThroughEveryVertex) {
    for (const qreal dpr : {1.0, 2.0}) {
        const int width = kArea.width() * static_cast<int>(dpr); // device pixels
        for (const int points : {10, 200, width - 1, width, width + 1, 5000, 32000}) {
            SCOPED_TRACE(std::string(GetParam().name) + ", " + std::to_string(points) +
                         " points, pixel ratio " + std::to_string(static_cast<int>(dpr)));
            expectFaithful(makeCodes(GetParam(), static_cast<std::size_t>(points)), dpr);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Signals, TraceRasterTest, ::testing::ValuesIn(kSignals),
                         [](const ::testing::TestParamInfo<Signal>& info) {
                             std::string name;
                             for (const char c : std::string(info.param.name))
                                 if (std::isalnum(static_cast<unsigned char>(c)))
                                     name += c;
                             return name;
                         });

TEST(TraceRaster, SingleVertexIsOnePixel) {
    for (const qreal dpr : {1.0, 2.0}) {
        QImage image = blankPlot(dpr);
        QPainter painter(&image);
        preparePainter(painter);
        const Codes codes = {kSpan / 2};
        paintTrace(painter, kArea, codes, 1, kSpan);
        painter.end();
        const Pixels pixels(image);
        EXPECT_EQ(pixels.count(), 1) << dpr;
        const QPointF v = QPointF(kArea.left(), kArea.top() + kSpan / 2 * kYScale) * dpr;
        EXPECT_TRUE(pixels.set(pixelIndex(v.x()), pixelIndex(v.y()))) << dpr;
    }
}

TEST(TraceRaster, FollowsThePaintersTranslation) {
    // Painting with an offset (as a widget inside a window is painted) moves the
    // trace by whole device pixels and changes nothing else.
    const Codes codes = makeCodes(kSignals[1], 5000);
    for (const qreal dpr : {1.0, 2.0}) {
        const QImage plain = tracePlot(codes, dpr);
        QImage moved(QSize(kPlotWidth + 30, kPlotHeight + 20) * dpr,
                     QImage::Format_ARGB32_Premultiplied);
        moved.setDevicePixelRatio(dpr);
        moved.fill(Qt::white);
        QPainter painter(&moved);
        painter.translate(30, 20);
        preparePainter(painter);
        paintTrace(painter, kArea, codes, static_cast<std::int32_t>(codes.size()) - 1, kSpan);
        painter.end();
        const QRect source(QPoint(0, 0), plain.size());
        EXPECT_EQ(moved.copy(source.translated(QPoint(30, 20) * dpr)), plain.copy(source)) << dpr;
    }
}

TEST(TraceRaster, PaintersItCannotImitateGetThePolylineItself) {
    const Codes codes = makeCodes(kSignals[1], 2000);
    const auto draw = [&](const std::function<void(QPainter&)>& setUp, bool fast) {
        QImage image = blankPlot(1.0);
        QPainter painter(&image);
        preparePainter(painter);
        setUp(painter);
        if (fast)
            paintTrace(painter, kArea, codes, static_cast<std::int32_t>(codes.size()) - 1, kSpan);
        else
            paintFullPolyline(painter, kArea, codes, static_cast<std::int32_t>(codes.size()) - 1,
                              kSpan);
        return image;
    };
    const struct {
        const char* what;
        std::function<void(QPainter&)> setUp;
    } rows[] = {
        {"antialiased", [](QPainter& p) { p.setRenderHint(QPainter::Antialiasing, true); }},
        {"wide pen", [](QPainter& p) { p.setPen(QPen(Qt::black, 3)); }},
        {"dashed pen", [](QPainter& p) { p.setPen(QPen(Qt::black, 0, Qt::DashLine)); }},
        {"rotated", [](QPainter& p) { p.rotate(3.0); }},
        {"another composition mode",
         [](QPainter& p) { p.setCompositionMode(QPainter::CompositionMode_Xor); }},
    };
    for (const auto& row : rows)
        EXPECT_EQ(draw(row.setUp, true), draw(row.setUp, false)) << row.what;
}

} // namespace
