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
    kestrel::InitInstance(commandLine.Window());
    return 0;
}
