#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <string>

#include "controls/color_ref.h"
#include "controls/percent_progress_ctrl.h"
#include "tests/support/qt_app_environment.h"

namespace kestrel {
namespace {

const auto* const g_pQtApp = ::testing::AddGlobalTestEnvironment(new CQtAppEnvironment);

constexpr int kWidth = 400;
constexpr int kHeight = 20;

std::string Name(const QColor& clr) { return clr.name().toStdString(); }

// The download bar as the window sets it up when block writing begins.
void SetUpDownloadBar(CPercentProgressCtrl& bar)
{
    bar.m_clrStart = ColorFromRef(0x800000);  // dark blue
    bar.m_clrEnd = ColorFromRef(0x000080);    // dark red
    bar.m_clrBkgnd = ColorFromRef(0xC0C0C0);  // light grey
    bar.m_clrText = ColorFromRef(0xFFFFFF);
}

QImage Paint(CPercentProgressCtrl& bar)
{
    return bar.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

::testing::AssertionResult IsFilled(const QImage& img, const QRect& rc, const QColor& clr)
{
    for (int y = rc.top(); y <= rc.bottom(); ++y)
        for (int x = rc.left(); x <= rc.right(); ++x)
            if (img.pixel(x, y) != clr.rgb())
                return ::testing::AssertionFailure() << "pixel " << x << "," << y << " is "
                                                     << Name(img.pixelColor(x, y)) << ", not " << Name(clr);
    return ::testing::AssertionSuccess();
}

// First column in the background colour; the image width when there is none.
int GradientEnd(const QImage& img, const QColor& clrBkgnd)
{
    int x = 0;
    while (x < img.width() && img.pixel(x, 0) != clrBkgnd.rgb()) ++x;
    return x;
}

// A revealed gradient: from the start colour, in bands that change every component by at
// most one step towards the end colour, ending on a band edge past the revealed width (at
// most one band of nMaxBand columns later), then background only.
::testing::AssertionResult IsRevealedGradient(const QImage& img, const CPercentProgressCtrl& bar,
                                              int nRevealed, int nMaxBand)
{
    const int nEnd = GradientEnd(img, bar.m_clrBkgnd);
    if (nEnd <= nRevealed || nEnd > nRevealed + nMaxBand)
        return ::testing::AssertionFailure() << "gradient ends at " << nEnd << " for revealed width " << nRevealed;
    if (auto res = IsFilled(img, QRect(nEnd, 0, img.width() - nEnd, img.height()), bar.m_clrBkgnd); !res) return res;
    if (img.pixelColor(0, 0) != bar.m_clrStart)
        return ::testing::AssertionFailure() << "starts with " << Name(img.pixelColor(0, 0));
    const auto direction = [](int nFrom, int nTo) { return (nTo > nFrom) - (nTo < nFrom); };
    const int nDirR = direction(bar.m_clrStart.red(), bar.m_clrEnd.red());
    const int nDirG = direction(bar.m_clrStart.green(), bar.m_clrEnd.green());
    const int nDirB = direction(bar.m_clrStart.blue(), bar.m_clrEnd.blue());
    for (int x = 0; x < nEnd; ++x) {
        if (auto res = IsFilled(img, QRect(x, 0, 1, img.height()), img.pixelColor(x, 0)); !res) return res;
        if (x == 0) continue;
        const QColor a = img.pixelColor(x - 1, 0), b = img.pixelColor(x, 0);
        for (const auto& [nStep, nDir] : {std::pair{b.red() - a.red(), nDirR}, std::pair{b.green() - a.green(), nDirG},
                                          std::pair{b.blue() - a.blue(), nDirB}})
            if (nStep != 0 && nStep != nDir)
                return ::testing::AssertionFailure() << "column " << x << " goes from " << Name(a) << " to " << Name(b);
    }
    return ::testing::AssertionSuccess();
}

TEST(ColorFromRef, RedSitsInTheLowByte)
{
    const struct {
        uint32_t clrRef;
        QColor expected;
    } cases[] = {
        {0x0000FF, QColor(255, 0, 0)},    {0xFF0000, QColor(0, 0, 255)},       {0x800000, QColor(0, 0, 128)},
        {0x000080, QColor(128, 0, 0)},    {0xB4522E, QColor(0x2E, 0x52, 0xB4)},
        {0xFF123456, QColor(0x56, 0x34, 0x12)},  // the top byte is no colour
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.clrRef);
        EXPECT_EQ(Name(ColorFromRef(c.clrRef)), Name(c.expected));
    }
}

TEST(PercentProgressCtrl, PaintsPosition)
{
    const struct {
        const char* name;
        int nLower, nUpper, nPos;
        int nRevealed;  // -1: the empty bar
        const char* text;
    } cases[] = {
        {"0", 0, 100, 0, -1, ""},
        {"1", 0, 100, 1, 4, "1%"},
        {"50", 0, 100, 50, 200, "50%"},
        {"99", 0, 100, 99, 396, "99%"},
        {"100 is empty, not full", 0, 100, 100, -1, ""},
        {"above the range", 0, 100, 150, -1, ""},
        {"upper bound 200", 0, 200, 50, 100, "25%"},
        {"lower bound 20, at it", 20, 100, 20, -1, ""},
        {"lower bound 20 takes no part", 20, 100, 50, 200, "50%"},
        {"upper bound 0", -10, 0, -5, -1, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CPercentProgressCtrl bar;
        bar.resize(kWidth, kHeight);
        SetUpDownloadBar(bar);
        bar.SetRange(c.nLower, c.nUpper);
        EXPECT_EQ(bar.GetPos(), c.nLower);
        bar.SetPos(c.nPos);

        const QImage imgBare = Paint(bar);
        if (c.nRevealed < 0)  // the system's button face, not the bar's background colour
            EXPECT_TRUE(IsFilled(imgBare, imgBare.rect(), bar.palette().color(QPalette::Button)));
        else  // 128 bands over 400 pixels: none is wider than 4
            EXPECT_TRUE(IsRevealedGradient(imgBare, bar, c.nRevealed, 4));

        bar.m_bShowPercent = true;
        QImage imgExpected = imgBare;
        {
            QPainter dc(&imgExpected);
            dc.setFont(bar.font());
            dc.setPen(bar.m_clrText);
            dc.drawText(imgExpected.rect(), Qt::AlignCenter | Qt::TextSingleLine, c.text);
        }
        EXPECT_TRUE(Paint(bar) == imgExpected);
    }
}

TEST(PercentProgressCtrl, GradientSpansTheWholeWidth)
{
    // The default colours, red to blue, in 255 bands: the position only decides how much
    // of the same gradient shows.
    CPercentProgressCtrl bar;
    bar.resize(kWidth, kHeight);
    bar.SetPos(50);
    const QImage imgHalf = Paint(bar);
    bar.SetPos(99);
    const QImage imgAlmost = Paint(bar);

    EXPECT_EQ(Name(imgHalf.pixelColor(0, 0)), Name(QColor(255, 0, 0)));
    const int nHalfEnd = GradientEnd(imgHalf, bar.m_clrBkgnd);
    EXPECT_TRUE(imgAlmost.copy(0, 0, nHalfEnd, kHeight) == imgHalf.copy(0, 0, nHalfEnd, kHeight));
    ASSERT_TRUE(IsRevealedGradient(imgAlmost, bar, 396, 2));
    const QColor clrLast = imgAlmost.pixelColor(GradientEnd(imgAlmost, bar.m_clrBkgnd) - 1, 0);
    EXPECT_TRUE(clrLast.red() <= 3 && clrLast.blue() >= 252) << Name(clrLast);
}

TEST(PercentProgressCtrl, EqualColoursStillShowProgress)
{
    CPercentProgressCtrl bar;
    bar.resize(kWidth, kHeight);
    bar.m_clrStart = bar.m_clrEnd = QColor(0, 128, 0);
    bar.SetPos(50);
    const QImage img = Paint(bar);
    EXPECT_EQ(GradientEnd(img, bar.m_clrBkgnd), 201);
    EXPECT_TRUE(IsFilled(img, QRect(0, 0, 201, kHeight), bar.m_clrStart));
}

TEST(PercentProgressCtrl, FramedBarDrawsInsideItsFrame)
{
    CPercentProgressCtrl bar;
    bar.setFrameStyle(QFrame::Box | QFrame::Plain);
    bar.resize(kWidth + 2, kHeight + 2);
    SetUpDownloadBar(bar);
    bar.SetPos(50);
    const QImage img = Paint(bar);
    const QColor clrBorder = img.pixelColor(0, 0);
    EXPECT_NE(clrBorder, bar.m_clrStart);
    EXPECT_NE(clrBorder, bar.m_clrBkgnd);
    EXPECT_TRUE(IsFilled(img, QRect(0, 0, kWidth + 2, 1), clrBorder));
    EXPECT_TRUE(IsFilled(img, QRect(0, 0, 1, kHeight + 2), clrBorder));
    EXPECT_TRUE(IsFilled(img, QRect(kWidth + 1, 0, 1, kHeight + 2), clrBorder));
    EXPECT_TRUE(IsRevealedGradient(img.copy(bar.contentsRect()), bar, 200, 4));
}

}  // namespace
}  // namespace kestrel
