// Where the format picker's parts go and what its texts become; the window only applies these.
#include <QStringList>

#include <algorithm>

#include "formats/core/picker_geometry.h"

namespace qm::formats {

namespace {
constexpr int kItem = 25;
constexpr int kTopPanel = 51;
constexpr int kButtonPanel = 28;
constexpr int kMaxDevicePanel = 275;
constexpr int kBox = 80;
constexpr int kHintLine = 50;
}  // namespace

TPickerHeights PickerHeights(int formatGroups, int deviceGroups) {
    TPickerHeights h;
    h.deviceList = kItem * deviceGroups;
    h.bottom = std::min(h.deviceList, kMaxDevicePanel);
    h.middle = kItem * formatGroups + 1;
    h.window = kItem * formatGroups + kButtonPanel + h.bottom + kTopPanel + 1;
    return h;
}

QRect PlaceUnderHostRect(QSize size, const QRect& host, const QRect& workArea) {
    int width = std::min(size.width(), workArea.width());
    int left = host.left() - 2;
    int top = host.top() + host.height() - 3;
    const int workRight = workArea.left() + workArea.width();
    const int workBottom = workArea.top() + workArea.height();
    if (left + width > workRight) left = workRight - width;
    if (left < workArea.left()) left = workArea.left();
    // No room below: open upwards, the picker's bottom on the host's top.
    if (top + size.height() > workBottom) top = host.top() - size.height();
    return QRect(left, top, width, size.height());
}

int HoveredGroupItem(int y, int count) {
    if (y <= 0) return -1;
    const int b = y / kItem;
    if (y == b * kItem || b >= count) return -1;
    return b;
}

int DeviceListTopForSelection(int selected, int top, int listHeight, int panelHeight) {
    if (selected < 0 || listHeight <= panelHeight + 2) return top;
    // Delphi's div truncates toward zero, as C++'s does.
    const int first = (kItem - top) / kItem - 1;
    const int last = (panelHeight + 2 - top) / kItem - 1;
    if (selected < first) return top + kItem * (first - selected);
    if (selected > last) return top - kItem * (selected - last);
    return top;
}

QStringList PickerHintLines(const QString& description) {
    QStringList lines;
    QString rest = description;
    while (rest.size() > kHintLine) {
        // Cut after the first space at or after the 50th character; the space stays on the line.
        const qsizetype space = rest.indexOf(QLatin1Char(' '), kHintLine - 1);
        const qsizetype cut = space < 0 ? rest.size() : space + 1;
        lines << rest.left(cut);
        rest = rest.mid(cut);
    }
    if (!rest.isEmpty() || lines.isEmpty()) lines << rest;
    return lines;
}

QString FitNameToWidth(const QString& name, int width, const std::function<int(const QString&)>& textWidth) {
    if (textWidth(name) <= width) return name;
    const QString dots = QStringLiteral("...");
    if (textWidth(dots) >= width) return QString();
    // Longest prefix that still fits with the dots, by halving the range.
    qsizetype lo = 0, hi = name.size();
    while (lo < hi) {
        const qsizetype mid = (lo + hi + 1) / 2;
        if (textWidth(name.left(mid) + dots) <= width)
            lo = mid;
        else
            hi = mid - 1;
    }
    return name.left(lo) + dots;
}

QRect GridItemBoxRect(const QRect& bounds, int lineHeight) {
    const int left = bounds.left() + (bounds.width() - kBox) / 2;
    const int top = bounds.top() + (bounds.height() - lineHeight - kBox) / 2;
    return QRect(left, top, kBox, kBox);
}

QRect GridDeleteBoxRect(const QRect& box) {
    const int right = box.left() + box.width();
    return QRect(right - 10, box.top() - 3, 10, 10);
}

}  // namespace qm::formats
