// Reading and writing the catalogue files (built-in and user formats) and the group file.
#include <QCoreApplication>
#include <QDir>
#include <QDomDocument>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <optional>

#include "formats/core/formats_core.h"
#include "formats/core/formats_log.h"

namespace qm::formats {

TFormatList BuiltInFormats;
TFormatList UserFormats;
QList<TGroupFormat> FormatGroups;
TFormatInfo CurrentFormat;

namespace {

QString programDirOverride;

QString withSlash(QString folder) {
    if (!folder.isEmpty() && !folder.endsWith(QLatin1Char('/'))) folder += QLatin1Char('/');
    return folder;
}

// Why an entry could not be read; the first problem found is kept.
struct EntryReader {
    QDomElement element;
    QString problem;

    void fail(const QString& text) {
        if (problem.isEmpty()) problem = text;
    }
    QString attribute(const QString& name) {
        if (!element.hasAttribute(name)) fail(QStringLiteral("attribute \"%1\" is missing").arg(name));
        return element.attribute(name);
    }
    int32_t intAttribute(const QString& name) {
        const QString text = attribute(name);
        return toInt(text, QStringLiteral("attribute \"%1\"").arg(name), element.hasAttribute(name));
    }
    bool boolAttribute(const QString& name) {
        const QString text = attribute(name).trimmed();
        if (!element.hasAttribute(name)) return false;
        if (text.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0) return true;
        if (text.compare(QLatin1String("False"), Qt::CaseInsensitive) == 0) return false;
        fail(QStringLiteral("attribute \"%1\" is not True or False: \"%2\"").arg(name, text));
        return false;
    }
    int32_t toInt(const QString& text, const QString& what, bool present) {
        int32_t v = 0;
        if (present && !app::ParseInt32(text.trimmed(), v))
            fail(QStringLiteral("%1 is not a number: \"%2\"").arg(what, text));
        return v;
    }
    // A child element's text; a missing one is a problem unless it is optional.
    static std::optional<QString> childText(const QDomElement& parent, const QString& name) {
        const QDomElement child = parent.firstChildElement(name);
        if (child.isNull()) return std::nullopt;
        return child.text();
    }
    QString text(const QDomElement& parent, const QString& name) {
        const auto t = childText(parent, name);
        if (!t) fail(QStringLiteral("element \"%1\" is missing").arg(name));
        return t.value_or(QString());
    }
    int32_t number(const QDomElement& parent, const QString& name) {
        const auto t = childText(parent, name);
        if (!t) fail(QStringLiteral("element \"%1\" is missing").arg(name));
        return toInt(t.value_or(QString()), QStringLiteral("element \"%1\"").arg(name), t.has_value());
    }
};

QImage loadPicture(const QString& path) {
    QImage image;
    if (QFileInfo::exists(path) && !image.load(path, "PNG"))
        LogFormatsError(QStringLiteral("Cannot load the picture %1").arg(path));
    return image;
}

// Parses `path` into `doc`; logs and answers false when it cannot.
bool parseFile(const QString& path, QDomDocument& doc) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        LogFormatsError(QStringLiteral("Cannot open %1: %2").arg(path, file.errorString()));
        return false;
    }
    QString message;
    int line = 0, column = 0;
    if (!doc.setContent(&file, &message, &line, &column)) {
        LogFormatsError(QStringLiteral("Cannot read %1: %2 at line %3, column %4")
                            .arg(path, message)
                            .arg(line)
                            .arg(column));
        return false;
    }
    return true;
}

bool saveFile(const QDomDocument& doc, const QString& path) {
    QSaveFile file(path);
    // Unbuffered, so a short write (a full disk) shows in write()'s count: a buffered one is
    // lost in the flush and the shortened file would replace the user's formats.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        LogFormatsError(QStringLiteral("Cannot write %1: %2").arg(path, file.errorString()));
        return false;
    }
    const QByteArray bytes = doc.toByteArray(2);
    if (file.write(bytes) != bytes.size()) {
        LogFormatsError(QStringLiteral("Cannot write %1: %2").arg(path, file.errorString()));
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        LogFormatsError(QStringLiteral("Cannot write %1: %2").arg(path, file.errorString()));
        return false;
    }
    return true;
}

QString boolText(bool v) { return v ? QStringLiteral("True") : QStringLiteral("False"); }

void addText(QDomDocument& doc, QDomElement& parent, const QString& name, const QString& value) {
    QDomElement e = doc.createElement(name);
    if (!value.isEmpty()) e.appendChild(doc.createTextNode(value));
    parent.appendChild(e);
}

void addNumber(QDomDocument& doc, QDomElement& parent, const QString& name, int32_t value) {
    addText(doc, parent, name, QString::number(value));
}

std::optional<TFormatInfo> readFormat(const QDomElement& element, QString& problem) {
    EntryReader r{element, {}};
    TFormatInfo f;
    f.ID = r.intAttribute(QStringLiteral("ID"));
    f.Skip = r.boolAttribute(QStringLiteral("Skip"));
    f.FormatType = r.intAttribute(QStringLiteral("FormatType"));
    f.Format = r.attribute(QStringLiteral("Format"));
    f.ICON = r.attribute(QStringLiteral("ICON"));
    f.GroupID = r.intAttribute(QStringLiteral("GroupID"));
    f.Enabled = r.boolAttribute(QStringLiteral("Enabled"));
    f.Name = r.text(element, QStringLiteral("Name"));
    f.description = r.text(element, QStringLiteral("description"));
    // A format without video has no video lists at all.
    if (!EntryReader::childText(element, QStringLiteral("VideoEncoderList")).value_or(QString()).isEmpty()) {
        f.VideoEncoderList = r.text(element, QStringLiteral("VideoEncoderList"));
        f.ResolutionList = r.text(element, QStringLiteral("ResolutionList"));
        f.FrameRateList = r.text(element, QStringLiteral("FrameRateList"));
        f.VideoBitRateList = r.text(element, QStringLiteral("VideoBitRateList"));
    }
    f.AudioEncoderlist = r.text(element, QStringLiteral("AudioEncoderlist"));
    f.SampleRateList = r.text(element, QStringLiteral("SampleRateList"));
    f.ChannelList = r.text(element, QStringLiteral("ChannelList"));
    f.AudioBitRateList = r.text(element, QStringLiteral("AudioBitRateList"));
    const QDomElement enc = element.firstChildElement(QStringLiteral("EncParam"));
    if (enc.isNull()) {
        r.fail(QStringLiteral("element \"EncParam\" is missing"));
    } else {
        f.Interpolation = r.number(enc, QStringLiteral("Interpolation"));
        f.ResizeStyle = r.number(enc, QStringLiteral("ResizeStyle"));
        f.VideoEncoder = EntryReader::childText(enc, QStringLiteral("VideoEncoder")).value_or(QString());
        f.Resolution = EntryReader::childText(enc, QStringLiteral("Resolution")).value_or(QString());
        f.VideoBitrate = r.number(enc, QStringLiteral("VideoBitrate"));
        f.FrameRate = EntryReader::childText(enc, QStringLiteral("FrameRate")).value_or(QString());
        f.AudioEncoder = r.text(enc, QStringLiteral("AudioEncoder"));
        f.Channel = r.number(enc, QStringLiteral("Channel"));
        f.SampleRate = r.number(enc, QStringLiteral("SampleRate"));
        f.AudioBitrate = r.number(enc, QStringLiteral("AudioBitrate"));
        f.Norm = r.number(enc, QStringLiteral("Norm"));
    }
    problem = r.problem;
    if (!problem.isEmpty()) return std::nullopt;
    f.IconImage = loadPicture(FormatIconFileName(f.ICON));
    return f;
}

QDomElement formatElement(QDomDocument& doc, const TFormatInfo& f) {
    QDomElement e = doc.createElement(QStringLiteral("FormatInfo"));
    e.setAttribute(QStringLiteral("ID"), QString::number(f.ID));
    e.setAttribute(QStringLiteral("Skip"), boolText(f.Skip));
    e.setAttribute(QStringLiteral("FormatType"), QString::number(f.FormatType));
    e.setAttribute(QStringLiteral("Format"), f.Format);
    e.setAttribute(QStringLiteral("ICON"), f.ICON);
    e.setAttribute(QStringLiteral("GroupID"), QString::number(f.GroupID));
    e.setAttribute(QStringLiteral("Enabled"), boolText(f.Enabled));
    addText(doc, e, QStringLiteral("Name"), f.Name);
    addText(doc, e, QStringLiteral("description"), f.description);
    addText(doc, e, QStringLiteral("VideoEncoderList"), f.VideoEncoderList);
    addText(doc, e, QStringLiteral("ResolutionList"), f.ResolutionList);
    addText(doc, e, QStringLiteral("FrameRateList"), f.FrameRateList);
    addText(doc, e, QStringLiteral("VideoBitRateList"), f.VideoBitRateList);
    addText(doc, e, QStringLiteral("AudioEncoderlist"), f.AudioEncoderlist);
    addText(doc, e, QStringLiteral("SampleRateList"), f.SampleRateList);
    addText(doc, e, QStringLiteral("ChannelList"), f.ChannelList);
    addText(doc, e, QStringLiteral("AudioBitRateList"), f.AudioBitRateList);
    QDomElement enc = doc.createElement(QStringLiteral("EncParam"));
    addNumber(doc, enc, QStringLiteral("Interpolation"), f.Interpolation);
    addNumber(doc, enc, QStringLiteral("ResizeStyle"), f.ResizeStyle);
    addText(doc, enc, QStringLiteral("VideoEncoder"), f.VideoEncoder);
    addText(doc, enc, QStringLiteral("Resolution"), f.Resolution);
    addNumber(doc, enc, QStringLiteral("VideoBitrate"), f.VideoBitrate);
    addText(doc, enc, QStringLiteral("FrameRate"), f.FrameRate);
    addText(doc, enc, QStringLiteral("AudioEncoder"), f.AudioEncoder);
    addNumber(doc, enc, QStringLiteral("Channel"), f.Channel);
    addNumber(doc, enc, QStringLiteral("SampleRate"), f.SampleRate);
    addNumber(doc, enc, QStringLiteral("AudioBitrate"), f.AudioBitrate);
    addNumber(doc, enc, QStringLiteral("Norm"), f.Norm);
    e.appendChild(enc);
    return e;
}

}  // namespace

QString ProgramDir() {
    if (!programDirOverride.isEmpty()) return programDirOverride;
    if (QCoreApplication::instance()) return withSlash(QCoreApplication::applicationDirPath());
    return withSlash(QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath().section(QLatin1Char('/'), 0, -2));
}

void SetProgramDir(const QString& folder) { programDirOverride = withSlash(folder); }

QString BuiltInFormatFileName() { return ProgramDir() + QStringLiteral("Format.dat"); }
QString GroupFileName() { return ProgramDir() + QStringLiteral("Group.dat"); }
QString UserFormatFileName() { return app::DataDir + QStringLiteral("UserFormat.dat"); }
QString FormatIconFileName(const QString& icon) {
    return ProgramDir() + QStringLiteral("skin/Format/") + icon + QStringLiteral(".png");
}

bool LoadFormatFile(const QString& path, TFormatList& list) {
    if (!QFileInfo::exists(path)) return true;
    QDomDocument doc;
    if (!parseFile(path, doc)) return false;
    bool clean = true;
    int index = 0;
    for (QDomElement e = doc.documentElement().firstChildElement(); !e.isNull();
         e = e.nextSiblingElement(), ++index) {
        QString problem;
        if (auto f = readFormat(e, problem)) {
            list.append(*f);
        } else {
            clean = false;
            LogFormatsError(QStringLiteral("%1: format entry %2 (ID \"%3\") skipped: %4")
                                .arg(path)
                                .arg(index + 1)
                                .arg(e.attribute(QStringLiteral("ID")), problem));
        }
    }
    return clean;
}

bool AppendFormatToFile(const TFormatInfo& format, const QString& path) {
    QDomDocument doc;
    if (QFileInfo::exists(path)) {
        // Never start afresh over a file we could not read: that would lose the user's formats.
        if (!parseFile(path, doc)) return false;
        if (doc.documentElement().isNull()) {
            LogFormatsError(QStringLiteral("Cannot read %1: no document element").arg(path));
            return false;
        }
    } else {
        doc.appendChild(doc.createProcessingInstruction(QStringLiteral("xml"),
                                                        QStringLiteral("version=\"1.0\" encoding=\"UTF-8\"")));
        doc.appendChild(doc.createElement(QStringLiteral("product")));
    }
    QDomElement root = doc.documentElement();
    root.appendChild(formatElement(doc, format));
    return saveFile(doc, path);
}

bool DeleteFormatFromFile(int32_t id, const QString& path) {
    if (!QFileInfo::exists(path)) return true;
    QDomDocument doc;
    if (!parseFile(path, doc)) return false;
    QDomElement root = doc.documentElement();
    for (QDomElement e = root.firstChildElement(); !e.isNull(); e = e.nextSiblingElement()) {
        int32_t v = 0;
        if (app::ParseInt32(e.attribute(QStringLiteral("ID")).trimmed(), v) && v == id) {
            root.removeChild(e);
            return saveFile(doc, path);
        }
    }
    return true;
}

bool FindFormat(int32_t id, TFormatInfo& format) {
    const TFormatList& list = id > UserFormatIDThreshold ? UserFormats : BuiltInFormats;
    for (const TFormatInfo& f : list) {
        if (f.ID == id) {
            format = f;
            return true;
        }
    }
    return false;
}

void ClearFormatList(TFormatList& list) { list.clear(); }

bool LoadGroupFile() {
    ClearGroups();
    const QString path = GroupFileName();
    if (!QFileInfo::exists(path)) {
        LogFormatsError(QStringLiteral("Cannot open %1: the file does not exist").arg(path));
        return false;
    }
    QDomDocument doc;
    if (!parseFile(path, doc)) return false;
    bool clean = true;
    int index = 0;
    for (QDomElement e = doc.documentElement().firstChildElement(); !e.isNull();
         e = e.nextSiblingElement(), ++index) {
        EntryReader r{e, {}};
        TGroupFormat g;
        g.FormatType = r.intAttribute(QStringLiteral("ForamtType"));
        g.Order = r.intAttribute(QStringLiteral("order"));
        g.Name = r.attribute(QStringLiteral("Name"));
        g.ICO = e.attribute(QStringLiteral("ICO"));
        if (!r.problem.isEmpty()) {
            clean = false;
            LogFormatsError(QStringLiteral("%1: group entry %2 skipped: %3").arg(path).arg(index + 1).arg(r.problem));
            continue;
        }
        // Beside the program like the format pictures, so a start from another folder still
        // finds them.
        if (!g.ICO.isEmpty()) g.IconImage = loadPicture(FormatIconFileName(g.ICO));
        FormatGroups.append(g);
    }
    return clean;
}

void ClearGroups() { FormatGroups.clear(); }

int CountGroups(int32_t formatType) {
    return int(std::count_if(FormatGroups.cbegin(), FormatGroups.cend(),
                             [&](const TGroupFormat& g) { return g.FormatType == formatType; }));
}

int32_t NextUserFormatID() {
    if (UserFormats.isEmpty()) return UserFormatIDThreshold + 1;
    int32_t highest = UserFormatIDThreshold + 1;
    for (const TFormatInfo& f : UserFormats) highest = std::max(highest, f.ID);
    return highest + 1;
}

bool CanAddUserFormat() { return UserFormats.size() < MaxUserFormats; }

void ReloadUserFormats() {
    ClearFormatList(UserFormats);
    LoadFormatFile(UserFormatFileName(), UserFormats);
}

bool AddUserFormat(const TFormatInfo& format) {
    if (!CanAddUserFormat()) return false;
    const bool ok = AppendFormatToFile(format, UserFormatFileName());
    ReloadUserFormats();
    return ok;
}

bool DeleteUserFormat(int32_t id) {
    const bool ok = DeleteFormatFromFile(id, UserFormatFileName());
    ReloadUserFormats();
    return ok;
}

}  // namespace qm::formats
