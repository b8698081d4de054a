#pragma once

#include <QImage>
#include <QRect>

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

class QPainter;

/// Where the vertices of a trace fall among the device pixels, in pixels with
/// pixel (i, j) covering [i, i + 1) x [j, j + 1): vertex k with code v lies at
/// x = x0 + k * dx, y = y0 + (yTop - v) * dy and belongs to the pixel it lies
/// in. dx must be positive.
struct TraceMapping {
    double x0 = 0.0;
    double dx = 1.0;
    double y0 = 0.0;
    double dy = 1.0;
    std::int32_t yTop = 0;

    double x(std::size_t k) const { return x0 + static_cast<double>(k) * dx; }
    double y(std::int32_t code) const { return y0 + (static_cast<double>(yTop) - code) * dy; }
};

/// Far beyond any image, yet safely inside int after rounding: coordinates are
/// pulled in to it, so codes far above the span still map to a row that clips
/// away.
inline constexpr double kFarCoordinate = 1.0e9;

inline double pulledIn(double v) {
    return v < -kFarCoordinate ? -kFarCoordinate : (v > kFarCoordinate ? kFarCoordinate : v);
}

/// The pixel that the coordinate `v` lies in. A coordinate a rounding error
/// short of a pixel's edge counts as on it, and far-off values are pulled in
/// first so the result always fits an int.
inline int pixelOf(double v) {
    // Vertex positions are sums of products; one that should lie exactly on a
    // pixel's edge may come out a rounding error short of it. Real positions on
    // a plot are never that close to an edge without being on it.
    constexpr double kSnap = 1.0e-7;
    const double snapped = pulledIn(v) + kSnap;
    // Truncation corrected for negative values: std::floor is a library call on
    // the baseline x86-64 instruction set, and this runs for every column.
    const auto truncated = static_cast<int>(snapped);
    return truncated - (snapped < truncated ? 1 : 0);
}

/// The vertices that fall in one pixel column, reduced to the four that decide
/// how the column looks (M4): the first and the last in time and the ones with
/// the lowest and the highest code. Indices into the trace.
struct ColumnPoints {
    std::int32_t column = 0;
    std::int32_t first = 0;
    std::int32_t lowest = 0;
    std::int32_t highest = 0;
    std::int32_t last = 0;
};

/// Reduces `codes` to one ColumnPoints per pixel column that holds a vertex,
/// left to right. Reuses the storage of `out`.
void reduceToColumns(std::span<const std::int32_t> codes, const TraceMapping& mapping,
                     std::vector<ColumnPoints>& out);

/// Draws a trace as a cosmetic, aliased polyline through every vertex would,
/// but in time proportional to the pixels rather than the vertices: the trace
/// is reduced per pixel column, the run of rows that the polyline covers in
/// each column is written straight into an image of the area's device pixels,
/// and that image is drawn in one go. The buffers are kept for the next trace,
/// so a redraw of the same size allocates nothing.
class TraceRaster final {
public:
    /// Same contract as paintTrace(). Painters that this way cannot imitate
    /// (antialiasing, a wide or patterned pen, a rotating transform) get the
    /// polyline through every vertex instead.
    void paint(QPainter& painter, const QRect& area, std::span<const std::int32_t> codes,
               std::int32_t xRight, std::int32_t yTop);

private:
    /// Sizes the image (and its record of what it holds) to the device pixels
    /// of `target`; false when there are none, or no memory for them.
    bool fitImage(const QRectF& target, QPoint& origin);
    /// Marks the run of rows the trace covers in every column.
    void rasterize(std::span<const std::int32_t> codes, const TraceMapping& mapping);
    void addSegment(double px, double py, double qx, double qy);
    void extend(std::int32_t column, std::int32_t row1, std::int32_t row2);
    QRect writeSpans(QRgb colour);

    QImage m_image;
    std::vector<ColumnPoints> m_columns;
    // Per device column of the image: the top and bottom row of the trace's run.
    std::vector<std::int32_t> m_top;
    std::vector<std::int32_t> m_bottom;
    // The runs that the image holds (1..0 for none) and their colour; the
    // rest of the image is transparent.
    std::vector<std::int32_t> m_drawnTop;
    std::vector<std::int32_t> m_drawnBottom;
    QRgb m_drawnColour = 0;
};

/// The polyline through every vertex, drawn with the painter as it is set up:
/// the reference the raster imitates, and what painters it cannot imitate get.
void paintFullPolyline(QPainter& painter, const QRect& area, std::span<const std::int32_t> codes,
                       std::int32_t xRight, std::int32_t yTop);
