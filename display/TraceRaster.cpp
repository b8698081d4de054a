#include "TraceRaster.h"

#include <QPaintEngine>
#include <QPainter>
#include <QPen>
#include <QRect>
#include <QTransform>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace {

constexpr std::int32_t kNoRow = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t kNoRowBelow = std::numeric_limits<std::int32_t>::min();

// The raster must look like QPainter's own cosmetic polyline; anything that
// would make QPainter draw wider, softer or patterned lines, or map straight
// lines onto slanted ones, is left to QPainter.
bool rasterMatchesPainter(const QPainter& painter) {
    if (painter.paintEngine() == nullptr || painter.paintEngine()->type() != QPaintEngine::Raster)
        return false;
    // The image's transparent pixels must leave what lies below alone.
    if (painter.testRenderHint(QPainter::Antialiasing) ||
        painter.compositionMode() != QPainter::CompositionMode_SourceOver)
        return false;
    const QPen pen = painter.pen();
    if (pen.style() != Qt::SolidLine || pen.brush().style() != Qt::SolidPattern ||
        !pen.isCosmetic() || pen.widthF() > 1.0)
        return false;
    const QTransform& device = painter.deviceTransform();
    return device.type() <= QTransform::TxScale && device.m11() > 0.0 && device.m22() > 0.0;
}

} // namespace

void reduceToColumns(std::span<const std::int32_t> codes, const TraceMapping& mapping,
                     std::vector<ColumnPoints>& out) {
    out.clear();
    const auto n = static_cast<std::int32_t>(codes.size());
    std::int32_t k = 0;
    while (k < n) {
        const std::int32_t column = pixelOf(mapping.x(static_cast<std::size_t>(k)));
        // The first vertex of the next column, from the column's right edge;
        // checked against pixelOf() so that both agree on every vertex.
        const double edge = (column + 1 - mapping.x0) / mapping.dx;
        auto end =
            static_cast<std::int32_t>(std::clamp(std::ceil(edge), k + 1.0, static_cast<double>(n)));
        while (end > k + 1 && pixelOf(mapping.x(static_cast<std::size_t>(end - 1))) != column)
            --end;
        while (end < n && pixelOf(mapping.x(static_cast<std::size_t>(end))) == column)
            ++end;

        ColumnPoints points{column, k, k, k, end - 1};
        std::int32_t lowest = codes[static_cast<std::size_t>(k)];
        std::int32_t highest = lowest;
        for (std::int32_t i = k + 1; i < end; ++i) {
            const std::int32_t code = codes[static_cast<std::size_t>(i)];
            if (code < lowest) {
                lowest = code;
                points.lowest = i;
            }
            if (code > highest) {
                highest = code;
                points.highest = i;
            }
        }
        out.push_back(points);
        k = end;
    }
}

void TraceRaster::extend(std::int32_t column, std::int32_t row1, std::int32_t row2) {
    if (column < 0 || column >= static_cast<std::int32_t>(m_top.size()))
        return;
    const auto c = static_cast<std::size_t>(column);
    m_top[c] = std::min({m_top[c], row1, row2});
    m_bottom[c] = std::max({m_bottom[c], row1, row2});
}

void TraceRaster::addSegment(double px, double py, double qx, double qy) {
    // The segment from the last vertex of one column to the first vertex of a
    // later one, (px, py) to (qx, qy) with px < qx, drawn the way QPainter draws
    // an aliased line. It walks the longer axis one pixel at a time, sampling
    // the line at each whole row (steep) or column (shallow) and taking the
    // pixel that the sampled point lies in; samples beyond the ends take the
    // end. Each vertex's own pixel comes from its column's extent.
    py = pulledIn(py);
    qy = pulledIn(qy);
    const std::int32_t fromColumn = pixelOf(px);
    const std::int32_t toColumn = pixelOf(qx);
    if (std::abs(qx - px) >= std::abs(qy - py)) {
        const double slope = (qy - py) / (qx - px);
        for (std::int32_t c = fromColumn; c <= toColumn; ++c) {
            const double x = std::clamp(static_cast<double>(c), px, qx);
            const std::int32_t row = pixelOf(py + (x - px) * slope);
            extend(c, row, row);
        }
        return;
    }
    // Steep: the rows whose sampled x lies in column c are those between the
    // heights at which the line enters and leaves the column.
    const double xPerRow = (qx - px) / (qy - py);
    const auto yAt = [&](double x) { return py + (x - px) / xPerRow; };
    const bool down = qy > py; // rows grow as columns do
    const std::int32_t firstRow = pixelOf(std::min(py, qy));
    const std::int32_t lastRow = pixelOf(std::max(py, qy));
    for (std::int32_t c = fromColumn; c <= toColumn; ++c) {
        std::int32_t top = 0;
        std::int32_t bottom = 0;
        if (down) {
            top = c == fromColumn ? firstRow : static_cast<std::int32_t>(std::ceil(yAt(c)));
            bottom =
                c == toColumn ? lastRow : static_cast<std::int32_t>(std::ceil(yAt(c + 1.0))) - 1;
        } else {
            bottom = c == fromColumn ? lastRow : static_cast<std::int32_t>(std::floor(yAt(c)));
            top =
                c == toColumn ? firstRow : static_cast<std::int32_t>(std::floor(yAt(c + 1.0))) + 1;
        }
        if (top <= bottom)
            extend(c, top, bottom);
    }
}

QRect TraceRaster::writeSpans(QRgb colour) {
    const int height = m_image.height();
    const auto stride = static_cast<std::ptrdiff_t>(m_image.bytesPerLine() / 4);
    auto* const bits = reinterpret_cast<QRgb*>(m_image.bits());
    const auto fill = [&](std::size_t column, std::int32_t top, std::int32_t bottom, QRgb value) {
        if (top > bottom)
            return;
        QRgb* p = bits + top * stride + static_cast<std::ptrdiff_t>(column);
        for (std::int32_t r = top; r <= bottom; ++r, p += stride)
            *p = value;
    };
    // The image still holds the last trace. Only the difference is written:
    // successive traces of a channel mostly cover the same rows, and each
    // pixel down a column is a cache line of its own.
    const bool sameColour = colour == m_drawnColour;
    int left = static_cast<int>(m_top.size());
    int right = -1;
    int top = height;
    int bottom = -1;
    for (std::size_t c = 0; c < m_top.size(); ++c) {
        std::int32_t newTop = std::max(m_top[c], 0);
        std::int32_t newBottom = std::min(m_bottom[c], height - 1);
        if (newTop > newBottom) {
            newTop = 1; // empty runs are 1..0, so the overlaps below stay simple
            newBottom = 0;
        } else {
            left = std::min(left, static_cast<int>(c));
            right = static_cast<int>(c);
            top = std::min(top, newTop);
            bottom = std::max(bottom, newBottom);
        }
        const std::int32_t oldTop = m_drawnTop[c];
        const std::int32_t oldBottom = m_drawnBottom[c];
        if (sameColour) {
            fill(c, oldTop, std::min(oldBottom, newTop - 1), 0);
            fill(c, std::max(oldTop, newBottom + 1), oldBottom, 0);
            fill(c, newTop, std::min(newBottom, oldTop - 1), colour);
            fill(c, std::max(newTop, oldBottom + 1), newBottom, colour);
        } else {
            fill(c, oldTop, oldBottom, 0);
            fill(c, newTop, newBottom, colour);
        }
        m_drawnTop[c] = newTop;
        m_drawnBottom[c] = newBottom;
    }
    m_drawnColour = colour;
    return right < 0 ? QRect() : QRect(QPoint(left, top), QPoint(right, bottom));
}

bool TraceRaster::fitImage(const QRectF& target, QPoint& origin) {
    origin = QPoint(pixelOf(target.left()), pixelOf(target.top()));
    const int width = pixelOf(target.right()) - origin.x();
    const int height = pixelOf(target.bottom()) - origin.y();
    if (width <= 0 || height <= 0)
        return false;
    if (m_image.width() != width || m_image.height() != height) {
        m_image = QImage(width, height, QImage::Format_ARGB32_Premultiplied);
        if (m_image.isNull())
            return false; // no memory for the image: nothing to draw with
        m_image.fill(0);
        m_drawnTop.assign(static_cast<std::size_t>(width), 1);
        m_drawnBottom.assign(static_cast<std::size_t>(width), 0);
    }
    m_top.assign(static_cast<std::size_t>(width), kNoRow);
    m_bottom.assign(static_cast<std::size_t>(width), kNoRowBelow);
    return true;
}

void TraceRaster::rasterize(std::span<const std::int32_t> codes, const TraceMapping& mapping) {
    const auto y = [&](std::int32_t vertex) {
        return mapping.y(codes[static_cast<std::size_t>(vertex)]);
    };
    reduceToColumns(codes, mapping, m_columns);
    for (std::size_t i = 0; i < m_columns.size(); ++i) {
        const ColumnPoints& col = m_columns[i];
        // Consecutive vertices within one column join by runs inside it, so the
        // column covers every row between its lowest and highest vertex.
        extend(col.column, pixelOf(y(col.lowest)), pixelOf(y(col.highest)));
        if (i + 1 < m_columns.size()) {
            const ColumnPoints& next = m_columns[i + 1];
            addSegment(mapping.x(static_cast<std::size_t>(col.last)), y(col.last),
                       mapping.x(static_cast<std::size_t>(next.first)), y(next.first));
        }
    }
}

void TraceRaster::paint(QPainter& painter, const QRect& area, std::span<const std::int32_t> codes,
                        std::int32_t xRight, std::int32_t yTop) {
    if (codes.empty() || xRight == 0 || yTop == 0 || area.isEmpty())
        return;
    if (!rasterMatchesPainter(painter)) {
        paintFullPolyline(painter, area, codes, xRight, yTop);
        return;
    }

    // Everything below is in device pixels, relative to the image that covers
    // the area; on a high-DPI screen one logical pixel is several of them and
    // the cosmetic pen is still one device pixel wide.
    const QTransform device = painter.deviceTransform();
    QPoint origin;
    if (!fitImage(device.mapRect(QRectF(area)), origin))
        return;

    // Same mapping as the polyline's: the outermost vertices and codes 0 and
    // yTop land on the area's outermost pixel rows and columns.
    const double xScale = static_cast<double>(area.width() - 1) / xRight;
    const double yScale = static_cast<double>(area.height() - 1) / yTop;
    const TraceMapping mapping{
        device.m11() * area.left() + device.dx() - origin.x(), device.m11() * xScale,
        device.m22() * area.top() + device.dy() - origin.y(), device.m22() * yScale, yTop};
    if (!(mapping.dx > 0.0)) {
        // Columns that do not advance (x running backwards) have no column order.
        paintFullPolyline(painter, area, codes, xRight, yTop);
        return;
    }

    rasterize(codes, mapping);
    const QRect drawn = writeSpans(qPremultiply(painter.pen().color().rgba()));
    if (drawn.isEmpty())
        return;

    // Drawn one to one onto the device pixels it was made for.
    const QTransform world = painter.worldTransform();
    const bool worldEnabled = painter.worldMatrixEnabled();
    painter.setWorldTransform(device.inverted() * world);
    painter.drawImage(origin + drawn.topLeft(), m_image, drawn);
    painter.setWorldTransform(world);
    painter.setWorldMatrixEnabled(worldEnabled);
}

void paintFullPolyline(QPainter& painter, const QRect& area, std::span<const std::int32_t> codes,
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
