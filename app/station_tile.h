#pragma once
// One port of the station window: its COM label and device, the percentage bar of the main
// window, what the port is doing (or how its last run ended) and the run's elapsed time. A
// click selects it, and the window then shows its log.

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
    // The colour of the state text follows the log's: blue for notices (waiting, completed or
    // stopped), black for a step, red for an error.
    enum class EState { Waiting, Step, Done, Failed };

    CStationTile(const SStationPortId& id, QWidget* pParent = nullptr);

    // A run has begun: the bar turns into the run bar, at 0 %.
    void ShowRunStarted();
    void ShowState(EState eState, const std::string& text);
    void ShowPercent(int nPercent);
    // With the time left of the write ("0:42 left") while there is one.
    void ShowElapsed(int64_t nMs, const std::string& strTimeLeft = {});
    void SetSelected(bool bSelected);
    // The slot's units since the counts began: how many completed and failed, with the whole
    // count (yield, pace, mean time) on hover.
    void ShowCounts(int nCompleted, int nFailed, const std::string& strWhole);

    const QString& StateText() const { return m_strState; }
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
    QLabel* m_labelState = nullptr;
    QLabel* m_labelElapsed = nullptr;
    QLabel* m_labelCounts = nullptr;
    CPercentProgressCtrl* m_bar = nullptr;
    EState m_eState = EState::Waiting;
    QString m_strState;  // whole, where the label may cut it
    bool m_bSelected = false;
};

}  // namespace kestrel
