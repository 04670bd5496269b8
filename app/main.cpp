// kestrel: the window that writes a firmware image into a handset.

#include <QApplication>

#include "app/app_startup.h"
#include "app/window_command_line.h"

int main(int argc, char** argv)
{
    kestrel::CWindowCommandLine commandLine;
    if (const auto exitCode = commandLine.AnswerHelpOrVersion(argc, argv)) return *exitCode;
    QApplication app(argc, argv);
    if (const auto exitCode = commandLine.Check(QApplication::arguments())) return *exitCode;
    kestrel::InitApplication(app);
    int nExitCode = 0;
    const auto optWindow = kestrel::ParseCommandLine(QApplication::arguments(), nExitCode);
    if (!optWindow) return nExitCode;
    kestrel::InitInstance(*optWindow);
    return 0;
}
