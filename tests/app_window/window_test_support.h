#pragma once
// What the window tests share: the application set up as the program sets it up, a settings
// store of their own, and an answerer for the modal dialogs the window opens.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDialog>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QPointer>
#include <QTemporaryDir>
#include <QTimer>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/app_startup.h"
#include "app/main_dlg.h"
#include "tests/support/qt_app_environment.h"
#include "tests/support/scoped_settings_store.h"

namespace kestrel::test {

// One QApplication for the whole test program, named, iconed and fonted as kestrel's.
class CWindowAppEnvironment : public CQtAppEnvironment {
protected:
    void Prepare(QApplication& app) override { InitApplication(app); }
};

// Open, Run, Info and Stop as E (enabled) or D, then the type list and the bar that shows.
inline std::string ButtonStates(const CMainDlg& dlg)
{
    std::string state;
    for (int nId : {IDC_BTN_OPEN, IDC_BTN_RUN, IDC_BTN_INFO, IDC_BTN_STOP}) state += dlg.GetDlgItem(nId)->isEnabled() ? 'E' : 'D';
    state += dlg.GetDlgItem(IDC_COMBO_TYPE)->isEnabled() ? " list E" : " list D";
    state += dlg.GetDlgItem(IDC_PROGRESS)->isVisible() ? " bar 1005" : " bar 1020";
    return state;
}

// The operator picks an entry of a window's type list.
inline void ChooseType(QWidget* pList, const char* pszEntry)
{
    auto* pCombo = qobject_cast<QComboBox*>(pList);
    ASSERT_NE(pCombo, nullptr);
    const int nIndex = pCombo->findText(QString::fromUtf8(pszEntry));
    ASSERT_GE(nIndex, 0) << pszEntry;
    pCombo->setCurrentIndex(nIndex);
    emit pCombo->activated(nIndex);
}
inline void ChooseType(CMainDlg& dlg, const char* pszEntry) { ChooseType(dlg.GetDlgItem(IDC_COMBO_TYPE), pszEntry); }

// Right-clicks the window and chooses the entry at the index of its context menu; the texts of
// the menu's entries, none when no menu opened.
inline QStringList ChooseFromContextMenu(QWidget& window, int nEntry)
{
    QStringList entries;
    QTimer::singleShot(0, [&] {
        auto* pMenu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (pMenu == nullptr) return;
        for (const QAction* pAction : pMenu->actions()) entries << pAction->text();
        if (nEntry < pMenu->actions().size()) pMenu->actions()[nEntry]->trigger();
        pMenu->close();
    });
    const QPoint pt(5, 5);
    QContextMenuEvent menuEvent(QContextMenuEvent::Mouse, pt, window.mapToGlobal(pt));
    QApplication::sendEvent(&window, &menuEvent);
    return entries;
}

// Answers each modal dialog once its own event loop runs: the next handler in line, or by
// default the default button (a message box) or OK. It keeps what each dialog said.
class CDialogAnswerer : public QObject {
public:
    using Handler = std::function<void(QDialog&)>;

    CDialogAnswerer() { qApp->installEventFilter(this); }
    ~CDialogAnswerer() override { qApp->removeEventFilter(this); }
    CDialogAnswerer(const CDialogAnswerer&) = delete;
    CDialogAnswerer& operator=(const CDialogAnswerer&) = delete;

    void Then(Handler handler) { m_handlers.push_back(std::move(handler)); }

    // The text of each message box, the title of each other dialog, in order.
    const std::vector<QString>& Seen() const { return m_seen; }
    // The icon of each message box, in order.
    const std::vector<QMessageBox::Icon>& Icons() const { return m_icons; }

    static void AnswerDefault(QDialog& dlg)
    {
        if (auto* pBox = qobject_cast<QMessageBox*>(&dlg)) {
            QAbstractButton* pButton = pBox->defaultButton();
            if (pButton == nullptr && !pBox->buttons().isEmpty()) pButton = pBox->buttons().constFirst();
            if (pButton != nullptr) pButton->click();
            return;
        }
        dlg.accept();
    }

protected:
    bool eventFilter(QObject* pWatched, QEvent* pEvent) override
    {
        auto* pDlg = qobject_cast<QDialog*>(pWatched);
        if (pEvent->type() != QEvent::Show || pDlg == nullptr || qobject_cast<CMainDlg*>(pDlg) != nullptr) return false;
        auto* pBox = qobject_cast<QMessageBox*>(pDlg);
        m_seen.push_back(pBox != nullptr ? pBox->text() : pDlg->windowTitle());
        if (pBox != nullptr) m_icons.push_back(pBox->icon());
        Handler handler = &AnswerDefault;
        if (!m_handlers.empty()) {
            handler = std::move(m_handlers.front());
            m_handlers.pop_front();
        }
        QPointer<QDialog> pGuard(pDlg);
        QMetaObject::invokeMethod(
            this, [pGuard, handler] { if (pGuard) handler(*pGuard); }, Qt::QueuedConnection);
        return false;
    }

private:
    std::deque<Handler> m_handlers;
    std::vector<QString> m_seen;
    std::vector<QMessageBox::Icon> m_icons;
};

}  // namespace kestrel::test
