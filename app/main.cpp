// kestrel: the window that writes a firmware image into a handset.

#include <QApplication>

#include "app/app_startup.h"

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    kestrel::InitApplication(app);
    int nExitCode = 0;
    const auto optWindow = kestrel::ParseCommandLine(QApplication::arguments(), nExitCode);
    if (!optWindow) return nExitCode;
    kestrel::InitInstance(*optWindow);
    return 0;
}
