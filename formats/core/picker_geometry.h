// The format picker's geometry and texts as plain functions, so the window only applies them.
#pragma once

#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>

#include <functional>

namespace qm::formats {

// SizeToGroups for F format groups and G device groups: the window, the middle panel (format
// list and its strip), the bottom panel (device list's visible part, at most 275) and the
// device list itself, which is scrolled within its panel when taller.
struct TPickerHeights {
    int window = 0;
    int middle = 0;
    int bottom = 0;
    int deviceList = 0;
};
TPickerHeights PickerHeights(int formatGroups, int deviceGroups);

// PlaceUnderHost: the picker of `size` dropped under `host` (screen coordinates), narrowed to
// and kept inside the work area's width, opened above the host when there is no room below.
QRect PlaceUnderHostRect(QSize size, const QRect& host, const QRect& workArea);

// The item of a 25-pixel group list of `count` items under the mouse at `y`, or -1: a y on an
// item border, above the first or at or below the last item hovers nothing.
int HoveredGroupItem(int y, int count);

// ScrollDeviceToSelection: the device list's new top (<= 0) so that item `selected` is inside
// a panel of `panelHeight`; unchanged when the list fits the panel.
int DeviceListTopForSelection(int selected, int top, int listHeight, int panelHeight);

// The hover hint of a format's description: while more than 50 characters remain, a line ends
// after the first space at or after the 50th character (the space kept), or at the end.
QStringList PickerHintLines(const QString& description);

// A format name as it fits `width`: whole, or its longest prefix that fits with "..." appended,
// or empty when "..." alone is not narrower than `width`.
QString FitNameToWidth(const QString& name, int width, const std::function<int(const QString&)>& textWidth);

// The 80 x 80 picture box of a grid item: centred across `bounds`, and down the bounds less one
// text line (halves toward zero); and the 10 x 10 delete box on its top-right corner.
QRect GridItemBoxRect(const QRect& bounds, int lineHeight);
QRect GridDeleteBoxRect(const QRect& box);

}  // namespace qm::formats
