#include "app/core/app_core.h"

#include <QDir>

namespace qm::app {

QString DataDir;
QString SystemTempPath;
QString SnapshotPath;
QString OutputPath;
QString SnapshotExt;
QString SourcePath;
QString SourceImgPath;
QString SourceAudioPath;
QString CaptureTempPath;
bool OverWrite = false;
bool IsCheckUpdate = true;
int FinishAction = 0;
int CaptureMode = 0;
bool FastCapture = false;

namespace {

QString WithSlash(QString folder) {
    if (!folder.endsWith(QLatin1Char('/'))) folder += QLatin1Char('/');
    return folder;
}

QString* TextSetting(const QString& key) {
    struct Entry {
        const char* name;
        QString* value;
    };
    static const Entry kTexts[] = {
        {"SnapshotPath", &SnapshotPath},       {"OutputPath", &OutputPath},
        {"SnapshotExt", &SnapshotExt},         {"SourcePath", &SourcePath},
        {"SourceImgPath", &SourceImgPath},     {"SourceAudioPath", &SourceAudioPath},
        {"CaptureTempPath", &CaptureTempPath},
    };
    for (const Entry& e : kTexts)
        if (key.compare(QLatin1String(e.name), Qt::CaseInsensitive) == 0) return e.value;
    return nullptr;
}

bool* BoolSetting(const QString& key) {
    if (key.compare(QLatin1String("OverWrite"), Qt::CaseInsensitive) == 0) return &OverWrite;
    if (key.compare(QLatin1String("IsCheckUpdate"), Qt::CaseInsensitive) == 0) return &IsCheckUpdate;
    if (key.compare(QLatin1String("FastCapture"), Qt::CaseInsensitive) == 0) return &FastCapture;
    return nullptr;
}

}  // namespace

QString SettingsFileName() { return DataDir + QStringLiteral("Mirasta.ini"); }

void WriteSetting(const QString& key, const QString& value) {
    IniFile(SettingsFileName()).WriteString(kSettingsSection, key, value);
    if (QString* v = TextSetting(key)) *v = value;
}

void WriteSetting(const QString& key, bool value) {
    IniFile(SettingsFileName()).WriteBool(kSettingsSection, key, value);
    if (bool* v = BoolSetting(key)) *v = value;
}

void LoadSettings() { LoadSettings(GetPersonalFolder(), WithSlash(QDir::tempPath())); }

void LoadSettings(const QString& documentsFolder, const QString& tempFolder) {
    SystemTempPath = tempFolder;
    DataDir = documentsFolder + QStringLiteral("Brelvik/Quellmark Converter/");
    EnsureFolder(DataDir);

    const IniFile ini(SettingsFileName());
    const QString& sec = kSettingsSection;
    SnapshotPath = ini.ReadString(sec, QStringLiteral("SnapshotPath"));
    OutputPath = ini.ReadString(sec, QStringLiteral("OutputPath"));
    SnapshotExt = ini.ReadString(sec, QStringLiteral("SnapshotExt"));
    SourcePath = ini.ReadString(sec, QStringLiteral("SourcePath"));
    SourceImgPath = ini.ReadString(sec, QStringLiteral("SourceImgPath"));
    SourceAudioPath = ini.ReadString(sec, QStringLiteral("SourceAudioPath"));
    CaptureTempPath = ini.ReadString(sec, QStringLiteral("CaptureTempPath"));
    OverWrite = ini.ReadBool(sec, QStringLiteral("OverWrite"), false);
    IsCheckUpdate = ini.ReadBool(sec, QStringLiteral("IsCheckUpdate"), true);
    FastCapture = ini.ReadBool(sec, QStringLiteral("FastCapture"), false);

    // Keys without a value are written back (empty) so a fresh file lists them
    // all in this order; the in-memory value gets the working default.
    auto emptyKey = [&](const char* key, QString& value, const QString& fallback) {
        if (!value.isEmpty()) return;
        ini.WriteString(sec, QLatin1String(key), QString());
        value = fallback;
    };
    if (SnapshotPath.isEmpty()) {
        emptyKey("SnapshotPath", SnapshotPath, DataDir + QStringLiteral("Snapshot/"));
        EnsureFolder(SnapshotPath);
    }
    if (OutputPath.isEmpty()) {
        emptyKey("OutputPath", OutputPath, DataDir + QStringLiteral("Output/"));
        EnsureFolder(OutputPath);
    }
    emptyKey("SnapshotExt", SnapshotExt, QStringLiteral("bmp"));
    emptyKey("SourcePath", SourcePath, QString());
    emptyKey("SourceImgPath", SourceImgPath, QString());
    emptyKey("SourceAudioPath", SourceAudioPath, QString());
    if (IsCheckUpdate) ini.WriteBool(sec, QStringLiteral("IsCheckUpdate"), true);
    if (!OverWrite) ini.WriteBool(sec, QStringLiteral("OverWrite"), false);
    emptyKey("CaptureTempPath", CaptureTempPath, SystemTempPath);
}

}  // namespace qm::app
