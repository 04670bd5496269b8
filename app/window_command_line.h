#pragma once
// kestrel's command line: -h/--help and -v/--version, answered before a display is opened,
// --station for the station window, and a usage error for anything Qt does not take itself.

#include <QCommandLineParser>
#include <QStringList>
#include <optional>

namespace kestrel {

enum class EStartWindow { Main, Station };

class CWindowCommandLine {
public:
    CWindowCommandLine();

    // Before the QApplication exists: prints the help or the version when asked for and
    // returns the exit code; none when the window is to start.
    std::optional<int> AnswerHelpOrVersion(int argc, char** argv);
    // The QApplication's arguments, Qt's own options taken out: exit code 2 after a usage
    // error, none when the window is to start.
    std::optional<int> Check(const QStringList& arguments);
    // After a Check without an exit code: the window to open.
    EStartWindow Window() const;

private:
    QCommandLineParser m_parser;
};

}  // namespace kestrel
