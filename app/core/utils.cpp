#include "app/core/app_core.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QStandardPaths>

#include <cmath>
#include <limits>

namespace qm::app {

bool ParseInt32(const QString& text, int32_t& out) {
    qsizetype i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-')))
        negative = text[i++] == QLatin1Char('-');
    if (i == text.size()) return false;
    int64_t v = 0;
    for (; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) return false;
        v = v * 10 + (c.unicode() - '0');
        if (v > int64_t(std::numeric_limits<int32_t>::max()) + 1) return false;
    }
    if (negative) v = -v;
    if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max())
        return false;
    out = int32_t(v);
    return true;
}

namespace {

// Products stay 32-bit and wrap, as these rectangles have always been computed.
int32_t Mul32(int32_t a, int32_t b) { return int32_t(uint32_t(int64_t(a) * int64_t(b))); }
int32_t Add32(int32_t a, int32_t b) { return int32_t(uint32_t(a) + uint32_t(b)); }
int32_t Sub32(int32_t a, int32_t b) { return int32_t(uint32_t(a) - uint32_t(b)); }

QString UnescapeMountField(const QString& field) {
    QString out;
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field[i] == QLatin1Char('\\') && i + 3 < field.size()) {
            bool ok = false;
            const int code = field.mid(i + 1, 3).toInt(&ok, 8);
            if (ok) {
                out += QChar(code);
                i += 3;
                continue;
            }
        }
        out += field[i];
    }
    return out;
}

bool UnderMountPoint(const QString& path, const QString& mountPoint) {
    if (mountPoint == QLatin1String("/")) return path.startsWith(QLatin1Char('/'));
    return path == mountPoint || path.startsWith(mountPoint + QLatin1Char('/'));
}

}  // namespace

int32_t RoundHalfEven(double x) {
    if (std::isnan(x)) return 0;
    const double r = std::nearbyint(x);  // default rounding: halves go to even
    if (r >= 2147483647.0) return std::numeric_limits<int32_t>::max();
    if (r <= -2147483648.0) return std::numeric_limits<int32_t>::min();
    return int32_t(r);
}

bool EnsureFolder(const QString& folder) {
    if (QFileInfo(folder).isDir()) return true;
    return QDir().mkpath(folder);
}

QString GetPersonalFolder() {
    QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    // Without any documents folder the home folder serves, never the root.
    if (folder.isEmpty()) folder = QDir::homePath();
    if (!folder.endsWith(QLatin1Char('/'))) folder += QLatin1Char('/');
    return folder;
}

bool IsOnReadOnlyOpticalMount(const QString& folder, const QString& mountInfo) {
    QFileInfo info(folder);
    QString path = info.exists() ? info.canonicalFilePath() : QDir::cleanPath(info.absoluteFilePath());
    if (path.isEmpty()) return false;
    qsizetype bestLength = -1;
    bool optical = false;
    for (const QString& line : mountInfo.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QStringList f = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        const qsizetype dash = f.indexOf(QStringLiteral("-"));
        if (f.size() < 6 || dash < 6 || dash + 1 >= f.size()) continue;
        const QString mountPoint = UnescapeMountField(f[4]);
        if (!UnderMountPoint(path, mountPoint) || mountPoint.size() < bestLength) continue;
        bestLength = mountPoint.size();  // a later mount on the same point hides earlier ones
        const QString type = f[dash + 1];
        QStringList options = f[5].split(QLatin1Char(','));
        if (dash + 3 < f.size()) options += f[dash + 3].split(QLatin1Char(','));
        optical = (type == QLatin1String("iso9660") || type == QLatin1String("udf")) &&
                  options.contains(QStringLiteral("ro"));
    }
    return optical;
}

bool IsOnReadOnlyOpticalMount(const QString& folder) {
    QFile f(QStringLiteral("/proc/self/mountinfo"));
    if (!f.open(QIODevice::ReadOnly)) return false;
    return IsOnReadOnlyOpticalMount(folder, QString::fromUtf8(f.readAll()));
}

QString UseLocaleDecimal(const QString& text) {
    QString out = text;
    return out.replace(QLatin1Char('.'), QLocale::system().decimalPoint());
}

QStringList SplitText(const QString& text, const QString& separator) {
    if (separator.isEmpty()) return {text};
    QStringList out;
    QString rest = text;
    qsizetype at;
    while ((at = rest.indexOf(separator)) >= 0) {
        if (at > 0) out << rest.left(at);
        rest.remove(0, at + separator.size());
    }
    out << rest;
    return out;
}

void ParseSize(const QString& size, int32_t& width, int32_t& height) {
    const qsizetype x = size.indexOf(QLatin1Char('x'));
    int32_t w = 0, h = 0;
    if (x < 0 || !ParseInt32(size.left(x), w) || !ParseInt32(size.mid(x + 1), h))
        throw ConversionError(QStringLiteral("'%1' is not a valid size").arg(size));
    width = w;
    height = h;
}

TRect FitRect(const TRect& source, const TRect& destination) {
    const double p = double(source.width()) / double(destination.width());
    const double q = double(source.height()) / double(destination.height());
    TRect r;
    if (p >= q) {
        const int32_t k = RoundHalfEven((destination.height() - source.height() / p) / 2);
        r.left = destination.left;
        r.right = destination.right;
        r.top = Add32(destination.top, k);
        r.bottom = Sub32(destination.bottom, k);
    } else {
        const int32_t k = RoundHalfEven((destination.width() - source.width() / q) / 2);
        r.top = destination.top;
        r.bottom = destination.bottom;
        r.left = Add32(destination.left, k);
        r.right = Sub32(destination.right, k);
    }
    return r;
}

TRect MapRect(const TRect& r, const QString& sizeA, const QString& sizeB) {
    int32_t wA, hA, wB, hB;
    ParseSize(sizeA, wA, hA);
    ParseSize(sizeB, wB, hB);
    const TRect f = FitRect(TRect{0, 0, wA, hA}, TRect{0, 0, wB, hB});
    const double p = double(wA) / double(wB);
    const double q = double(hA) / double(hB);
    TRect out;
    if (p >= q) {
        out.left = RoundHalfEven(r.left / p);
        out.right = RoundHalfEven(r.right / p);
        out.top = RoundHalfEven(double(Mul32(f.bottom - f.top, r.top)) / hB / q + f.top);
        out.bottom = RoundHalfEven(double(Mul32(f.bottom - f.top, r.bottom)) / hB / q + f.top);
    } else {
        out.top = RoundHalfEven(r.top / q);
        out.bottom = RoundHalfEven(r.bottom / q);
        out.left = RoundHalfEven(double(Mul32(f.right - f.left, r.left)) / wB / p + f.left);
        out.right = RoundHalfEven(double(Mul32(f.right - f.left, r.right)) / wB / p + f.left);
    }
    return out;
}

QString FileNameNoExt(const QString& path) {
    const QString name = QFileInfo(path).fileName();
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? name : name.left(dot);
}

QString UniqueFileName(const QString& path) {
    if (!QFileInfo::exists(path)) return path;
    const QFileInfo info(path);
    const QString name = info.fileName();
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const QString stem = path.left(path.size() - (dot < 0 ? 0 : name.size() - dot));
    const QString ext = dot < 0 ? QString() : name.mid(dot);
    for (int n = 1;; ++n) {
        const QString candidate = stem + QStringLiteral("(%1)").arg(n) + ext;
        if (!QFileInfo::exists(candidate)) return candidate;
    }
}

QString NumberedFileName(const QString& path, const QString& extension, const QString& separator) {
    const QString name = QFileInfo(path).fileName();
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const QString stem = dot < 0 ? path : path.left(path.size() - (name.size() - dot));
    for (int n = 0;; ++n) {
        const QString candidate = stem + separator + QString::number(n) + QLatin1Char('.') + extension;
        if (!QFileInfo::exists(candidate)) return candidate;
    }
}

TitleBarPlaces TitleBarLayout(int panelWidth, int closeButtonWidth) {
    return {QPoint(9, 4), QPoint(32, 2), QPoint(panelWidth - closeButtonWidth - 10, 5)};
}

}  // namespace qm::app
