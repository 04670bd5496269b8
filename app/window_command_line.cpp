#include "app/window_command_line.h"

#include <QCoreApplication>
#include <cstdio>

#include "kestrel_version.h"

namespace kestrel {
namespace {

constexpr char kProgram[] = "kestrel";
const QString kHelp = QStringLiteral("help");
const QString kVersion = QStringLiteral("version");
const QString kStation = QStringLiteral("station");

}  // namespace

CWindowCommandLine::CWindowCommandLine()
{
    m_parser.setApplicationDescription(
        QStringLiteral("Writes a firmware image into a mobile handset over a serial line.\n"
                       "Qt's own options (-platform, -style, ...) are taken too. Settings are kept in\n"
                       "$XDG_CONFIG_HOME/NORVALE/TIDEWELL.ini. See kestrel(1); kestrel-cli flashes without a window."));
    m_parser.addOption(QCommandLineOption({QStringLiteral("h"), kHelp}, QStringLiteral("print this help and exit")));
    m_parser.addOption(QCommandLineOption({QStringLiteral("v"), kVersion}, QStringLiteral("print the version and exit")));
    m_parser.addOption(QCommandLineOption(
        kStation, QStringLiteral("open the station window: one image into the handsets on several ports at once")));
}

std::optional<int> CWindowCommandLine::AnswerHelpOrVersion(int argc, char** argv)
{
    // Qt's own options (-platform, -style, ...) are unknown here; only the QApplication
    // takes them out, so errors wait for Check.
    const QCoreApplication core(argc, argv);
    m_parser.parse(QCoreApplication::arguments());
    if (m_parser.isSet(kHelp)) {
        std::fputs(qPrintable(m_parser.helpText()), stdout);
        return 0;
    }
    if (m_parser.isSet(kVersion)) {
        std::printf("%s %s\n", kProgram, KESTREL_VERSION_TEXT);
        return 0;
    }
    return std::nullopt;
}

std::optional<int> CWindowCommandLine::Check(const QStringList& arguments)
{
    QString error;
    if (!m_parser.parse(arguments))
        error = m_parser.errorText();
    else if (!m_parser.positionalArguments().isEmpty())
        error = QStringLiteral("unexpected argument %1").arg(m_parser.positionalArguments().constFirst());
    if (error.isEmpty()) return std::nullopt;
    std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", kProgram, qPrintable(error), kProgram);
    return 2;
}

EStartWindow CWindowCommandLine::Window() const { return m_parser.isSet(kStation) ? EStartWindow::Station : EStartWindow::Main; }

}  // namespace kestrel
