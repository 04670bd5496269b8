#pragma once
// One port of the station window: its COM label and device, the percentage bar of the main
// window, what the port is doing (or how its last run ended), the run's elapsed time and the
// slot's counts. The whole face takes the colour of its state, so that an operator reads it
// from across the bench. A click selects it, and the window then shows its log.

#include <QFrame>
#include <QString>
#include <cstdint>
#include <string>

class QLabel;

namespace kestrel {

class CPercentProgressCtrl;
struct SStationPortId;

class CStationTile final : public QFrame {
    Q_OBJECT

public:
    // Waiting: no handset on the slot. Ready: a handset is there, no run yet. Running: the
    // step, with the bar. Completed (or nothing to do), Failed with the reason, Stopped: how the
    // last run ended, until the next one starts.
    enum class EState { Waiting, Ready, Running, Completed, Failed, Stopped };

    CStationTile(const SStationPortId& id, QWidget* pParent = nullptr);

    // A run has begun: the bar turns into the run bar, at 0 %.
    void ShowRunStarted();
    void ShowState(EState eState, const std::string& text);
    void ShowPercent(int nPercent);
    void ShowElapsed(int64_t nMs);
    void SetSelected(bool bSelected);
    // The slot's units since the counts began: how many completed and failed, with the whole
    // count (yield, pace, mean time) on hover.
    void ShowCounts(int nCompleted, int nFailed, const std::string& strWhole);

    const QString& StateText() const { return m_strState; }
    // The state text as the tile shows it: wrapped on two lines, cut with "…" beyond them.
    QString ShownStateText() const;
    bool IsBarShown() const;
    EState State() const { return m_eState; }
    int Percent() const;
    QString ElapsedText() const;
    QString CountsText() const;
    bool IsSelected() const { return m_bSelected; }

signals:
    void Clicked();

protected:
    void mousePressEvent(QMouseEvent* pEvent) override;

private:
    void ShowFace(EState eState);

    QLabel* m_labelState = nullptr;
    QLabel* m_labelElapsed = nullptr;
    QLabel* m_labelCounts = nullptr;
    CPercentProgressCtrl* m_bar = nullptr;
    EState m_eState = EState::Waiting;
    QString m_strState;  // whole, where the label may cut it
    bool m_bSelected = false;
};

}  // namespace kestrel
