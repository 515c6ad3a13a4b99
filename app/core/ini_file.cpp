#include "app/core/app_core.h"

#include <QFile>
#include <QSaveFile>

namespace qm::app {

namespace {

QStringList ReadLines(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    QString text = QString::fromUtf8(f.readAll());
    if (text.startsWith(QChar(0xFEFF))) text.remove(0, 1);  // byte order mark of some editors
    QStringList lines = text.split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
    for (QString& l : lines)
        if (l.endsWith(QLatin1Char('\r'))) l.chop(1);
    return lines;
}

// Section name of a "[name]" line, or a null string.
QString SectionName(const QString& line) {
    const QString t = line.trimmed();
    if (!t.startsWith(QLatin1Char('['))) return {};
    const qsizetype close = t.indexOf(QLatin1Char(']'));
    if (close < 0) return {};
    const QString name = t.mid(1, close - 1).trimmed();
    return name.isNull() ? QStringLiteral("") : name;
}

bool KeyLine(const QString& line, QString* key, QString* value) {
    const QString t = line.trimmed();
    if (t.startsWith(QLatin1Char(';')) || t.startsWith(QLatin1Char('#'))) return false;
    const qsizetype eq = line.indexOf(QLatin1Char('='));
    if (eq < 0) return false;
    if (key) *key = line.left(eq).trimmed();
    if (value) *value = line.mid(eq + 1).trimmed();
    return true;
}

// Index of the section's header line, or -1.
qsizetype FindSection(const QStringList& lines, const QString& section) {
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString name = SectionName(lines[i]);
        if (!name.isNull() && name.compare(section, Qt::CaseInsensitive) == 0) return i;
    }
    return -1;
}

}  // namespace

QString IniFile::ReadString(const QString& section, const QString& key, const QString& def) const {
    const QStringList lines = ReadLines(path_);
    const qsizetype s = FindSection(lines, section);
    if (s < 0) return def;
    for (qsizetype i = s + 1; i < lines.size() && SectionName(lines[i]).isNull(); ++i) {
        QString k, v;
        if (!KeyLine(lines[i], &k, &v) || k.compare(key, Qt::CaseInsensitive) != 0) continue;
        if (v.size() >= 2 && (v.front() == QLatin1Char('"') || v.front() == QLatin1Char('\'')) &&
            v.back() == v.front())
            v = v.mid(1, v.size() - 2);
        return v;
    }
    return def;
}

int IniFile::ReadInteger(const QString& section, const QString& key, int def) const {
    const QString text = ReadString(section, key);
    bool ok = false;
    int value = 0;
    if (text.size() > 2 && text[0] == QLatin1Char('0') &&
        (text[1] == QLatin1Char('x') || text[1] == QLatin1Char('X')))
        value = text.mid(2).toInt(&ok, 16);
    else
        value = text.toInt(&ok, 10);
    return ok ? value : def;
}

bool IniFile::ReadBool(const QString& section, const QString& key, bool def) const {
    return ReadInteger(section, key, def ? 1 : 0) != 0;
}

void IniFile::WriteString(const QString& section, const QString& key, const QString& value) const {
    // A line break in a value would start a new key of its own.
    QString clean = value;
    clean.remove(QLatin1Char('\r'));
    clean.remove(QLatin1Char('\n'));
    const QString entry = key + QLatin1Char('=') + clean;

    QStringList lines = ReadLines(path_);
    const qsizetype s = FindSection(lines, section);
    if (s < 0) {
        lines << QLatin1Char('[') + section + QLatin1Char(']') << entry;
    } else {
        qsizetype end = s + 1;  // one past the last line of the section
        qsizetype insertAt = s + 1;
        bool replaced = false;
        for (; end < lines.size() && SectionName(lines[end]).isNull(); ++end) {
            QString k;
            if (KeyLine(lines[end], &k, nullptr) && k.compare(key, Qt::CaseInsensitive) == 0) {
                lines[end] = k + QLatin1Char('=') + clean;  // the stored spelling of the name stays
                replaced = true;
                break;
            }
            if (!lines[end].trimmed().isEmpty()) insertAt = end + 1;
        }
        if (!replaced) lines.insert(insertAt, entry);
    }

    QSaveFile f(path_);
    f.setDirectWriteFallback(true);
    QByteArray bytes;
    for (const QString& l : lines) bytes += l.toUtf8() + '\n';
    // Unbuffered, so a short write (a full disk) shows in write()'s count: a buffered one is
    // lost in the flush and the shortened file would be committed.
    if (!f.open(QIODevice::WriteOnly | QIODevice::Unbuffered) || f.write(bytes) != bytes.size() || !f.commit())
        throw IoError(QStringLiteral("Unable to write to %1").arg(path_));
}

void IniFile::WriteBool(const QString& section, const QString& key, bool value) const {
    WriteString(section, key, value ? QStringLiteral("1") : QStringLiteral("0"));
}

QString ReadIniValue(const QString& iniFile, const QString& section, const QString& key,
                     const QString& def) {
    if (!QFile::exists(iniFile)) return def;
    return IniFile(iniFile).ReadString(section, key, def);
}

}  // namespace qm::app
