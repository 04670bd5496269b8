#include "settings_store.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QString>
#include <QStringDecoder>
#include <QStringList>
#include <QVariant>
#include <algorithm>
#include <cstdlib>
#include <limits>

namespace kestrel {
namespace {

// The file Qt itself uses for the user scope of NORVALE/TIDEWELL, located afresh at each
// use: QSettings resolves the scope paths once per process, which would pin the store.
QString StorePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QStringLiteral("/NORVALE/TIDEWELL.ini");
}

// Lines of an INI text: blank, a comment, a section header or name=value. Qt's reader takes
// what it can from anything else and remembers its verdict only for the first read of a file
// in a process, so the store judges the file itself, at every use.
bool IsWellFormedIni(QByteArray data)
{
    if (data.startsWith("\xEF\xBB\xBF")) data.remove(0, 3);
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString text = utf8(data);
    if (utf8.hasError()) return false;
    for (const QStringView line : QStringView(text).split(QLatin1Char('\n'))) {
        const QStringView content = line.trimmed();
        if (content.isEmpty() || content.startsWith(QLatin1Char(';'))) continue;
        if (content.startsWith(QLatin1Char('[')) ? !content.contains(QLatin1Char(']')) : !content.contains(QLatin1Char('=')))
            return false;
    }
    return true;
}

enum class StoreState { kAbsent, kUsable, kBroken };

StoreState CheckStore(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists()) return StoreState::kAbsent;
    QFile file(path);
    if (!info.isFile() || !file.open(QIODevice::ReadOnly)) return StoreState::kBroken;
    const QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError) return StoreState::kBroken;
    return IsWellFormedIni(data) ? StoreState::kUsable : StoreState::kBroken;
}

QString Key(std::string_view strName) { return QString::fromUtf8(strName.data(), static_cast<qsizetype>(strName.size())); }

}  // namespace

std::string SettingsFilePath() { return StorePath().toStdString(); }

std::string SettingsFileProblem()
{
    const QString path = StorePath();
    if (CheckStore(path) != StoreState::kBroken) return {};
    return "The settings file " + path.toStdString() +
           " cannot be read as settings: the defaults are in use, and the file is left as it is.";
}

SettingLookup StoredSettingLookup()
{
    return [](const std::string& strName) { return ReadText(strName); };
}

std::string ReadText(std::string_view strName)
{
    const QString path = StorePath();
    if (CheckStore(path) != StoreState::kUsable) return {};
    const QSettings store(path, QSettings::IniFormat);
    const QVariant value = store.value(Key(strName));
    // Qt reports a file it may not write as an access error even when it read it; the file
    // was found readable above, so only a format error counts here.
    if (store.status() == QSettings::FormatError) return {};
    // An unquoted value with commas, as a hand edit may leave it, is parsed as a list.
    QString text = value.typeId() == QMetaType::QStringList ? value.toStringList().join(QLatin1Char(',')) : value.toString();
    const QList<uint> chars = text.toUcs4();
    if (static_cast<std::size_t>(chars.size()) > kMaxSettingLength)
        text = QString::fromUcs4(reinterpret_cast<const char32_t*>(chars.constData()), kMaxSettingLength);
    return text.toStdString();
}

bool WriteText(std::string_view strName, std::string_view strText)
{
    const QString text = QString::fromUtf8(strText.data(), static_cast<qsizetype>(strText.size()));
    if (static_cast<std::size_t>(text.toUcs4().size()) > kMaxSettingLength) return false;
    const QString path = StorePath();
    if (CheckStore(path) == StoreState::kBroken) return false;
    QSettings store(path, QSettings::IniFormat);
    if (store.status() != QSettings::NoError) return false;
    store.setValue(Key(strName), text);
    store.sync();
    return store.status() == QSettings::NoError;
}

int32_t ReadNumber(std::string_view strName, int32_t nDefault)
{
    const std::string text = ReadText(strName);
    if (text.empty()) return nDefault;
    const long value = std::strtol(text.c_str(), nullptr, 10);
    return static_cast<int32_t>(std::clamp<long>(value, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

bool WriteNumber(std::string_view strName, int32_t nValue) { return WriteText(strName, std::to_string(nValue)); }

}  // namespace kestrel
