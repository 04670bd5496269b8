#pragma once
// The station window driving several kestrel-handset-sim handsets over pseudo-terminals, in
// real time.

#include <QTest>
#include <memory>
#include <string>
#include <vector>

#include "app/station_dlg.h"
#include "app/station_tile.h"
#include "services/settings_store.h"
#include "tests/app_window/window_test_support.h"
#include "tests/e2e/several_handsets.h"

namespace kestrel::test {

class StationWindow : public SeveralHandsets {
protected:
    static constexpr int kRunTimeoutMs = 60000;

    void TearDown() override
    {
        CloseWindow();
        SeveralHandsets::TearDown();
    }

    // The window with handset n as COM(3 + n), the ports field as the settings fill it.
    void OpenWindow(int nHandsets)
    {
        for (int n = 0; n < nHandsets; ++n) WriteText(PortName(3 + n), Link(n));
        m_pDlg = std::make_unique<CStationDlg>();
        m_pDlg->show();
    }
    void OpenImage(const Bytes& image) { m_pDlg->OpenNewImage(QString::fromStdString(WriteImage("PHONE.bin", image))); }
    // Near the left end, where a check box has its box.
    void Click(int nId)
    {
        QWidget* pControl = m_pDlg->GetDlgItem(nId);
        QTest::mouseClick(pControl, Qt::LeftButton, {}, QPoint(pControl->height() / 2, pControl->height() / 2));
    }

    // Every run has ended and no engine is in the middle of anything.
    bool WaitUntilIdle(int nTimeoutMs = kRunTimeoutMs)
    {
        return QTest::qWaitFor([this] { return !m_pDlg->Station()->AnyRunning() && !m_pDlg->Station()->AnyBusy(); },
                               nTimeoutMs);
    }
    std::vector<std::string> States() const
    {
        std::vector<std::string> states;
        for (int i = 0; i < m_pDlg->TileCount(); ++i) states.push_back(m_pDlg->Tile(i).StateText().toStdString());
        return states;
    }
    const CStationPort& Port(int nIndex) const { return m_pDlg->Station()->Port(nIndex); }

    // Closes the window as the operator would, once no engine waits.
    void CloseWindow()
    {
        if (!m_pDlg) return;
        EXPECT_TRUE(QTest::qWaitFor([this] { return !m_pDlg->Station() || !m_pDlg->Station()->AnyBusy(); }, kRunTimeoutMs));
        m_pDlg->close();
        m_pDlg.reset();
    }

    std::unique_ptr<CStationDlg> m_pDlg;
};

}  // namespace kestrel::test
