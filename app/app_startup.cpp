#include "app/app_startup.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFont>
#include <QIcon>
#include <cstdio>

#include "app/main_dlg.h"
#include "app/station_dlg.h"

namespace kestrel {
namespace {
constexpr int kExitUsage = 2;
}  // namespace

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

std::optional<EStartWindow> ParseCommandLine(const QStringList& arguments, int& nExitCode)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Writes a firmware image into a mobile handset over a serial line."));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Shows these options."));
    parser.addOption(help);
    const QCommandLineOption station(QStringLiteral("station"),
                                     QStringLiteral("Opens the station window: one image into the handsets on several "
                                                    "ports at once."));
    parser.addOption(station);
    QString strError;
    if (!parser.parse(arguments))
        strError = parser.errorText();
    else if (!parser.positionalArguments().isEmpty())
        strError = QStringLiteral("Unexpected argument '%1'.").arg(parser.positionalArguments().constFirst());
    if (!strError.isEmpty()) {
        std::fprintf(stderr, "kestrel: %s\n%s", qPrintable(strError), qPrintable(parser.helpText()));
        nExitCode = kExitUsage;
        return std::nullopt;
    }
    if (parser.isSet(help)) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        nExitCode = 0;
        return std::nullopt;
    }
    return parser.isSet(station) ? EStartWindow::Station : EStartWindow::Main;
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
