#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

#include "cli/commands.h"
#include "engine/library_loader.h"
#include "formats/core/formats_core.h"

namespace qm::cli {

namespace {

using namespace qm::formats;

void usage(std::FILE* to) { std::fprintf(to, "Usage: quellmark-cli formats [--json]\n"); }

// The engine beside the program first, then the system's; without it nothing can be said about
// which formats the engine can make.
bool loadEngine() {
    using namespace qm::engine;
    if (FFLoader().LibraryPath().empty()) FFLoader().SetLibraryPath((ProgramDir() + QStringLiteral("LibAV")).toStdString());
    return FFLoader().LoadLibs(LibraryBit(libAVCodec) | LibraryBit(libAVUtil));
}

QString videoText(const TFormatInfo& f) {
    if (f.VideoEncoder.isEmpty()) return QStringLiteral("-");
    const QString rate = f.FrameRate == KeepOriginal ? QStringLiteral("movie's") : f.FrameRate;
    const QString bitRate = f.VideoBitrate < 0 ? QStringLiteral("auto") : QStringLiteral("%1k").arg(f.VideoBitrate);
    return QStringLiteral("%1 %2 %3 fps %4").arg(f.VideoEncoder, f.Resolution, rate, bitRate);
}

QString audioText(const TFormatInfo& f) {
    return QStringLiteral("%1 %2 Hz %3 ch %4k").arg(f.AudioEncoder).arg(f.SampleRate).arg(f.Channel).arg(f.AudioBitrate);
}

QJsonObject formatJson(const TFormatInfo& f, const QStringList& missing) {
    return QJsonObject{
        {"id", f.ID},
        {"name", f.Name},
        {"group", f.GroupID},
        {"extension", f.Format},
        {"description", f.description},
        {"skip", f.Skip},
        {"available", missing.isEmpty()},
        {"missingEncoders", QJsonArray::fromStringList(missing)},
        {"videoCodec", f.VideoEncoder},
        {"resolution", f.Resolution},
        {"frameRate", f.FrameRate},
        {"videoBitRate", f.VideoBitrate},
        {"audioCodec", f.AudioEncoder},
        {"sampleRate", f.SampleRate},
        {"channels", f.Channel},
        {"audioBitRate", f.AudioBitrate},
    };
}

const char* listName(int formatType) {
    switch (formatType) {
        case 0: return "Format";
        case 1: return "Device";
        default: return "Top";
    }
}

}  // namespace

int RunFormats(const Args& args) {
    bool json = false;
    for (const auto& a : args) {
        if (a == "--json") {
            json = true;
        } else if (a == "--help" || a == "-h") {
            usage(stdout);
            return 0;
        } else {
            std::fprintf(stderr, "quellmark-cli: formats: unknown argument \"%s\"\n", a.c_str());
            usage(stderr);
            return 2;
        }
    }
    if (!QFileInfo::exists(BuiltInFormatFileName())) {
        std::fprintf(stderr, "quellmark-cli: formats: the catalogue %s is missing\n", qPrintable(BuiltInFormatFileName()));
        return 1;
    }
    TFormatList formats;
    const bool clean = LoadFormatFile(BuiltInFormatFileName(), formats);
    LoadGroupFile();
    TFormatList user;
    LoadFormatFile(app::GetPersonalFolder() + QStringLiteral("Brelvik/Quellmark Converter/UserFormat.dat"), user);
    if (!clean) std::fprintf(stderr, "quellmark-cli: formats: some entries of %s could not be read\n", qPrintable(BuiltInFormatFileName()));
    const bool engine = loadEngine();
    if (!engine)
        std::fprintf(stderr, "quellmark-cli: formats: the engine could not be loaded (%s); encoders not checked\n",
                     qm::engine::FFLoader().LastError().c_str());
    const auto missingOf = [&](const TFormatInfo& f) { return engine ? MissingEncoders(f) : QStringList{}; };

    if (json) {
        QJsonArray groups, list;
        for (const TGroupFormat& g : FormatGroups)
            groups.append(QJsonObject{{"order", g.Order}, {"name", g.Name}, {"list", listName(g.FormatType)}});
        for (const TFormatInfo& f : formats) list.append(formatJson(f, missingOf(f)));
        for (const TFormatInfo& f : user) list.append(formatJson(f, missingOf(f)));
        const QJsonObject root{{"engineLoaded", engine}, {"groups", groups}, {"formats", list}};
        std::fputs(QJsonDocument(root).toJson(QJsonDocument::Indented).constData(), stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }

    const auto printFormat = [&](const TFormatInfo& f) {
        const QStringList missing = missingOf(f);
        QString note;
        if (f.Skip) note = QStringLiteral("  (hidden)");
        if (!missing.isEmpty()) note = QStringLiteral("  (not offered: no encoder %1)").arg(missing.join(QStringLiteral(", ")));
        std::printf("    %-5d %-22s %-6s video %s; audio %s%s\n", f.ID, qPrintable(f.Name), qPrintable(f.Format),
                    qPrintable(videoText(f)), qPrintable(audioText(f)), qPrintable(note));
    };
    for (const TGroupFormat& g : FormatGroups) {
        std::printf("%s list, group %d: %s\n", listName(g.FormatType), g.Order, qPrintable(g.Name));
        const TFormatList& members = g.Order == UserGroupID ? user : formats;
        for (const TFormatInfo& f : members)
            if (g.Order == UserGroupID || f.GroupID == g.Order) printFormat(f);
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace qm::cli
