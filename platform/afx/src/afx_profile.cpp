// SPDX-License-Identifier: GPL-3.0-or-later
// The application's profile: <title>/<title>.ini in the user's configuration folder, named after the
// application's title, through QSettings (its file locking, atomic rewrite and folder rules) but in
// a file format of our own.
//
// Qt's own INI format turns values that start with "@" into typed values: "@Variant(...)"
// unpacks binary data with QDataStream, where a damaged or hand-written file can ask for
// gigabytes or for images to be decoded. A profile is text, and is read as text here:
//
//   [Section]            a line starting with "[" names the section, up to "]"
//   key = value          blanks around the key and the value are dropped
//   key = "va\"lue"      a value in double quotes keeps its blanks; \\ \" \n \r \t \xHH inside
//   ; comment, # comment
//
// Anything else on a line of its own is ignored; the first of two equal keys counts. Values are
// written plain unless they need the quotes, so the file stays as simple as it looks.
#include "platform/afxapp.h"

#include <QIODevice>
#include <QSettings>

#include <cstdlib>
#include <memory>

namespace {
CString g_profilePath;

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// A value as the file holds it (already trimmed) to its text.
QString ValueText(const QByteArray& raw)
{
    if (raw.size() < 2 || !raw.startsWith('"') || !raw.endsWith('"'))
        return QString::fromUtf8(raw);
    QByteArray text;
    const qsizetype end = raw.size() - 1;
    for (qsizetype i = 1; i < end; ++i) {
        const char c = raw[i];
        if (c != '\\' || i + 1 == end) {
            text += c;
            continue;
        }
        const char e = raw[++i];
        switch (e) {
        case 'n': text += '\n'; break;
        case 'r': text += '\r'; break;
        case 't': text += '\t'; break;
        case 'x':
            if (i + 2 < end && HexDigit(raw[i + 1]) >= 0 && HexDigit(raw[i + 2]) >= 0) {
                text += static_cast<char>(HexDigit(raw[i + 1]) * 16 + HexDigit(raw[i + 2]));
                i += 2;
            } else {
                text += "\\x";
            }
            break;
        case '\\':
        case '"': text += e; break;
        default: text += '\\'; text += e; break;   // not an escape: kept as written
        }
    }
    return QString::fromUtf8(text);
}

// A text as a value in the file: plain when it reads back the same, else in quotes.
QByteArray FileValue(const QString& value)
{
    const QByteArray text = value.toUtf8();
    bool quote = !text.isEmpty() && (IsBlank(text.front()) || IsBlank(text.back()) || text.front() == '"');
    for (const char c : text)
        quote = quote || static_cast<unsigned char>(c) < 0x20 || c == 0x7f;
    if (!quote)
        return text;
    QByteArray out("\"");
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '"': out += "\\\""; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (u < 0x20 || u == 0x7f) {
                static const char hex[] = "0123456789abcdef";
                out += "\\x";
                out += hex[u >> 4];
                out += hex[u & 0xf];
            } else {
                out += c;
            }
        }
    }
    return out + '"';
}

// A full key ("Section/key", or "key" outside any section) as the file's section and key; false
// when the file cannot hold it so that it reads back as the same key.
bool SplitName(const QString& name, QByteArray& section, QByteArray& key)
{
    const QByteArray utf8 = name.toUtf8();
    const qsizetype slash = utf8.indexOf('/');
    section = slash < 0 ? QByteArray() : utf8.left(slash);
    key = slash < 0 ? utf8 : utf8.mid(slash + 1);
    const auto plain = [](const QByteArray& text) {
        return !text.isEmpty() && !IsBlank(text.front()) && !IsBlank(text.back()) && !text.contains('\n')
               && !text.contains('\r');
    };
    if (slash >= 0 && (!plain(section) || section.contains(']')))
        return false;
    return plain(key) && !key.contains('=') && key.front() != '[' && key.front() != ';' && key.front() != '#';
}

bool ReadProfileFile(QIODevice& device, QSettings::SettingsMap& map)
{
    const QByteArray all = device.readAll();
    qsizetype at = all.startsWith("\xEF\xBB\xBF") ? 3 : 0;   // a byte-order mark left by an editor
    QString section;
    QByteArray unusedSection;
    QByteArray unusedKey;
    while (at < all.size()) {
        qsizetype end = at;
        while (end < all.size() && all[end] != '\n' && all[end] != '\r')
            ++end;
        const QByteArray line = all.mid(at, end - at).trimmed();
        at = end + 1;
        if (line.isEmpty() || line.front() == ';' || line.front() == '#')
            continue;
        if (line.front() == '[') {
            const qsizetype close = line.indexOf(']');
            section = QString::fromUtf8(line.mid(1, close < 0 ? -1 : close - 1).trimmed());
            continue;
        }
        const qsizetype equals = line.indexOf('=');
        if (equals < 0)
            continue;
        const QString key = QString::fromUtf8(line.left(equals).trimmed());
        const QString name = section.isEmpty() ? key : section + QLatin1Char('/') + key;
        // A name that could not be written back is a damaged line: left out, so that it cannot
        // stop the program's own settings from being saved.
        if (SplitName(name, unusedSection, unusedKey) && !map.contains(name))
            map.insert(name, ValueText(line.mid(equals + 1).trimmed()));
    }
    return true;
}

bool WriteProfileFile(QIODevice& device, const QSettings::SettingsMap& map)
{
    // Keys outside any section first; the rest are sorted, so each section's keys are together.
    QByteArray top;
    QByteArray sections;
    QByteArray current;
    for (auto it = map.cbegin(); it != map.cend(); ++it) {
        QByteArray section;
        QByteArray key;
        if (!SplitName(it.key(), section, key))
            return false;
        const QByteArray line = key + '=' + FileValue(it.value().toString()) + '\n';
        if (section.isEmpty()) {
            top += line;
            continue;
        }
        if (section != current) {
            sections += (sections.isEmpty() ? "[" : "\n[") + section + "]\n";
            current = section;
        }
        sections += line;
    }
    const QByteArray out = top.isEmpty() || sections.isEmpty() ? top + sections : top + '\n' + sections;
    return device.write(out) == out.size();
}

QSettings::Format ProfileFormat()
{
    static const QSettings::Format format =
        QSettings::registerFormat(QStringLiteral("ini"), &ReadProfileFile, &WriteProfileFile);
    return format;
}

// The profile of the application called appName.
std::unique_ptr<QSettings> OpenProfile(const CString& appName)
{
    if (!g_profilePath.empty())
        return std::make_unique<QSettings>(QString::fromUtf8(g_profilePath.c_str()), ProfileFormat());
    const QString name = QString::fromUtf8(appName.c_str());
    return std::make_unique<QSettings>(ProfileFormat(), QSettings::UserScope, name, name);
}

QString ProfileKey(LPCSTR section, LPCSTR entry)
{
    return QString::fromUtf8(section) + QLatin1Char('/') + QString::fromUtf8(entry);
}

// Writes the profile out; whether the file could be written.
bool SyncProfile(QSettings& settings)
{
    settings.sync();
    return settings.status() == QSettings::NoError;
}
} // namespace

void afxtest::SetProfilePath(const CString& iniPath) { g_profilePath = iniPath; }

CString CWinApp::GetProfileString(LPCSTR section, LPCSTR entry, LPCSTR defaultValue)
{
    const auto settings = OpenProfile(m_pszAppName);
    const QVariant v = settings->value(ProfileKey(section, entry));
    if (!v.isValid())
        return CString(defaultValue != nullptr ? defaultValue : "");
    return v.toString().toStdString();
}

int CWinApp::GetProfileInt(LPCSTR section, LPCSTR entry, int defaultValue)
{
    const auto settings = OpenProfile(m_pszAppName);
    const QVariant v = settings->value(ProfileKey(section, entry));
    if (!v.isValid())
        return defaultValue;
    // The decimal number the text starts with, as INI readers of old read one.
    return std::atoi(v.toString().toUtf8().constData());
}

BOOL CWinApp::WriteProfileString(LPCSTR section, LPCSTR entry, LPCSTR value)
{
    const auto settings = OpenProfile(m_pszAppName);
    settings->setValue(ProfileKey(section, entry), QString::fromUtf8(value != nullptr ? value : ""));
    return SyncProfile(*settings);
}

BOOL CWinApp::WriteProfileInt(LPCSTR section, LPCSTR entry, int value)
{
    const auto settings = OpenProfile(m_pszAppName);
    settings->setValue(ProfileKey(section, entry), QString::number(value));
    return SyncProfile(*settings);
}
