#include "display/WavePlot.h"
#include "acquisition/AcqState.h"
#include "base/FatalError.h"

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QPixmap>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace {

// Widgets need an application object; one serves the whole test program. An
// entry point that already made one is left to it.
class QtApplication final : public ::testing::Environment {
public:
    void SetUp() override {
        if (QCoreApplication::instance() == nullptr)
            m_app = std::make_unique<QApplication>(m_argc, m_argv);
    }
    void TearDown() override { m_app.reset(); }

private:
    int m_argc = 1;
    char m_name[13] = "test_display";
    char* m_argv[2] = {m_name, nullptr};
    std::unique_ptr<QApplication> m_app;
};

[[maybe_unused]] ::testing::Environment* const kQtApplication =
    ::testing::AddGlobalTestEnvironment(new QtApplication);

// A started ring: channels 0 to 16 acquired, channel ch at point p holding
// 100 * ch + p % 100, so every vertex tells where it came from.
class TraceTest : public ::testing::Test {
protected:
    void SetUp() override {
        s.ChnCount = kScanChannels;
        s.AdZero = 2048;
        s.AdSpan = 4096;
        for (std::int32_t p = 0; p < kRingPoints; ++p)
            for (std::int32_t ch = 0; ch < kScanChannels; ++ch)
                s.AdData(ch, p) = 100 * ch + p % 100;
    }

    static std::int32_t code(std::int32_t ch, std::int32_t p) { return 100 * ch + p % 100; }

    std::vector<std::int32_t> trace(std::int16_t channel) {
        std::vector<std::int32_t> out(static_cast<std::size_t>(s.XNum));
        waveTrace(s, channel, out);
        return out;
    }

    std::unique_ptr<AcqState> state = std::make_unique<AcqState>();
    AcqState& s = *state;
};

TEST_F(TraceTest, StartIsTheOldestOfTheNewestPoints) {
    const struct {
        std::int32_t dataPtr, points, start;
    } rows[] = {
        {100, 200, 31900}, {0, 200, 31800},       {200, 200, 0}, {500, 200, 300},   {0, 10, 31990},
        {5, 10, 31995},    {12345, 32000, 12345}, {0, 32000, 0}, {31999, 1, 31998},
    };
    for (const auto& row : rows)
        EXPECT_EQ(traceStart(row.dataPtr, row.points), row.start)
            << row.dataPtr << " " << row.points;
}

TEST_F(TraceTest, TraceWrapsFromTheRingEndToItsStart) {
    // Channel 3 gets its point index as the code, to see every point's place.
    for (std::int32_t p = 0; p < kRingPoints; ++p)
        s.AdData(3, p) = p;
    s.XNum = 200;
    s.DataPtr = 100;
    const auto codes = trace(3);
    ASSERT_EQ(codes.size(), 200U);
    for (std::int32_t k = 0; k < 100; ++k)
        EXPECT_EQ(codes[static_cast<std::size_t>(k)], 31900 + k) << k;
    for (std::int32_t k = 100; k < 200; ++k)
        EXPECT_EQ(codes[static_cast<std::size_t>(k)], k - 100) << k;
    EXPECT_EQ(codes.back(), 99) << "the newest point is at the right edge";
}

TEST_F(TraceTest, WholeRingStartsAtTheWritePointer) {
    for (std::int32_t p = 0; p < kRingPoints; ++p)
        s.AdData(7, p) = p;
    s.XNum = 32000;
    s.DataPtr = 12345;
    const auto codes = trace(7);
    ASSERT_EQ(codes.size(), 32000U);
    EXPECT_EQ(codes.front(), 12345);
    EXPECT_EQ(codes[31999 - 12345], 31999);
    EXPECT_EQ(codes[32000 - 12345], 0);
    EXPECT_EQ(codes.back(), 12344);
}

TEST_F(TraceTest, ShortestTrace) {
    s.XNum = 10;
    s.DataPtr = 5;
    const auto codes = trace(16);
    const std::vector<std::int32_t> expected = {
        code(16, 31995), code(16, 31996), code(16, 31997), code(16, 31998), code(16, 31999),
        code(16, 0),     code(16, 1),     code(16, 2),     code(16, 3),     code(16, 4)};
    EXPECT_EQ(codes, expected);
}

TEST_F(TraceTest, SpareChannelIsFlatZero) {
    s.XNum = 200;
    s.DataPtr = 100;
    EXPECT_TRUE(traceDrawable(s, 17));
    EXPECT_EQ(trace(17), std::vector<std::int32_t>(200, 0));
}

TEST_F(TraceTest, ChannelsAboveTheCountLeaveThePlotAlone) {
    WavePlot plot;
    plot.setScale(199, s.AdSpan);
    s.XNum = 200;
    s.DataPtr = 100;
    DrawWave(plot, s, 5);
    const std::vector<std::int32_t> shown(plot.trace().begin(), plot.trace().end());
    ASSERT_EQ(shown, trace(5));

    for (std::int16_t ch = 18; ch <= 32; ++ch) {
        EXPECT_FALSE(traceDrawable(s, ch));
        DrawWave(plot, s, ch);
        EXPECT_EQ(std::vector<std::int32_t>(plot.trace().begin(), plot.trace().end()), shown) << ch;
    }
    // After a clear (a change of the point count) they leave it blank.
    plot.Cls();
    DrawWave(plot, s, 20);
    EXPECT_TRUE(plot.trace().empty());

    DrawWave(plot, s, 17);
    EXPECT_EQ(std::vector<std::int32_t>(plot.trace().begin(), plot.trace().end()),
              std::vector<std::int32_t>(200, 0));
}

TEST_F(TraceTest, BeforeTheFirstStartOnlyChannelZeroIsDrawn) {
    auto fresh = std::make_unique<AcqState>();
    fresh->XNum = 200;
    WavePlot plot;
    plot.setScale(199, 0);
    DrawWave(plot, *fresh, 0);
    EXPECT_EQ(std::vector<std::int32_t>(plot.trace().begin(), plot.trace().end()),
              std::vector<std::int32_t>(200, 0));

    plot.Cls();
    DrawWave(plot, *fresh, 1);
    EXPECT_TRUE(plot.trace().empty());
}

TEST_F(TraceTest, OutOfRangeArgumentsAreFatalAndLeaveThePlot) {
    WavePlot plot;
    s.XNum = 200;
    DrawWave(plot, s, 2);
    const std::vector<std::int32_t> shown(plot.trace().begin(), plot.trace().end());

    s.XNum = 0;
    EXPECT_THROW(DrawWave(plot, s, 2), FatalError);
    s.XNum = 32001;
    EXPECT_THROW(DrawWave(plot, s, 2), FatalError);
    s.XNum = 200;
    EXPECT_THROW(DrawWave(plot, s, -1), FatalError);
    s.DataPtr = 32000;
    EXPECT_THROW(DrawWave(plot, s, 2), FatalError);
    EXPECT_EQ(std::vector<std::int32_t>(plot.trace().begin(), plot.trace().end()), shown);
}

TEST_F(TraceTest, RedrawingReusesTheTraceStorage) {
    WavePlot plot;
    s.XNum = 32000;
    DrawWave(plot, s, 1);
    const std::int32_t* storage = plot.trace().data();
    for (std::int32_t points : {10, 200, 31999, 32000}) {
        s.XNum = points;
        DrawWave(plot, s, 1);
        EXPECT_EQ(plot.trace().size(), static_cast<std::size_t>(points));
    }
    EXPECT_EQ(plot.trace().data(), storage);
}

// Rendering: a plot whose contents are 201 x 101 pixels, so with x 0..200 every
// point has its own column and with y 0..4096 code 2048 falls on row 50.
class RenderTest : public ::testing::Test {
protected:
    void SetUp() override {
        const int frame = plot.frameWidth();
        plot.resize(201 + 2 * frame, 101 + 2 * frame);
        ASSERT_EQ(plot.contentsRect().size(), QSize(201, 101));
    }

    QImage render() { return plot.grab().toImage().convertToFormat(QImage::Format_RGB32); }

    // Pixel of the contents area, (0, 0) at its top left.
    static QRgb at(const QImage& image, const QRect& area, int x, int y) {
        return image.pixel(area.left() + x, area.top() + y);
    }

    void show(const std::vector<std::int32_t>& codes) {
        const auto room = plot.newTrace(static_cast<std::int32_t>(codes.size()));
        std::copy(codes.begin(), codes.end(), room.begin());
    }

    // The black pixels of one contents row or column, or of the whole area.
    int blackInRow(const QImage& image, int y) {
        int n = 0;
        for (int x = 0; x < 201; ++x)
            n += at(image, plot.contentsRect(), x, y) == kBlack;
        return n;
    }
    int blackInColumn(const QImage& image, int x) {
        int n = 0;
        for (int y = 0; y < 101; ++y)
            n += at(image, plot.contentsRect(), x, y) == kBlack;
        return n;
    }
    int blackInArea(const QImage& image) {
        int n = 0;
        for (int y = 0; y < 101; ++y)
            n += blackInRow(image, y);
        return n;
    }

    static constexpr QRgb kBlack = 0xFF000000;
    static constexpr QRgb kWhite = 0xFFFFFFFF;
    WavePlot plot;
};

TEST_F(RenderTest, BlankPlotIsWhite) {
    plot.setScale(200, 4096);
    const QImage image = render();
    EXPECT_EQ(blackInArea(image), 0);
    EXPECT_EQ(at(image, plot.contentsRect(), 100, 50), kWhite);
}

TEST_F(RenderTest, FlatTracesLieOnTheirRows) {
    const struct {
        std::int32_t code;
        int row;
    } rows[] = {{2048, 50}, {4096, 0}, {0, 100}, {1024, 75}};
    plot.setScale(200, 4096);
    for (const auto& row : rows) {
        show(std::vector<std::int32_t>(201, row.code));
        const QImage image = render();
        EXPECT_EQ(blackInRow(image, row.row), 201) << row.code;
        EXPECT_EQ(blackInArea(image), 201) << row.code << ": nothing but that row";
    }
}

TEST_F(RenderTest, EveryVertexHasItsColumn) {
    plot.setScale(200, 4096);
    std::vector<std::int32_t> codes(201, 0);
    codes[100] = 4096;
    show(codes);
    const QImage image = render();
    const QRect area = plot.contentsRect();
    EXPECT_EQ(at(image, area, 100, 0), kBlack);
    EXPECT_EQ(at(image, area, 99, 0), kWhite);
    EXPECT_EQ(at(image, area, 101, 0), kWhite);
    EXPECT_EQ(at(image, area, 0, 100), kBlack);
    EXPECT_EQ(at(image, area, 200, 100), kBlack);
    EXPECT_EQ(at(image, area, 0, 0), kWhite);
}

TEST_F(RenderTest, DenseTracesAreNotThinned) {
    // 32000 points alternating between the edges over 201 columns: each column
    // up to the last holds many full-height segments and turns black. Thinning
    // or averaging the points would leave most of it white. The last column
    // holds only the newest vertex, at x = 31999 exactly.
    plot.setScale(31999, 4096);
    std::vector<std::int32_t> codes(32000);
    for (std::size_t k = 0; k < codes.size(); ++k)
        codes[k] = k % 2 ? 4096 : 0;
    show(codes);
    const QImage image = render();
    for (int x = 0; x < 200; ++x)
        EXPECT_EQ(blackInColumn(image, x), 101) << x;
    EXPECT_EQ(at(image, plot.contentsRect(), 200, 0), kBlack);
}

TEST_F(RenderTest, TraceUsesTheForegroundColour) {
    QPalette colours = plot.palette();
    colours.setColor(QPalette::WindowText, Qt::red);
    plot.setPalette(colours);
    plot.setScale(200, 4096);
    show(std::vector<std::int32_t>(201, 2048));
    const QImage image = render();
    EXPECT_EQ(at(image, plot.contentsRect(), 37, 50), qRgb(255, 0, 0));
    EXPECT_EQ(at(image, plot.contentsRect(), 37, 49), kWhite);
}

TEST_F(RenderTest, CodesBeyondTheTopAreClippedToTheArea) {
    plot.setScale(200, 4096);
    const QImage blank = render();
    std::vector<std::int32_t> codes(201, 65535);
    codes[0] = 2048;
    show(codes);
    const QImage image = render();
    // The steep first segment crosses the area; nothing spills onto the frame.
    EXPECT_EQ(at(image, plot.contentsRect(), 0, 50), kBlack);
    EXPECT_EQ(blackInRow(image, 0), 1);
    for (int x = 0; x < plot.width(); ++x)
        EXPECT_EQ(image.pixel(x, 0), blank.pixel(x, 0)) << x;
}

TEST_F(RenderTest, NoCoordinateSystemDrawsNothing) {
    const auto state = std::make_unique<AcqState>();
    AcqState& s = *state;
    s.ChnCount = kScanChannels;
    s.XNum = 201;
    s.AdData.fill(kScanChannels, 2048);

    // Never set.
    DrawWave(plot, s, 1);
    EXPECT_FALSE(plot.hasScale());
    EXPECT_EQ(blackInArea(render()), 0);

    // A card without a span.
    plot.setScale(200, 0);
    EXPECT_FALSE(plot.hasScale());
    DrawWave(plot, s, 1);
    EXPECT_EQ(plot.trace().size(), 201U);
    EXPECT_EQ(blackInArea(render()), 0);

    plot.setScale(200, 4096);
    EXPECT_TRUE(plot.hasScale());
    DrawWave(plot, s, 1);
    EXPECT_EQ(blackInRow(render(), 50), 201);
}

TEST_F(RenderTest, TraceKeepsTheSystemItWasDrawnIn) {
    // A start sets a new system without redrawing: what is on show stays put
    // until the next trace.
    plot.setScale(200, 4096);
    show(std::vector<std::int32_t>(201, 2048));
    plot.setScale(200, 8192);
    EXPECT_EQ(blackInRow(render(), 50), 201);
    plot.setScale(200, 0);
    EXPECT_EQ(blackInRow(render(), 50), 201);

    plot.setScale(200, 8192);
    show(std::vector<std::int32_t>(201, 2048));
    EXPECT_EQ(blackInRow(render(), 75), 201);
}

TEST(PaintTrace, MapsOntoTheGivenArea) {
    QImage image(60, 40, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setPen(QPen(Qt::black, 0));
    const std::vector<std::int32_t> codes = {0, 10};
    // x 0..1 onto columns 10..49, y 0..10 onto rows 29..5.
    paintTrace(painter, QRect(10, 5, 40, 25), codes, 1, 10);
    painter.end();
    EXPECT_EQ(image.pixel(10, 29), 0xFF000000);
    EXPECT_EQ(image.pixel(49, 5), 0xFF000000);
    EXPECT_EQ(image.pixel(9, 29), 0xFFFFFFFF);
    EXPECT_EQ(image.pixel(50, 5), 0xFFFFFFFF);
    EXPECT_EQ(image.pixel(49, 4), 0xFFFFFFFF);
}

TEST(PaintTrace, LongTracesAreOneUnbrokenLine) {
    // A zigzag with a column per vertex: every segment crosses the middle row in
    // a pixel of its own, so a segment left out anywhere shows as a gap.
    constexpr int kPoints = 3000;
    QImage image(kPoints, 101, QImage::Format_RGB32);
    image.fill(Qt::white);
    std::vector<std::int32_t> codes(kPoints);
    for (std::size_t k = 0; k < codes.size(); ++k)
        codes[k] = k % 2 ? 100 : 0;
    QPainter painter(&image);
    painter.setPen(QPen(Qt::black, 0));
    paintTrace(painter, image.rect(), codes, kPoints - 1, 100);
    painter.end();
    int crossings = 0;
    for (int x = 0; x < kPoints; ++x)
        crossings += image.pixel(x, 50) == 0xFF000000;
    EXPECT_EQ(crossings, kPoints - 1);
}

} // namespace
