#include "formats/windows/format_picker.h"

#include <QApplication>
#include <QFileInfo>
#include <QHideEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QShowEvent>
#include <QToolTip>

#include "formats/core/formats_log.h"
#include "formats/core/picker_geometry.h"

namespace qm::formats {

namespace {

TformatFrm* instance = nullptr;
TformatFrm::MessageHook messageHook;

QImage movePicture;
QImage selectPicture;
QImage expandPicture;
QString picturesFolder;  // where the pictures were loaded from

// Grid items carry the format's ID and which list holds it, never a pointer: the user list is
// reloaded after every delete.
constexpr int kFormatIdRole = Qt::UserRole;
constexpr int kUserEntryRole = Qt::UserRole + 1;
// Group list items carry the group's Order.
constexpr int kGroupOrderRole = Qt::UserRole;

const QColor kSelectedGroup(159, 207, 255);

void showMessage(const QString& text) {
    if (messageHook) {
        messageHook(text);
        return;
    }
    QMessageBox::information(nullptr, QStringLiteral("Information"), text);
}

QImage loadPicture(const QString& fileName) {
    const QString path = ProgramDir() + QStringLiteral("skin/Format/") + fileName;
    QImage image;
    if (!QFileInfo::exists(path) || !image.load(path))
        LogFormatsError(QStringLiteral("Cannot load the picture %1").arg(path));
    return image;
}

const TFormatInfo* findEntry(int32_t id, bool user) {
    const TFormatList& list = user ? UserFormats : BuiltInFormats;
    for (const TFormatInfo& f : list)
        if (f.ID == id) return &f;
    return nullptr;
}

int selectedRow(const QListWidget* list) {
    const QList<QListWidgetItem*> items = list->selectedItems();
    return items.isEmpty() ? -1 : list->row(items.first());
}

// A strip beside a list: its colour, a black last column, the second colour on its last row,
// and the caption upright along it when it fits.
QPixmap stripPicture(QSize size, const QColor& fill, const QColor& lastRow, const QString& caption) {
    if (size.isEmpty()) return QPixmap();
    QImage image(size, QImage::Format_RGB32);
    image.fill(fill);
    QPainter p(&image);
    p.setPen(lastRow);
    p.drawLine(0, size.height() - 1, size.width() - 1, size.height() - 1);
    p.setPen(Qt::black);
    p.drawLine(size.width() - 1, 0, size.width() - 1, size.height() - 1);
    if (!caption.isEmpty()) {
        QFont font = p.font();
        font.setPointSize(10);
        font.setBold(true);
        p.setFont(font);
        const QFontMetrics fm(font);
        if (fm.horizontalAdvance(caption) < size.height()) {
            p.setRenderHint(QPainter::TextAntialiasing);
            p.setPen(Qt::white);
            p.translate(size.width() / 2.0, size.height() / 2.0);
            p.rotate(-90);  // reading upwards
            const QRect text(-size.height() / 2, -size.width() / 2, size.height(), size.width());
            p.drawText(text, Qt::AlignCenter, caption);
        }
    }
    p.end();
    return QPixmap::fromImage(image);
}

QIcon arrowIcon(bool up) {
    QPixmap pm(12, 12);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(26, 64, 100));
    QPolygonF arrow;
    if (up)
        arrow << QPointF(1, 9) << QPointF(11, 9) << QPointF(6, 3);
    else
        arrow << QPointF(1, 3) << QPointF(11, 3) << QPointF(6, 9);
    p.drawPolygon(arrow);
    p.end();
    QIcon icon(pm);
    // The disabled look: the same arrow in grey.
    QPixmap grey(12, 12);
    grey.fill(Qt::transparent);
    QPainter g(&grey);
    g.setRenderHint(QPainter::Antialiasing);
    g.setPen(Qt::NoPen);
    g.setBrush(QColor(176, 176, 176));
    g.drawPolygon(arrow);
    g.end();
    icon.addPixmap(grey, QIcon::Disabled);
    return icon;
}

// Group list items: the group's picture, its name, and the "Expand" arrow when selected.
class GroupItemDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const override {
        return QSize(option.rect.width(), TMyListBox::kItemHeight);
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        const QRect r = option.rect;
        const bool selected = option.state & QStyle::State_Selected;
        painter->save();
        painter->fillRect(r, selected ? kSelectedGroup : QColor(Qt::white));
        const int32_t order = index.data(kGroupOrderRole).toInt();
        for (const TGroupFormat& g : FormatGroups) {
            if (g.Order != order) continue;
            if (!g.IconImage.isNull())
                painter->drawImage(QPoint(r.left() + 2, r.top() + (r.height() - g.IconImage.height()) / 2), g.IconImage);
            break;
        }
        const QImage& expand = TformatFrm::ExpandPicture();
        if (selected && !expand.isNull())
            painter->drawImage(QPoint(r.right() + 1 - 8 - expand.width(), r.top() + (r.height() - expand.height()) / 2),
                               expand);
        // Names line up whether or not the group has a picture.
        painter->setPen(Qt::black);
        painter->setFont(option.font);
        const QRect text(r.left() + 25, r.top(), r.width() - 25, r.height());
        painter->drawText(text, Qt::AlignLeft | Qt::AlignVCenter, index.data(Qt::DisplayRole).toString());
        painter->restore();
    }
};

// The icon grid; its mouse and keys go to the picker's handlers.
class FormatGrid : public QListWidget {
public:
    FormatGrid(TformatFrm* frm, QWidget* parent) : QListWidget(parent), frm_(frm) {}

protected:
    void mouseMoveEvent(QMouseEvent* event) override {
        QListWidget::mouseMoveEvent(event);
        frm_->lvFormatMouseMove(event->position().toPoint());
    }
    void mouseReleaseEvent(QMouseEvent* event) override {
        QListWidget::mouseReleaseEvent(event);
        if (event->button() == Qt::LeftButton) frm_->lvFormatClick();
    }
    void leaveEvent(QEvent* event) override {
        QListWidget::leaveEvent(event);
        frm_->lvFormatMouseMove(QPoint(-1, -1));
    }
    void keyPressEvent(QKeyEvent* event) override {
        if (event->key() >= Qt::Key_Left && event->key() <= Qt::Key_Down) {
            event->accept();
            return;
        }
        QListWidget::keyPressEvent(event);
    }

private:
    TformatFrm* frm_;
};

}  // namespace

// Grid items, drawn as one picture each: the "Select" or "Move" background, the delete box on
// the top list's pages, the format's picture in an 80 x 80 box and its name cut to fit.
class FormatGridDelegate : public QStyledItemDelegate {
public:
    FormatGridDelegate(TformatFrm* frm, QObject* parent) : QStyledItemDelegate(parent), frm_(frm) {}

    QSize sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const override {
        return QSize(TformatFrm::kSpacingX, TformatFrm::kSpacingY);
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        const QRect bounds = option.rect;
        if (bounds.isEmpty()) return;
        QImage picture(bounds.size(), QImage::Format_ARGB32_Premultiplied);
        picture.fill(Qt::white);
        QPainter p(&picture);
        const QFontMetrics fm(option.font);
        const QRect local(QPoint(0, 0), bounds.size());
        const QRect box = GridItemBoxRect(local, fm.height());
        const bool selected = option.state & QStyle::State_Selected;
        const bool hovered = index.row() == frm_->gridTag_;
        if (selected && !TformatFrm::SelectPicture().isNull()) p.drawImage(box.topLeft(), TformatFrm::SelectPicture());
        if (hovered) {
            const QImage& back = selected ? TformatFrm::SelectPicture() : TformatFrm::MovePicture();
            if (!back.isNull()) p.drawImage(box.topLeft(), back);
            if (frm_->activeList_ == frm_->lstOther) {
                const QRect del = GridDeleteBoxRect(box);
                p.fillRect(del, Qt::black);
                p.setPen(Qt::white);
                p.drawLine(del.left() + 1, del.top() + 1, del.right() - 1, del.bottom() - 1);
                p.drawLine(del.right() - 1, del.top() + 1, del.left() + 1, del.bottom() - 1);
            }
        }
        const TFormatInfo* f = frm_->GridFormat(index.row());
        if (f) {
            if (!f->IconImage.isNull())
                p.drawImage(QPoint(box.left() + (box.width() - f->IconImage.width()) / 2,
                                   box.top() + (box.height() - f->IconImage.height()) / 2),
                            f->IconImage);
            // Two pixels kept clear on each side, so neighbouring names never touch.
            const QString name = FitNameToWidth(f->Name, local.width() - 4,
                                                [&](const QString& t) { return fm.horizontalAdvance(t); });
            if (!name.isEmpty()) {
                p.setFont(option.font);
                p.setPen(Qt::black);
                p.drawText(QRect(0, local.height() - fm.height(), local.width(), fm.height()), Qt::AlignHCenter | Qt::AlignTop,
                           name);
            }
        }
        p.end();
        painter->drawImage(bounds.topLeft(), picture);
    }

private:
    TformatFrm* frm_;
};

QString FormatBoxTextFor(const QString& shown, const QString& name) {
    return shown == name ? name + QLatin1Char(' ') : name;
}

// ---------------------------------------------------------------------------

TMyListBox::TMyListBox(QWidget* parent) : QListWidget(parent) {
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setFrameShape(QFrame::NoFrame);
    setUniformItemSizes(true);
    setMouseTracking(true);
    viewport()->setMouseTracking(true);
    setFocusPolicy(Qt::NoFocus);
    setItemDelegate(new GroupItemDelegate(this));
}

int TMyListBox::TopIndex() const { return verticalScrollBar()->value(); }

void TMyListBox::mouseMoveEvent(QMouseEvent* event) {
    QListWidget::mouseMoveEvent(event);
    emit MouseMovedAt(int(event->position().y()));
}

void TMyListBox::keyPressEvent(QKeyEvent* event) {
    if (event->key() >= Qt::Key_Left && event->key() <= Qt::Key_Down) {
        event->accept();
        return;
    }
    QListWidget::keyPressEvent(event);
}

// ---------------------------------------------------------------------------

TformatFrm::TformatFrm(QWidget* owner) : QWidget(owner, Qt::Tool | Qt::FramelessWindowHint), owner_(owner) {
    if (!instance) instance = this;
    LoadPickerPictures();
    setObjectName(QStringLiteral("formatFrm"));
    setAttribute(Qt::WA_ShowWithoutActivating, false);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(26, 64, 100));  // the border and the line before the grid
    setPalette(pal);

    auto makeLabel = [this](const char* name) {
        auto* l = new QLabel(this);
        l->setObjectName(QString::fromLatin1(name));
        l->setScaledContents(false);
        return l;
    };
    imgother = makeLabel("imgother");
    imgFormat = makeLabel("imgFormat");
    ImgDevice = makeLabel("ImgDevice");
    imgCustom = makeLabel("imgCustom");

    auto makePanel = [this](const char* name) {
        auto* w = new QWidget(this);
        w->setObjectName(QString::fromLatin1(name));
        w->setAutoFillBackground(true);
        QPalette p = w->palette();
        p.setColor(QPalette::Window, QColor(26, 64, 100));  // the separator line under a list
        w->setPalette(p);
        return w;
    };
    pnlOther = makePanel("pnlOther");
    pnlFormat = makePanel("pnlFormat");
    pnlDevice = makePanel("pnlDevice");
    pnlButtons = makePanel("pnlButtons");
    {
        QPalette p = pnlButtons->palette();
        p.setColor(QPalette::Window, Qt::white);
        pnlButtons->setPalette(p);
        pnlDevice->setPalette(p);
    }

    lstOther = new TMyListBox(pnlOther);
    lstOther->setObjectName(QStringLiteral("lstOther"));
    lstFormat = new TMyListBox(pnlFormat);
    lstFormat->setObjectName(QStringLiteral("lstFormat"));
    lstDevice = new TMyListBox(pnlDevice);
    lstDevice->setObjectName(QStringLiteral("lstDevice"));
    for (TMyListBox* list : {lstOther, lstFormat, lstDevice})
        connect(list, &TMyListBox::MouseMovedAt, this, [this, list](int y) { GroupListMouseMove(list, y); });

    btnUp = new QPushButton(pnlButtons);
    btnUp->setObjectName(QStringLiteral("btnUp"));
    btnUp->setIcon(arrowIcon(true));
    btnDown = new QPushButton(pnlButtons);
    btnDown->setObjectName(QStringLiteral("btnDown"));
    btnDown->setIcon(arrowIcon(false));
    btnCustom = new QPushButton(QStringLiteral("Customize"), pnlButtons);
    btnCustom->setObjectName(QStringLiteral("btnCustom"));
    btnCustom->setEnabled(false);
    for (QPushButton* b : {btnUp, btnDown, btnCustom}) {
        b->setFocusPolicy(Qt::NoFocus);
        b->setFlat(true);
    }
    connect(btnUp, &QPushButton::clicked, this, [this] { btnUpClick(); });
    connect(btnDown, &QPushButton::clicked, this, [this] { btnDownClick(); });

    auto* grid = new FormatGrid(this, this);
    lvFormat = grid;
    lvFormat->setObjectName(QStringLiteral("lvFormat"));
    lvFormat->setViewMode(QListView::IconMode);
    lvFormat->setMovement(QListView::Static);
    lvFormat->setResizeMode(QListView::Adjust);
    lvFormat->setFlow(QListView::LeftToRight);
    lvFormat->setWrapping(true);
    lvFormat->setUniformItemSizes(true);
    lvFormat->setSpacing(0);
    lvFormat->setGridSize(QSize(kSpacingX, kSpacingY));
    lvFormat->setSelectionMode(QAbstractItemView::SingleSelection);
    lvFormat->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    lvFormat->setDragEnabled(false);
    lvFormat->setMouseTracking(true);
    lvFormat->viewport()->setMouseTracking(true);
    lvFormat->setFrameShape(QFrame::NoFrame);
    lvFormat->setItemDelegate(new FormatGridDelegate(this, lvFormat));

    tmrSel = new QTimer(this);
    tmrSel->setObjectName(QStringLiteral("tmrSel"));
    tmrSel->setInterval(kHoverDelayMs);
    connect(tmrSel, &QTimer::timeout, this, [this] { tmrSelTimer(); });

    connect(qApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
        if (state != Qt::ApplicationActive && showing_ && wasActive_) ClosePicker();
    });

    // The top list holds the recent and user-defined groups for good.
    fillGroupList(lstOther, 2);
    resize(2 * kBorder + kStripWidth + kListWidth + 1 + kGridWidth, 300);
    SizeToGroups();
}

TformatFrm::~TformatFrm() {
    if (instance == this) instance = nullptr;
}

TformatFrm* TformatFrm::Instance() { return instance; }

void TformatFrm::SetMessageHook(MessageHook hook) { messageHook = std::move(hook); }

void TformatFrm::LoadPickerPictures() {
    if (picturesFolder == ProgramDir()) return;
    picturesFolder = ProgramDir();
    movePicture = loadPicture(QStringLiteral("Move.bmp"));
    selectPicture = loadPicture(QStringLiteral("Select.bmp"));
    expandPicture = loadPicture(QStringLiteral("Expand.png"));
}

const QImage& TformatFrm::MovePicture() { return movePicture; }
const QImage& TformatFrm::SelectPicture() { return selectPicture; }
const QImage& TformatFrm::ExpandPicture() { return expandPicture; }

TFormatPickerHost* TformatFrm::Host() const { return hostControl_ ? host_ : nullptr; }

// ---------------------------------------------------------------------------
// Opening and closing.

void TformatFrm::Toggle(TFormatPickerHost* host, QWidget* hostControl) {
    if (showing_) {
        ClosePicker();
        return;
    }
    DropDown(host, hostControl);
}

void TformatFrm::DropDown(TFormatPickerHost* host, QWidget* hostControl) {
    // Opened afresh: the lists are refilled only when the window is shown.
    if (showing_ || isVisible()) hide();
    SizeToGroups();
    host_ = host;
    hostControl_ = hostControl;
    QWidget* window = hostControl ? hostControl->window() : nullptr;
    if (window && window != this && parentWidget() != window) {
        // A modal host blocks every window that is not its own.
        setParent(window, windowFlags());
    }
    if (hostWindow_ != window) {
        if (hostWindow_) hostWindow_->removeEventFilter(this);
        hostWindow_ = window;
        if (hostWindow_) hostWindow_->installEventFilter(this);
    }
    PlaceUnderHost();
    show();
    activateWindow();
    lvFormat->setFocus();
}

void TformatFrm::ClosePicker() { hide(); }

void TformatFrm::FocusLost() {
    if (showing_ && !keepOpen_) ClosePicker();
}

void TformatFrm::finishClose() {
    showing_ = false;
    wasActive_ = false;
    tmrSel->stop();
    cancelHint();
}

void TformatFrm::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (event->spontaneous()) return;
    showing_ = true;
    fillGroupList(lstFormat, 0);
    fillGroupList(lstDevice, 1);
    lvFormat->setFocus();
    SelectCurrent();
    UpdateScrollButtons();
}

void TformatFrm::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    if (event->spontaneous()) return;
    finishClose();
}

void TformatFrm::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() != QEvent::ActivationChange) return;
    if (isActiveWindow())
        wasActive_ = true;
    else if (wasActive_)
        FocusLost();
}

void TformatFrm::keyPressEvent(QKeyEvent* event) {
    // Escape closes the drop-down as it closes any other.
    if (event->key() == Qt::Key_Escape) {
        ClosePicker();
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

bool TformatFrm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == hostWindow_ && event->type() == QEvent::Hide) {
        // The host goes away: close, and return to the owner so the host cannot take us along.
        ClosePicker();
        QWidget* window = hostWindow_;
        window->removeEventFilter(this);
        hostWindow_ = nullptr;
        hostControl_ = nullptr;
        host_ = nullptr;
        if (parentWidget() == window) setParent(owner_, windowFlags());
    }
    return QWidget::eventFilter(watched, event);
}

// ---------------------------------------------------------------------------
// Size and place.

void TformatFrm::SizeToGroups() {
    lstFormat->clear();
    lstDevice->clear();
    lstDevice->move(0, 0);
    const TPickerHeights h = PickerHeights(CountGroups(0), CountGroups(1));
    resize(width(), h.window);
    placeParts(h);
    paintStrips();
}

// Everything inside a one-pixel border of the window's own colour; the buttons' panel takes what
// the border leaves of its height.
void TformatFrm::placeParts(const TPickerHeights& h) {
    const int listLeft = kBorder + kStripWidth;
    int y = kBorder;
    imgother->setGeometry(kBorder, y, kStripWidth, kTopPanelHeight);
    pnlOther->setGeometry(listLeft, y, kListWidth, kTopPanelHeight);
    lstOther->setGeometry(0, 0, kListWidth, kTopPanelHeight - 1);
    y += kTopPanelHeight;
    imgFormat->setGeometry(kBorder, y, kStripWidth, h.middle);
    pnlFormat->setGeometry(listLeft, y, kListWidth, h.middle);
    lstFormat->setGeometry(0, 0, kListWidth, h.middle - 1);
    y += h.middle;
    ImgDevice->setGeometry(kBorder, y, kStripWidth, h.bottom);
    pnlDevice->setGeometry(listLeft, y, kListWidth, h.bottom);
    lstDevice->setGeometry(0, lstDevice->y(), kListWidth, h.deviceList);
    y += h.bottom;
    const int buttons = std::max(0, h.window - kBorder - y);
    imgCustom->setGeometry(kBorder, y, kStripWidth, buttons);
    pnlButtons->setGeometry(listLeft, y, kListWidth, buttons);
    const int buttonTop = std::max(0, (buttons - 22) / 2);
    btnUp->setGeometry(4, buttonTop, 22, 22);
    btnDown->setGeometry(28, buttonTop, 22, 22);
    btnCustom->setGeometry(56, buttonTop, kListWidth - 60, 22);
    placeGrid();
}

void TformatFrm::placeGrid() {
    // One pixel of the window's colour between the lists and the grid.
    const int gridLeft = kBorder + kStripWidth + kListWidth + 1;
    lvFormat->setGeometry(gridLeft, kBorder, std::max(0, width() - gridLeft - kBorder),
                          std::max(0, height() - 2 * kBorder));
}

void TformatFrm::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    placeGrid();
}

void TformatFrm::PlaceUnderHost() {
    if (!hostControl_) {
        showMessage(QStringLiteral(" HostControl is nil "));
        return;
    }
    const QRect host(hostControl_->mapToGlobal(QPoint(0, 0)), hostControl_->size());
    QScreen* screen = hostControl_->screen();
    if (!screen) screen = QGuiApplication::primaryScreen();
    if (!screen) return;
    const QRect r = PlaceUnderHostRect(size(), host, screen->availableGeometry());
    if (r.width() != width()) resize(r.width(), height());
    move(r.topLeft());
}

void TformatFrm::paintStrips() {
    imgother->setPixmap(stripPicture(imgother->size(), QColor(127, 179, 198), QColor(26, 64, 100), QString()));
    imgFormat->setPixmap(stripPicture(imgFormat->size(), QColor(26, 64, 100), QColor(50, 75, 99), QStringLiteral("Format")));
    ImgDevice->setPixmap(stripPicture(ImgDevice->size(), QColor(50, 75, 99), QColor(50, 75, 99), QStringLiteral("Device")));
    imgCustom->setPixmap(stripPicture(imgCustom->size(), Qt::white, Qt::white, QString()));
}

// ---------------------------------------------------------------------------
// Group lists.

void TformatFrm::fillGroupList(TMyListBox* list, int32_t formatType) {
    list->clear();
    for (const TGroupFormat& g : FormatGroups) {
        if (g.FormatType != formatType) continue;
        auto* item = new QListWidgetItem(g.Name, list);
        item->setData(kGroupOrderRole, g.Order);
        item->setSizeHint(QSize(kListWidth, TMyListBox::kItemHeight));
    }
}

TMyListBox* TformatFrm::listForType(int32_t formatType) const {
    if (formatType == 0) return lstFormat;
    if (formatType == 2) return lstOther;
    return lstDevice;
}

const TGroupFormat* TformatFrm::groupOf(const QListWidgetItem* item) const {
    if (!item) return nullptr;
    const int32_t order = item->data(kGroupOrderRole).toInt();
    for (const TGroupFormat& g : FormatGroups)
        if (g.Order == order) return &g;
    return nullptr;
}

void TformatFrm::SelectCurrent() {
    selectedIndex_ = -1;
    gridTag_ = -1;
    for (TMyListBox* list : {lstOther, lstFormat, lstDevice}) list->clearSelection();
    selGroupID_ = shownGroupID_ = CurrentFormat.GroupID;
    shownListType_ = CurrentFormat.FormatType;
    selFormatID_ = CurrentFormat.ID;
    TMyListBox* list = listForType(shownListType_);
    for (int i = 0; i < list->count(); ++i) {
        if (list->item(i)->data(kGroupOrderRole).toInt() != selGroupID_) continue;
        list->setCurrentRow(i);
        fillGrid(selGroupID_ == UserGroupID ? Page::User : Page::Group, selGroupID_);
        activeList_ = list;
        if (list == lstDevice) ScrollDeviceToSelection();
        return;
    }
}

void TformatFrm::GroupListMouseMove(TMyListBox* list, int y) {
    for (TMyListBox* other : {lstOther, lstFormat, lstDevice})
        if (other != list) other->clearSelection();
    const int b = HoveredGroupItem(y, list->count() - list->TopIndex());
    if (b < 0) return;
    const int index = b + list->TopIndex();
    if (index == selectedRow(list)) return;
    list->setCurrentRow(index);
    activeList_ = list;
    tmrSel->stop();
    tmrSel->start();
}

void TformatFrm::tmrSelTimer() {
    tmrSel->stop();
    if (!activeList_) return;
    const int row = selectedRow(activeList_);
    if (row < 0) return;
    const TGroupFormat* g = groupOf(activeList_->item(row));
    if (!g) return;
    const int32_t order = g->Order;
    const int32_t type = g->FormatType;
    if (order == RecentGroupID)
        fillGrid(Page::Recent, order);
    else if (order == UserGroupID)
        fillGrid(Page::User, order);
    else
        fillGrid(Page::Group, order);
    shownGroupID_ = order;
    shownListType_ = type;
}

void TformatFrm::RestoreGroupSelection() {
    tmrSel->stop();
    if (!activeList_) return;
    const int row = selectedRow(activeList_);
    if (row < 0) return;
    const TGroupFormat* g = groupOf(activeList_->item(row));
    if (g && g->Order == shownGroupID_) return;
    TMyListBox* target = listForType(shownListType_);
    for (TMyListBox* other : {lstOther, lstFormat, lstDevice})
        if (other != target) other->clearSelection();
    for (int i = 0; i < target->count(); ++i) {
        if (target->item(i)->data(kGroupOrderRole).toInt() == shownGroupID_) {
            target->setCurrentRow(i);
            break;
        }
    }
    if (target == lstDevice) ScrollDeviceToSelection();
    activeList_ = target;
}

void TformatFrm::UpdateScrollButtons() {
    btnUp->setEnabled(lstDevice->y() < 0);
    btnDown->setEnabled(lstDevice->y() + lstDevice->height() > pnlDevice->height() + 2);
}

void TformatFrm::ScrollDeviceToSelection() {
    const int top = DeviceListTopForSelection(selectedRow(lstDevice), lstDevice->y(), lstDevice->height(),
                                              pnlDevice->height());
    lstDevice->move(0, top);
    UpdateScrollButtons();
}

void TformatFrm::btnUpClick() {
    lstDevice->move(0, lstDevice->y() + TMyListBox::kItemHeight);
    UpdateScrollButtons();
    lvFormat->setFocus();
}

void TformatFrm::btnDownClick() {
    lstDevice->move(0, lstDevice->y() - TMyListBox::kItemHeight);
    UpdateScrollButtons();
    lvFormat->setFocus();
}

// ---------------------------------------------------------------------------
// The grid.

void TformatFrm::addGridItem(const TFormatInfo& format, bool fromUserList) {
    auto* item = new QListWidgetItem(lvFormat);
    item->setData(kFormatIdRole, format.ID);
    item->setData(kUserEntryRole, fromUserList);
    item->setSizeHint(QSize(kSpacingX, kSpacingY));
}

void TformatFrm::markGridItem(int index, bool scroll) {
    lvFormat->setCurrentRow(index);
    if (scroll) lvFormat->scrollToItem(lvFormat->item(index));
    selectedIndex_ = index;
}

void TformatFrm::fillGrid(Page page, int32_t groupOrder) {
    lvFormat->clear();
    lvFormat->setGridSize(QSize(kSpacingX, kSpacingY));
    selectedIndex_ = -1;
    switch (page) {
    case Page::Group:
        for (const TFormatInfo& f : BuiltInFormats) {
            if (f.GroupID != groupOrder || f.Skip) continue;
            addGridItem(f, false);
            if (groupOrder == selGroupID_ && selFormatID_ != -1 && f.ID == selFormatID_)
                markGridItem(lvFormat->count() - 1, true);
        }
        break;
    case Page::User:
        for (const TFormatInfo& f : UserFormats) {
            if (f.GroupID != UserGroupID) continue;
            addGridItem(f, true);
            if (groupOrder == selGroupID_ && selFormatID_ != -1 && f.ID == selFormatID_)
                markGridItem(lvFormat->count() - 1, true);
        }
        break;
    case Page::Recent:
        for (const QString& text : ReadRecent()) {
            int32_t id = 0;
            if (!app::ParseInt32(text.trimmed(), id)) continue;
            // The user's own formats show even when skipped; built-in skipped ones do not.
            const bool user = id > UserFormatIDThreshold;
            for (const TFormatInfo& f : user ? UserFormats : BuiltInFormats) {
                if (f.ID != id || (!user && f.Skip)) continue;
                addGridItem(f, user);
                if (f.ID == selFormatID_) markGridItem(lvFormat->count() - 1, !user);
            }
        }
        break;
    }
    lvFormat->setFocus();
    gridTag_ = -1;
}

const TFormatInfo* TformatFrm::GridFormat(int index) const {
    const QListWidgetItem* item = lvFormat->item(index);
    if (!item) return nullptr;
    return findEntry(item->data(kFormatIdRole).toInt(), item->data(kUserEntryRole).toBool());
}

QRect TformatFrm::GridItemBox(int index) const {
    const QListWidgetItem* item = lvFormat->item(index);
    if (!item) return QRect();
    return GridItemBoxRect(lvFormat->visualItemRect(item), lvFormat->fontMetrics().height());
}

QRect TformatFrm::GridDeleteBox(int index) const {
    const QRect box = GridItemBox(index);
    return box.isNull() ? QRect() : GridDeleteBoxRect(box);
}

int TformatFrm::gridIndexAt(const QPoint& pos) const {
    if (!lvFormat->viewport()->rect().contains(pos)) return -1;
    return lvFormat->indexAt(pos).row();
}

void TformatFrm::lvFormatMouseMove(const QPoint& pos) {
    RestoreGroupSelection();
    lvFormat->setFocus();
    overDeleteBox_ = false;
    const int index = gridIndexAt(pos);
    const int old = gridTag_;
    if (index >= 0) {
        if (activeList_ == lstOther) overDeleteBox_ = GridDeleteBox(index).contains(pos);
        if (index != gridTag_) {
            showHint(index);
            gridTag_ = index;
        }
    } else {
        gridTag_ = -1;
        cancelHint();
    }
    if (old != gridTag_) {
        if (QListWidgetItem* item = lvFormat->item(old)) lvFormat->viewport()->update(lvFormat->visualItemRect(item));
        if (QListWidgetItem* item = lvFormat->item(gridTag_)) lvFormat->viewport()->update(lvFormat->visualItemRect(item));
    }
    if (selectedRow(lvFormat) < 0 && selectedIndex_ != -1 && selectedIndex_ < lvFormat->count())
        lvFormat->setCurrentRow(selectedIndex_);
}

void TformatFrm::showHint(int index) {
    const TFormatInfo* f = GridFormat(index);
    if (!f) return;
    hintText_ = PickerHintLines(f->description).join(QLatin1Char('\n'));
    const QRect r = lvFormat->visualItemRect(lvFormat->item(index));
    const QPoint at = lvFormat->viewport()->mapToGlobal(QPoint(r.left(), r.top() + r.height() - 10));
    // Hints stay until the mouse leaves the item or the picker closes.
    // As rich text that cannot rewrap, so a description holding "<" is shown as typed.
    QStringList lines = PickerHintLines(f->description);
    for (QString& line : lines) line = line.toHtmlEscaped();
    const QString shown = QStringLiteral("<p style='white-space:pre'>") + lines.join(QStringLiteral("<br>")) +
                          QStringLiteral("</p>");
    QToolTip::showText(at, shown, lvFormat->viewport(), QRect(), 24 * 3600 * 1000);
}

void TformatFrm::cancelHint() {
    hintText_.clear();
    QToolTip::hideText();
}

// ---------------------------------------------------------------------------
// Choosing and deleting.

void TformatFrm::lvFormatClick() {
    if (overDeleteBox_ && activeList_ == lstOther) {
        DeleteHovered();
        return;
    }
    const int row = selectedRow(lvFormat);
    const TFormatInfo* f = GridFormat(row);
    if (!f) return;
    CurrentFormat = *f;
    OptionsFromCurrentFormat();
    refreshHostAfterChoice();
    ClosePicker();
}

void TformatFrm::refreshHostAfterChoice() {
    if (TFormatPickerHost* host = Host()) {
        // The same name again gets a trailing space, so the box's change handling still runs.
        host->SetFormatBoxText(FormatBoxTextFor(host->FormatBoxText(), CurrentFormat.Name));
        host->FillFromFormat();
        host->RefreshOutputFile();
        return;
    }
    try {
        SaveDefaultOptions(CurrentOptions);
    } catch (const app::IoError& e) {
        LogFormatsError(e.text());
        showMessage(e.text());
    }
}

void TformatFrm::tellHostAfterDeletingCurrent(int32_t id) {
    if (TFormatPickerHost* host = Host()) {
        host->AddDeletedID(id);
        host->SetFormatBoxText(CurrentFormat.Name);
        host->FillFromFormat();
        return;
    }
    try {
        SaveDefaultOptions(CurrentOptions);
    } catch (const app::IoError& e) {
        LogFormatsError(e.text());
        showMessage(e.text());
    }
}

void TformatFrm::DeleteHovered() {
    const int row = selectedRow(lvFormat);
    const TFormatInfo* f = GridFormat(row);
    if (!f || !activeList_) return;
    const TGroupFormat* g = groupOf(activeList_->item(selectedRow(activeList_)));
    if (!g) return;
    const int32_t d = f->ID;
    gridTag_ = -1;
    cancelHint();
    if (g->Order != UserGroupID) {
        // The recent page: only the recent list changes, never a catalogue file.
        RemoveRecent(d);
        delete lvFormat->takeItem(row);
        tmrSelTimer();
        return;
    }
    if (!DeleteFormatFromFile(d, UserFormatFileName())) {
        // The file still holds the format: nothing else may act as if it were gone.
        showMessage(QStringLiteral("Cannot delete the format \"%1\": %2 cannot be changed.")
                        .arg(f->Name, UserFormatFileName()));
        return;
    }
    RemoveRecent(d);
    delete lvFormat->takeItem(row);
    if (d != CurrentFormat.ID) {
        if (TFormatPickerHost* host = Host()) host->AddDeletedID(d);
        ReloadUserFormats();
        tmrSelTimer();
        return;
    }
    if (lvFormat->count() == 0) {
        FindFormat(DefaultFormatID, CurrentFormat);
        OptionsFromCurrentFormat();
        SelectCurrent();
        tellHostAfterDeletingCurrent(d);
        // Reloaded rather than only emptied, so the list keeps mirroring the file.
        ReloadUserFormats();
        return;
    }
    lvFormat->setCurrentRow(0);
    if (const TFormatInfo* first = GridFormat(0)) CurrentFormat = *first;
    OptionsFromCurrentFormat();
    selGroupID_ = CurrentFormat.GroupID;
    selFormatID_ = CurrentFormat.ID;
    tellHostAfterDeletingCurrent(d);
    ReloadUserFormats();
    tmrSelTimer();
}

}  // namespace qm::formats
