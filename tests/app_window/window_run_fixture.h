#pragma once
// The window driving real downloads into kestrel-handset-sim over a pseudo-terminal, in real
// time, with a watcher that samples what the operator would see.

#include <QTest>
#include <QTextEdit>
#include <QTimer>
#include <memory>
#include <string>
#include <vector>

#include "services/settings_store.h"
#include "tests/app_window/window_test_support.h"
#include "tests/e2e/e2e_fixture.h"

namespace kestrel::test {

// Samples the window every few milliseconds while it lives. Outside the engine's waits it
// keeps each new state of the buttons, list and bars; during a wait it asks the log pane to
// repaint and counts the paints that arrive, so a frozen window shows as a wait without any.
class CRunWatcher : public QObject {
public:
    struct SWait {
        int nTicks = 0;
        int nPaints = 0;
    };

    explicit CRunWatcher(CMainDlg& dlg)
        : m_dlg(dlg), m_pPane(qobject_cast<QTextEdit*>(dlg.GetDlgItem(IDC_RICH_LOG))->viewport())
    {
        m_pPane->installEventFilter(this);
        connect(&m_timer, &QTimer::timeout, this, &CRunWatcher::OnTick);
        m_timer.start(kTickMs);
    }
    ~CRunWatcher() override { m_pPane->removeEventFilter(this); }
    CRunWatcher(const CRunWatcher&) = delete;
    CRunWatcher& operator=(const CRunWatcher&) = delete;

    const std::vector<std::string>& States() const { return m_states; }
    const std::vector<SWait>& Waits() const { return m_waits; }

protected:
    bool eventFilter(QObject*, QEvent* pEvent) override
    {
        if (pEvent->type() == QEvent::Paint && m_bBusy) ++m_waits.back().nPaints;
        return false;
    }

private:
    static constexpr int kTickMs = 20;

    void OnTick()
    {
        const bool bBusy = m_dlg.Engine().IsBusy();
        if (bBusy) {
            if (!m_bBusy) m_waits.emplace_back();
            ++m_waits.back().nTicks;
            m_pPane->update();
        } else if (const std::string state = ButtonStates(m_dlg); m_states.empty() || m_states.back() != state) {
            m_states.push_back(state);
        }
        m_bBusy = bBusy;
    }

    CMainDlg& m_dlg;
    QWidget* m_pPane;
    QTimer m_timer;
    bool m_bBusy = false;
    std::vector<std::string> m_states;
    std::vector<SWait> m_waits;
};

class WindowRun : public EndToEnd {
protected:
    void TearDown() override
    {
        m_pWatcher.reset();
        m_pDlg.reset();
        EndToEnd::TearDown();
    }

    // The window with the simulator as COM3.
    void OpenWindow()
    {
        ASSERT_FALSE(m_strSlave.empty());
        WriteText("COM3", m_strSlave);
        WriteText(kSettingPort, "3");
        m_pDlg = std::make_unique<CMainDlg>();
        m_pDlg->show();
        m_pWatcher = std::make_unique<CRunWatcher>(*m_pDlg);
    }

    void ClickButton(int nId) { QTest::mouseClick(m_pDlg->GetDlgItem(nId), Qt::LeftButton); }

    template <class Predicate>
    bool WaitFor(Predicate predicate, int nTimeoutMs)
    {
        return QTest::qWaitFor(predicate, nTimeoutMs);
    }
    bool WaitUntilIdle(int nTimeoutMs)
    {
        return WaitFor([this] { return !m_pDlg->Engine().IsLinkUp() && ButtonStates(*m_pDlg) == "EEED list E bar 1020"; }, nTimeoutMs);
    }
    RunStep Step() { return m_pDlg->Engine().Run().eStep; }
    QString LogText() const { return qobject_cast<QTextEdit*>(m_pDlg->GetDlgItem(IDC_RICH_LOG))->toPlainText(); }

    CDialogAnswerer m_answerer;
    std::unique_ptr<CMainDlg> m_pDlg;
    std::unique_ptr<CRunWatcher> m_pWatcher;
};

}  // namespace kestrel::test
