#include "app/app_startup.h"

#include <QApplication>
#include <QFont>
#include <QIcon>

#include "app/main_dlg.h"
#include "app/station_dlg.h"

namespace kestrel {

void InitApplication(QApplication& app)
{
    // The application name is the window class the window manager sees (WM_CLASS); the
    // desktop file name ties the window to the installed Kestrel.desktop.
    QApplication::setApplicationName(QStringLiteral("Kestrel"));
    QGuiApplication::setDesktopFileName(QStringLiteral("Kestrel"));
    QApplication::setWindowIcon(QIcon(QString::fromUtf8(kIconResource.data(), static_cast<qsizetype>(kIconResource.size()))));
    // The texts are Korean and English; Nanum Gothic has both.
    app.setFont(QFont(QStringLiteral("NanumGothic"), 9));
}

void InitInstance(EStartWindow eWindow)
{
    if (eWindow == EStartWindow::Station) {
        CStationDlg dlg;
        dlg.exec();
        return;
    }
    CMainDlg dlg;
    dlg.exec();
}

}  // namespace kestrel
