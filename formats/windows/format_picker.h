// The format picker (`TformatFrm`): a borderless drop-down under the format box of the custom
// format settings window. Three group lists on the left (recent and user-defined on top, "Format"
// groups, "Device" groups), the icon grid of one group on the right. Hovering a group for half a
// second shows its formats; clicking a format makes it `CurrentFormat`, rebuilds `CurrentOptions`,
// refreshes the host and closes the picker. Recent and user-defined entries can be deleted from
// the grid through the small box in their corner.
//
// One picker lives as long as the main window, which creates it hidden after the catalogue is
// loaded (`new TformatFrm(mainWindow)`); `TformatFrm::Instance()` finds it. A host window uses it
// like this:
//
//   - implement `TFormatPickerHost` (below);
//   - drop-down button or format caption clicked: `picker->Toggle(this, formatBox)`;
//   - mouse entering / leaving the drop-down button or the caption: `picker->SetKeepOpen(true/false)`,
//     so that the focus moving to that button does not close the picker before the click toggles it.
//
// While it is open the picker is a child window of the host's window (a modal host would otherwise
// block it) and goes back to its owner when it closes. It closes by itself when the host's window
// hides and then forgets the host; a host is only used while its format box lives.
#pragma once

#include <QImage>
#include <QListWidget>
#include <QPointer>
#include <QString>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <functional>

#include "formats/core/formats_core.h"
#include "formats/core/picker_geometry.h"

class QLabel;
class QPushButton;

namespace qm::formats {

// What the picker asks of the window it drops down from (the custom format settings window).
class TFormatPickerHost {
public:
    virtual ~TFormatPickerHost() = default;
    // The format box's text. Setting a different text runs the box's change handling (caption,
    // group glyph); the picker adds a trailing space when it must force that with the same name.
    virtual QString FormatBoxText() const = 0;
    virtual void SetFormatBoxText(const QString& text) = 0;
    // Refill the window's video and audio boxes from CurrentFormat and CurrentOptions.
    virtual void FillFromFormat() = 0;
    // The output-file box := output folder + output name + CurrentOptions.FileExt.
    virtual void RefreshOutputFile() = 0;
    // A user format was deleted in the picker while the window is open (the window's DeletedIDs).
    virtual void AddDeletedID(int32_t id) = 0;
};

// The text the format box must be given so that its change handling runs for `name`.
QString FormatBoxTextFor(const QString& shown, const QString& name);

// A group list: owner-drawn 25-pixel items, never a scroll bar, arrow keys swallowed. Each item's
// text is the group's Name and its data the group's Order (role Qt::UserRole).
class TMyListBox : public QListWidget {
    Q_OBJECT
public:
    static constexpr int kItemHeight = 25;
    explicit TMyListBox(QWidget* parent = nullptr);
    int TopIndex() const;  // the list's own scroll position in items

signals:
    void MouseMovedAt(int y);

protected:
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
};

class TformatFrm : public QWidget {
    Q_OBJECT
public:
    static constexpr int kTopPanelHeight = 51;
    static constexpr int kButtonPanelHeight = 28;
    static constexpr int kMaxDevicePanelHeight = 275;
    static constexpr int kBorder = 1;
    static constexpr int kStripWidth = 25;
    static constexpr int kListWidth = 150;
    static constexpr int kGridWidth = 364;
    static constexpr int kSpacingX = 85;
    static constexpr int kSpacingY = 104;
    static constexpr int kHoverDelayMs = 500;
    static constexpr int kHintWidth = 50;

    // `owner` is the window the picker belongs to while closed (the main window).
    explicit TformatFrm(QWidget* owner = nullptr);
    ~TformatFrm() override;

    // The picker made at start-up, or null when none lives.
    static TformatFrm* Instance();

    // The host's drop-down button and caption: close when showing, else drop down under
    // `hostControl` with `host` as the window to refresh.
    void Toggle(TFormatPickerHost* host, QWidget* hostControl);
    // SizeToGroups, HostControl, PlaceUnderHost, show and take the focus.
    void DropDown(TFormatPickerHost* host, QWidget* hostControl);
    void ClosePicker();

    bool Showing() const { return showing_; }
    bool KeepOpen() const { return keepOpen_; }
    void SetKeepOpen(bool keepOpen) { keepOpen_ = keepOpen; }
    QWidget* HostControl() const { return hostControl_; }
    // The host to refresh, or null when no format window is open (choices then go to the
    // defaults file).
    TFormatPickerHost* Host() const;

    // The steps, in the names of the window's own handlers.
    void SizeToGroups();
    void PlaceUnderHost();
    void SelectCurrent();
    void tmrSelTimer();
    void RestoreGroupSelection();
    void UpdateScrollButtons();
    void ScrollDeviceToSelection();
    void btnUpClick();
    void btnDownClick();
    void lvFormatClick();
    void DeleteHovered();
    // Mouse moves, in the list's or the grid viewport's coordinates.
    void GroupListMouseMove(TMyListBox* list, int y);
    void lvFormatMouseMove(const QPoint& pos);
    // Losing the focus: closes unless KeepOpen.
    void FocusLost();

    // Window state.
    int32_t SelGroupID() const { return selGroupID_; }
    int32_t SelFormatID() const { return selFormatID_; }
    int32_t ShownGroupID() const { return shownGroupID_; }
    int32_t ShownListType() const { return shownListType_; }
    TMyListBox* ActiveList() const { return activeList_; }
    int SelectedIndex() const { return selectedIndex_; }
    bool OverDeleteBox() const { return overDeleteBox_; }
    int GridTag() const { return gridTag_; }  // grid item under the mouse, or -1
    QString HintText() const { return hintText_; }

    // The catalogue entry behind grid item `index` (null when out of range or gone).
    const TFormatInfo* GridFormat(int index) const;
    // Grid item `index`'s 80 x 80 picture box and its delete box, in the grid viewport's coordinates.
    QRect GridItemBox(int index) const;
    QRect GridDeleteBox(int index) const;

    // Controls.
    TMyListBox* lstOther;
    TMyListBox* lstFormat;
    TMyListBox* lstDevice;
    QListWidget* lvFormat;
    QWidget* pnlOther;
    QWidget* pnlFormat;
    QWidget* pnlDevice;
    QWidget* pnlButtons;
    QLabel* imgother;
    QLabel* imgFormat;
    QLabel* ImgDevice;
    QLabel* imgCustom;
    QPushButton* btnUp;
    QPushButton* btnDown;
    QPushButton* btnCustom;
    QTimer* tmrSel;

    // The process-wide pictures from "skin/Format/" beside the program: Move.bmp, Select.bmp,
    // Expand.png; loaded by the first picker, again only when the program folder was moved (tests
    // do). A missing one is logged and not drawn.
    static void LoadPickerPictures();
    static const QImage& MovePicture();
    static const QImage& SelectPicture();
    static const QImage& ExpandPicture();

    // Message boxes go through this hook (tests answer them); the default shows an information box.
    using MessageHook = std::function<void(const QString& text)>;
    static void SetMessageHook(MessageHook hook);

protected:
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    enum class Page { Group, User, Recent };
    void fillGroupList(TMyListBox* list, int32_t formatType);
    TMyListBox* listForType(int32_t formatType) const;
    const TGroupFormat* groupOf(const QListWidgetItem* item) const;
    void fillGrid(Page page, int32_t groupOrder);
    void addGridItem(const TFormatInfo& format, bool fromUserList);
    void markGridItem(int index, bool scroll);
    void refillShownPage();
    void paintStrips();
    void showHint(int index);
    void cancelHint();
    void tellHostAfterDeletingCurrent(int32_t id);
    void refreshHostAfterChoice();
    int gridIndexAt(const QPoint& pos) const;
    void finishClose();
    void placeParts(const TPickerHeights& h);
    void placeGrid();

    QWidget* owner_;
    QPointer<QWidget> hostControl_;
    QPointer<QWidget> hostWindow_;
    TFormatPickerHost* host_ = nullptr;

    int32_t selGroupID_ = -1;
    int32_t selFormatID_ = -1;
    int32_t shownGroupID_ = -1;
    int32_t shownListType_ = -1;
    TMyListBox* activeList_ = nullptr;
    int selectedIndex_ = -1;
    bool overDeleteBox_ = false;
    bool showing_ = false;
    bool keepOpen_ = false;
    bool wasActive_ = false;  // active since shown: only then does losing it close the picker
    int gridTag_ = -1;
    QString hintText_;

    friend class FormatGridDelegate;
};

}  // namespace qm::formats
