#include <gtest/gtest.h>

#include <QAbstractEventDispatcher>
#include <QAbstractItemView>
#include <QCursor>
#include <QImage>
#include <QLineEdit>
#include <QShortcut>
#include <QTest>
#include <memory>
#include <ostream>
#include <string>

#include "controls/flat_combo_box.h"
#include "tests/support/qt_app_environment.h"

namespace kestrel {
namespace {

const auto* const g_pQtApp = ::testing::AddGlobalTestEnvironment(new CQtAppEnvironment);

constexpr int kHoverPollMs = 10;

// Colours no style would pick, so that every frame pixel tells which colour drew it.
QPalette TestPalette(const QColor& clrLight, const QColor& clrDark, const QColor& clrButton)
{
    QPalette pal = QApplication::style()->standardPalette();
    pal.setColor(QPalette::Light, clrLight);
    pal.setColor(QPalette::Dark, clrDark);
    pal.setColor(QPalette::Button, clrButton);
    return pal;
}

int HoverTimerId(QObject& obj)
{
    for (const auto& timer : QAbstractEventDispatcher::instance()->registeredTimers(&obj))
        if (timer.interval == kHoverPollMs) return timer.timerId;
    return 0;
}

bool HoverTimerRunning(QObject& obj) { return HoverTimerId(obj) != 0; }

// One firing of the hover timer, if it runs.
void Tick(QObject& obj)
{
    if (const int nId = HoverTimerId(obj)) {
        QTimerEvent ev(nId);
        QCoreApplication::sendEvent(&obj, &ev);
    }
}

void MoveCursorTo(const QPoint& ptGlobal)
{
    QCursor::setPos(ptGlobal);
    QCoreApplication::processEvents();
}

bool IsFilled(const QImage& img, const QRect& rc, const QColor& clr)
{
    for (int y = rc.top(); y <= rc.bottom(); ++y)
        for (int x = rc.left(); x <= rc.right(); ++x)
            if (img.pixelColor(x, y) != clr) return false;
    return true;
}

// The top and left edges in one colour, the bottom and right edges (with the top-right
// and bottom-left corners) in the other.
bool HasFrame(const QImage& img, const QRect& rc, const QColor& clrTopLeft, const QColor& clrBottomRight)
{
    return IsFilled(img, QRect(rc.left(), rc.top(), rc.width() - 1, 1), clrTopLeft) &&
           IsFilled(img, QRect(rc.left(), rc.top(), 1, rc.height() - 1), clrTopLeft) &&
           IsFilled(img, QRect(rc.right(), rc.top(), 1, rc.height()), clrBottomRight) &&
           IsFilled(img, QRect(rc.left(), rc.bottom(), rc.width(), 1), clrBottomRight);
}

// Reads the look off the painted control: the outer frame ("flat" or "sunken") and the
// drop-down button ("normal", "raised", "pressed" or "none"). The second frame must be in
// the button face colour, or in the highlight colour when the control is disabled.
std::string LookOf(QWidget& combo)
{
    const QImage img = combo.grab().toImage();
    const QColor clrLight = combo.palette().color(QPalette::Light);
    const QColor clrDark = combo.palette().color(QPalette::Dark);
    const QColor clrFace = combo.palette().color(QPalette::Button);
    const QRect rc = img.rect();

    // The pressed button covers the right part of the second frame's bottom edge.
    const QColor clrInner = combo.isEnabled() ? clrFace : clrLight;
    const QRect rcInner = rc.adjusted(1, 1, -1, -1);
    const bool bInner = IsFilled(img, QRect(rcInner.left(), rcInner.top(), rcInner.width(), 1), clrInner) &&
                        IsFilled(img, QRect(rcInner.left(), rcInner.top(), 1, rcInner.height()), clrInner) &&
                        IsFilled(img, QRect(rcInner.right(), rcInner.top(), 1, rcInner.height()), clrInner) &&
                        IsFilled(img, QRect(rcInner.left(), rcInner.bottom(), rcInner.width() / 2, 1), clrInner);
    if (!bInner) return "second frame wrong";

    std::string strOuter = "?";
    if (HasFrame(img, rc, clrFace, clrFace))
        strOuter = "flat";
    else if (HasFrame(img, rc, clrDark, clrLight))
        strOuter = "sunken";

    // Pixels near the right edge that each button look paints differently.
    const int nRight = rc.width(), nMid = rc.height() / 2;
    const auto at = [&](int x, int y) { return img.pixelColor(x, y); };
    std::string strButton = "?";
    if (at(nRight - 4, nMid) == clrLight && at(nRight - 5, 2) == clrLight)
        strButton = "normal";
    else if (at(nRight - 4, nMid) == clrDark && at(nRight - 5, 2) == clrLight)
        strButton = "raised";
    else if (at(nRight - 3, nMid) == clrLight && at(nRight - 4, nMid) == clrFace && at(nRight - 5, 3) == clrDark)
        strButton = "pressed";
    else if (at(nRight - 4, nMid) == clrFace && at(nRight - 5, 2) == clrFace && at(nRight - 5, 3) == clrFace)
        strButton = "none";
    return strOuter + " " + strButton;
}

class FlatComboBoxTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QApplication::setPalette(TestPalette(QColor(250, 250, 200), QColor(90, 40, 40), QColor(180, 200, 230)));
        m_pWindow = std::make_unique<QWidget>();
        m_pWindow->resize(300, 140);
        m_pEdit = new QLineEdit(m_pWindow.get());
        m_pEdit->setGeometry(10, 10, 100, 22);
        m_pCombo = new CFlatComboBox(m_pWindow.get());
        m_pCombo->setGeometry(10, 50, 176, 22);
        m_pPlainCombo = new QComboBox(m_pWindow.get());
        m_pPlainCombo->setGeometry(10, 100, 176, 22);
        for (QComboBox* pCombo : {static_cast<QComboBox*>(m_pCombo), m_pPlainCombo})
            pCombo->addItems({"NORMAL", "EMERGENCY", "FONT(NORMAL)"});
        auto* pShortcut = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_E), m_pWindow.get());
        QObject::connect(pShortcut, &QShortcut::activated, [this] { ++m_nShortcuts; });

        MoveCursorTo(QPoint(-50, -50));
        m_pWindow->show();
        m_pWindow->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(m_pWindow.get()));
        m_pEdit->setFocus();
        ASSERT_TRUE(m_pEdit->hasFocus());
    }

    void TearDown() override
    {
        // A press whose release went nowhere: let go where nothing reacts, or the moves of
        // the next test would carry the button.
        if (QGuiApplication::mouseButtons() != Qt::NoButton)
            QTest::mouseRelease(m_pWindow.get(), Qt::LeftButton, {}, QPoint(2, 2));
        EXPECT_EQ(QGuiApplication::mouseButtons(), Qt::NoButton);
    }

    QPoint Outside() const { return m_pWindow->mapToGlobal(QPoint(2, 2)); }
    QPoint OnCombo() const { return m_pCombo->mapToGlobal(m_pCombo->rect().center()); }

    std::unique_ptr<QWidget> m_pWindow;
    QLineEdit* m_pEdit = nullptr;  // holds the focus when the list should not
    CFlatComboBox* m_pCombo = nullptr;
    QComboBox* m_pPlainCombo = nullptr;
    int m_nShortcuts = 0;
};

TEST_F(FlatComboBoxTest, HoverRaisesUntilTheMouseLeaves)
{
    MoveCursorTo(Outside());
    EXPECT_EQ(LookOf(*m_pCombo), "flat normal");
    EXPECT_FALSE(HoverTimerRunning(*m_pCombo));

    MoveCursorTo(OnCombo());
    EXPECT_EQ(LookOf(*m_pCombo), "sunken raised");
    EXPECT_TRUE(HoverTimerRunning(*m_pCombo));
    Tick(*m_pCombo);
    EXPECT_EQ(LookOf(*m_pCombo), "sunken raised");

    // No move reaches the control once the mouse is elsewhere: the timer notices.
    MoveCursorTo(Outside());
    Tick(*m_pCombo);
    EXPECT_EQ(LookOf(*m_pCombo), "flat normal");
    EXPECT_FALSE(HoverTimerRunning(*m_pCombo));
}

TEST_F(FlatComboBoxTest, KeyboardFocusKeepsItRaised)
{
    MoveCursorTo(Outside());
    m_pCombo->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(LookOf(*m_pCombo), "sunken raised");
    EXPECT_FALSE(HoverTimerRunning(*m_pCombo));

    MoveCursorTo(OnCombo());
    MoveCursorTo(Outside());
    Tick(*m_pCombo);
    EXPECT_EQ(LookOf(*m_pCombo), "sunken raised");
    EXPECT_TRUE(HoverTimerRunning(*m_pCombo));

    m_pEdit->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(LookOf(*m_pCombo), "flat normal");
    Tick(*m_pCombo);
    EXPECT_FALSE(HoverTimerRunning(*m_pCombo));
}

TEST_F(FlatComboBoxTest, LosingTheFocusUnderTheMouseStaysRaised)
{
    MoveCursorTo(OnCombo());
    m_pCombo->setFocus(Qt::TabFocusReason);
    m_pEdit->setFocus(Qt::TabFocusReason);
    Tick(*m_pCombo);
    EXPECT_EQ(LookOf(*m_pCombo), "sunken raised");

    MoveCursorTo(Outside());
    Tick(*m_pCombo);
    EXPECT_EQ(LookOf(*m_pCombo), "flat normal");
    EXPECT_FALSE(HoverTimerRunning(*m_pCombo));
}

TEST_F(FlatComboBoxTest, OpenListKeepsTheFocusLook)
{
    // Qt moves its focus to the open list and back; the operator's focus stays. (Nothing
    // follows the list here: the offscreen platform deactivates the window after it.)
    MoveCursorTo(Outside());
    m_pCombo->setFocus(Qt::TabFocusReason);
    m_pCombo->showPopup();
    EXPECT_EQ(LookOf(*m_pCombo), "sunken raised");
    m_pCombo->hidePopup();
    EXPECT_EQ(LookOf(*m_pCombo), "sunken raised");
}

TEST_F(FlatComboBoxTest, PressDrawsThePressedButton)
{
    // Without the focus, so that only the mouse decides the look.
    m_pCombo->setFocusPolicy(Qt::NoFocus);
    MoveCursorTo(OnCombo());
    QTest::mousePress(m_pCombo, Qt::LeftButton);
    ASSERT_TRUE(m_pCombo->view()->isVisible());
    Tick(*m_pCombo);
    EXPECT_EQ(LookOf(*m_pCombo), "sunken pressed");
    EXPECT_FALSE(HoverTimerRunning(*m_pCombo));

    // The open list takes the release; closing it ends the press.
    m_pCombo->hidePopup();
    EXPECT_EQ(LookOf(*m_pCombo), "sunken raised");

    // The mouse leaves at one jump, without a move over the control.
    MoveCursorTo(Outside());
    Tick(*m_pCombo);
    EXPECT_EQ(LookOf(*m_pCombo), "flat normal");
    EXPECT_FALSE(HoverTimerRunning(*m_pCombo));
}

TEST_F(FlatComboBoxTest, DisabledListHasNoButtonFrame)
{
    m_pCombo->setEnabled(false);
    EXPECT_EQ(LookOf(*m_pCombo), "flat none");
    MoveCursorTo(OnCombo());
    EXPECT_EQ(LookOf(*m_pCombo), "flat none");
    EXPECT_FALSE(HoverTimerRunning(*m_pCombo));

    // The same move reaches the list once it is enabled again.
    m_pCombo->setEnabled(true);
    MoveCursorTo(OnCombo() + QPoint(1, 0));
    EXPECT_EQ(LookOf(*m_pCombo), "sunken raised");
}

TEST_F(FlatComboBoxTest, PaletteChangeShowsAtTheNextPaint)
{
    MoveCursorTo(OnCombo());
    const QColor clrDarkBefore = m_pCombo->palette().color(QPalette::Dark);
    QApplication::setPalette(TestPalette(QColor(255, 240, 0), QColor(0, 90, 0), QColor(230, 170, 170)));
    QCoreApplication::processEvents();
    ASSERT_NE(m_pCombo->palette().color(QPalette::Dark), clrDarkBefore);
    EXPECT_EQ(LookOf(*m_pCombo), "sunken raised");
    MoveCursorTo(Outside());
    Tick(*m_pCombo);
    EXPECT_EQ(LookOf(*m_pCombo), "flat normal");
}

struct KeyCase {
    const char* name;
    bool bFlat;
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    int nShortcuts;
    int nIndex;
    bool bListOpen;
};

void PrintTo(const KeyCase& c, std::ostream* pOut) { *pOut << c.name; }

// Each case on a fresh window: an opened list leaves the offscreen window inactive.
class FlatComboBoxKeyTest : public FlatComboBoxTest, public ::testing::WithParamInterface<KeyCase> {};

TEST_P(FlatComboBoxKeyTest, AltCharacterIsSwallowed)
{
    const KeyCase& c = GetParam();
    QComboBox* pCombo = c.bFlat ? m_pCombo : m_pPlainCombo;
    pCombo->setFocus(Qt::TabFocusReason);
    QTest::keyClick(pCombo, c.key, c.modifiers);
    EXPECT_EQ(m_nShortcuts, c.nShortcuts);
    EXPECT_EQ(pCombo->currentIndex(), c.nIndex);
    EXPECT_EQ(pCombo->view()->isVisible(), c.bListOpen);
}

const KeyCase kKeyCases[] = {
    {"AltE", true, Qt::Key_E, Qt::AltModifier, 0, 0, false},
    {"AltEOnAPlainComboBox", false, Qt::Key_E, Qt::AltModifier, 1, 0, false},
    {"EAloneSelects", true, Qt::Key_E, Qt::NoModifier, 0, 1, false},
    {"AltDownOpensTheList", true, Qt::Key_Down, Qt::AltModifier, 0, 0, true},
};

INSTANTIATE_TEST_SUITE_P(Keys, FlatComboBoxKeyTest, ::testing::ValuesIn(kKeyCases),
                         [](const ::testing::TestParamInfo<KeyCase>& param) { return param.param.name; });

}  // namespace
}  // namespace kestrel
