// The format picker window with a small catalogue and a fake host window.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QTimer>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QTest>

#include <memory>

#include "formats/core/picker_geometry.h"
#include "formats/windows/format_picker.h"
#include "tests/formats/formats_test_support.h"

namespace qm::formats {
namespace {

using test::ReadAll;
using test::WriteAll;

// The custom format settings window as the picker sees it.
class FakeHost : public QWidget, public TFormatPickerHost {
public:
    FakeHost() {
        box = new QLineEdit(this);
        box->setGeometry(20, 20, 200, 21);
        resize(400, 100);
        QObject::connect(box, &QLineEdit::textChanged, [this] { ++changes; });
    }
    QString FormatBoxText() const override { return box->text(); }
    void SetFormatBoxText(const QString& text) override { box->setText(text); }
    void FillFromFormat() override {
        ++fills;
        filledFrom = CurrentFormat.ID;
    }
    void RefreshOutputFile() override { outputFile = QStringLiteral("out/movie") + CurrentOptions.FileExt; }
    void AddDeletedID(int32_t id) override { deleted << id; }

    QLineEdit* box;
    int changes = 0;
    int fills = 0;
    int32_t filledFrom = -1;
    QString outputFile;
    QList<int32_t> deleted;
};

TFormatInfo Format(int32_t id, int32_t group, int32_t type, const QString& name, bool skip = false) {
    TFormatInfo f = test::SampleVideoFormat(id);
    f.GroupID = group;
    f.FormatType = type;
    f.Name = name;
    f.Skip = skip;
    f.Format = QStringLiteral(".") + name.toLower().left(3);
    f.description = QStringLiteral("The %1 format, described at some length so that its hover hint needs more than one line.").arg(name);
    return f;
}

class PickerTest : public test::FormatsTest {
protected:
    void SetUp() override {
        FormatsTest::SetUp();
        TformatFrm::SetMessageHook([this](const QString& text) { messages << text; });
    }
    void TearDown() override {
        picker.reset();
        host.reset();
        TformatFrm::SetMessageHook({});
        FormatsTest::TearDown();
    }

    // Groups: recent and user on top; three format groups; `devices` device groups (orders 7..).
    void MakeCatalogue(int devices = 4) {
        QByteArray groups = "<?xml version=\"1.0\"?>\n<groups>\n"
                            "<Group ForamtType=\"2\" order=\"5\" Name=\"Recent\" ICO=\"\"/>\n"
                            "<Group ForamtType=\"2\" order=\"6\" Name=\"User Defined\" ICO=\"\"/>\n"
                            "<Group ForamtType=\"0\" order=\"1\" Name=\"General Video\" ICO=\"\"/>\n"
                            "<Group ForamtType=\"0\" order=\"2\" Name=\"Audio Only\" ICO=\"\"/>\n"
                            "<Group ForamtType=\"0\" order=\"3\" Name=\"HD Video\" ICO=\"\"/>\n";
        for (int i = 0; i < devices; ++i)
            groups += QStringLiteral("<Group ForamtType=\"1\" order=\"%1\" Name=\"Device %2\" ICO=\"\"/>\n")
                          .arg(7 + i)
                          .arg(i + 1)
                          .toUtf8();
        groups += "</groups>\n";
        WriteAll(GroupFileName(), groups);
        const QString builtIn = BuiltInFormatFileName();
        for (const TFormatInfo& f :
             {Format(1001, 1, 0, QStringLiteral("AVI")), Format(1002, 1, 0, QStringLiteral("MKV")),
              Format(1003, 1, 0, QStringLiteral("Hidden"), true), Format(1004, 1, 0, QStringLiteral("MP4")),
              Format(1101, 3, 0, QStringLiteral("HD MKV")), Format(1102, 3, 0, QStringLiteral("HD Skipped"), true),
              Format(2001, 2, 0, QStringLiteral("MP3")), Format(3001, 7, 1, QStringLiteral("Phone")),
              Format(3012, 7 + devices - 1, 1, QStringLiteral("Last Device"))})
            ASSERT_TRUE(AppendFormatToFile(f, builtIn));
        for (const TFormatInfo& f : {Format(4001, UserGroupID, 2, QStringLiteral("Mine skipped"), true),
                                     Format(4002, UserGroupID, 2, QStringLiteral("Mine two")),
                                     Format(4003, UserGroupID, 2, QStringLiteral("Mine three"))})
            ASSERT_TRUE(AppendFormatToFile(f, UserFormatFileName()));
        ASSERT_TRUE(LoadFormatFile(builtIn, BuiltInFormats));
        ReloadUserFormats();
        ASSERT_TRUE(LoadGroupFile());
    }

    void SetCurrent(int32_t id) {
        ASSERT_TRUE(FindFormat(id, CurrentFormat));
        OptionsFromCurrentFormat();
    }

    // Opens the picker under the fake host's format box, which shows the current name.
    void Open() {
        host = std::make_unique<FakeHost>();
        host->box->setText(CurrentFormat.Name);
        host->changes = 0;
        host->show();
        picker = std::make_unique<TformatFrm>();
        picker->DropDown(host.get(), host->box);
        ASSERT_TRUE(picker->Showing());
    }

    QList<int32_t> GridIds() const {
        QList<int32_t> ids;
        for (int i = 0; i < picker->lvFormat->count(); ++i) {
            const TFormatInfo* f = picker->GridFormat(i);
            ids << (f ? f->ID : -1);
        }
        return ids;
    }

    static int Selected(const QListWidget* list) {
        const auto items = list->selectedItems();
        return items.isEmpty() ? -1 : list->row(items.first());
    }

    static void Send(QWidget* target, QEvent::Type type, QPoint pos, Qt::MouseButton button = Qt::NoButton) {
        const Qt::MouseButtons buttons = type == QEvent::MouseButtonPress ? Qt::MouseButtons(button) : Qt::NoButton;
        QMouseEvent e(type, pos, target->mapToGlobal(pos), button, buttons, Qt::NoModifier);
        QApplication::sendEvent(target, &e);
    }
    // The mouse over a group list at height y (the list's own coordinates).
    static void HoverList(QListWidget* list, int y) { Send(list->viewport(), QEvent::MouseMove, QPoint(40, y)); }
    void HoverGrid(QPoint pos) { Send(picker->lvFormat->viewport(), QEvent::MouseMove, pos); }
    // Moves onto the point and clicks there, as a hand on the mouse does.
    void ClickGrid(QPoint pos) {
        QWidget* vp = picker->lvFormat->viewport();
        Send(vp, QEvent::MouseMove, pos);
        Send(vp, QEvent::MouseButtonPress, pos, Qt::LeftButton);
        Send(vp, QEvent::MouseButtonRelease, pos, Qt::LeftButton);
    }
    QPoint ItemCentre(int index) const { return picker->GridItemBox(index).center(); }
    QPoint DeleteBoxCentre(int index) const { return picker->GridDeleteBox(index).center(); }

    // Shows the page of the top list's item `row` (0 recent, 1 user-defined) as a pause would.
    void ShowTopPage(int row) {
        HoverList(picker->lstOther, 25 * row + 12);
        ASSERT_EQ(picker->ActiveList(), picker->lstOther);
        picker->tmrSelTimer();
    }

    std::unique_ptr<FakeHost> host;
    std::unique_ptr<TformatFrm> picker;
    QStringList messages;
};

TEST_F(PickerTest, TwelveDeviceGroupsGiveA275PixelPanelScrolledByItsButtons) {
    MakeCatalogue(12);
    SetCurrent(1001);
    Open();
    EXPECT_EQ(picker->pnlDevice->height(), 275);
    EXPECT_EQ(picker->ImgDevice->height(), 275);
    EXPECT_EQ(picker->lstDevice->height(), 300);
    EXPECT_EQ(picker->height(), 25 * 3 + 28 + 275 + 51 + 1);
    EXPECT_EQ(picker->pnlFormat->height(), 25 * 3 + 1);
    EXPECT_TRUE(picker->btnDown->isEnabled());
    EXPECT_FALSE(picker->btnUp->isEnabled());
    EXPECT_FALSE(picker->btnCustom->isEnabled());

    QTest::mouseClick(picker->btnDown, Qt::LeftButton);
    EXPECT_EQ(picker->lstDevice->y(), -25);
    EXPECT_TRUE(picker->btnUp->isEnabled());
    EXPECT_FALSE(picker->btnDown->isEnabled());
    // Hovering the moved list still finds the item under the mouse: the second visible is the third.
    HoverList(picker->lstDevice, 25 * 2 + 10);
    EXPECT_EQ(Selected(picker->lstDevice), 2);

    QTest::mouseClick(picker->btnUp, Qt::LeftButton);
    EXPECT_EQ(picker->lstDevice->y(), 0);
    EXPECT_FALSE(picker->btnUp->isEnabled());
}

TEST_F(PickerTest, CurrentFormatInTheLastDeviceGroupScrollsItIntoView) {
    MakeCatalogue(12);
    SetCurrent(3012);
    Open();
    EXPECT_EQ(Selected(picker->lstDevice), 11);
    EXPECT_EQ(picker->lstDevice->y(), -25);
    EXPECT_TRUE(picker->btnUp->isEnabled());
    EXPECT_EQ(picker->ActiveList(), picker->lstDevice);
    EXPECT_EQ(GridIds(), QList<int32_t>{3012});
    EXPECT_EQ(picker->SelectedIndex(), 0);
}

TEST_F(PickerTest, OpeningShowsTheCurrentFormatsGroupWithTheFormatMarked) {
    MakeCatalogue();
    SetCurrent(1004);
    Open();
    EXPECT_EQ(picker->lstOther->count(), 2);
    EXPECT_EQ(picker->lstFormat->count(), 3);
    EXPECT_EQ(picker->lstDevice->count(), 4);
    EXPECT_EQ(Selected(picker->lstFormat), 0);
    EXPECT_EQ(Selected(picker->lstOther), -1);
    EXPECT_EQ(picker->ActiveList(), picker->lstFormat);
    // The skipped built-in format is left out.
    EXPECT_EQ(GridIds(), (QList<int32_t>{1001, 1002, 1004}));
    EXPECT_EQ(picker->SelectedIndex(), 2);
    EXPECT_EQ(Selected(picker->lvFormat), 2);
    EXPECT_EQ(picker->SelGroupID(), 1);
    EXPECT_EQ(picker->SelFormatID(), 1004);
    EXPECT_EQ(picker->ShownGroupID(), 1);
    EXPECT_EQ(picker->ShownListType(), 0);
    // Dropped down under the format box: 2 pixels left, 3 up from its bottom.
    const QPoint boxBottomLeft = host->box->mapToGlobal(QPoint(0, host->box->height()));
    EXPECT_EQ(picker->pos(), boxBottomLeft + QPoint(-2, -3));
}

TEST_F(PickerTest, FastHoveringKeepsTheGridAPauseChangesItAndTheGridRestoresTheHighlight) {
    MakeCatalogue();
    SetCurrent(1001);
    Open();
    const QList<int32_t> general{1001, 1002, 1004};
    HoverList(picker->lstFormat, 25 + 12);      // Audio Only
    HoverList(picker->lstDevice, 12);           // Device 1: clears the format list's selection
    EXPECT_EQ(Selected(picker->lstFormat), -1);
    HoverList(picker->lstFormat, 2 * 25 + 12);  // HD Video
    EXPECT_EQ(Selected(picker->lstDevice), -1);
    EXPECT_EQ(Selected(picker->lstFormat), 2);
    EXPECT_TRUE(picker->tmrSel->isActive());
    EXPECT_EQ(GridIds(), general);
    QTest::qWait(100);
    EXPECT_EQ(GridIds(), general);

    // A pause on HD Video shows its page (its skipped format left out).
    QTRY_COMPARE_WITH_TIMEOUT(GridIds(), QList<int32_t>{1101}, 3000);
    EXPECT_FALSE(picker->tmrSel->isActive());
    EXPECT_EQ(picker->ShownGroupID(), 3);
    EXPECT_EQ(picker->SelectedIndex(), -1);  // the current format is not on this page

    // Hovering Device 2 and moving into the grid before the pause: the left side shows HD again.
    HoverList(picker->lstDevice, 25 + 12);
    EXPECT_EQ(Selected(picker->lstFormat), -1);
    HoverGrid(QPoint(300, 300));
    EXPECT_FALSE(picker->tmrSel->isActive());
    EXPECT_EQ(Selected(picker->lstFormat), 2);
    EXPECT_EQ(Selected(picker->lstDevice), -1);
    EXPECT_EQ(picker->ActiveList(), picker->lstFormat);
    QTest::qWait(picker->kHoverDelayMs + 200);
    EXPECT_EQ(GridIds(), QList<int32_t>{1101});
}

TEST_F(PickerTest, OnlyTheInsideOfAGroupItemIsHovered) {
    MakeCatalogue();
    SetCurrent(2001);
    Open();
    ASSERT_EQ(Selected(picker->lstFormat), 1);
    struct Case {
        int y, selected;
        bool timer;
    } cases[] = {
        {25, 1, false},      // the border between the first and second item
        {50, 1, false},      // the border below the second
        {25 * 3, 1, false},  // below the last item
        {25 * 3 + 10, 1, false},
        {24, 0, true},
    };
    for (const Case& c : cases) {
        picker->tmrSel->stop();
        HoverList(picker->lstFormat, c.y);
        EXPECT_EQ(Selected(picker->lstFormat), c.selected) << "y " << c.y;
        EXPECT_EQ(picker->tmrSel->isActive(), c.timer) << "y " << c.y;
    }
}

TEST_F(PickerTest, RecentPageShowsSkippedUserFormatsButNotSkippedBuiltInOnes) {
    MakeCatalogue();
    SetCurrent(1001);
    app::IniFile(FormatDefaultFileName()).WriteString(QStringLiteral("Format"), QStringLiteral("Recent"),
                                                      QStringLiteral("4001,1102,1001,1003,4002,9999,"));
    Open();
    ShowTopPage(0);
    EXPECT_EQ(GridIds(), (QList<int32_t>{4001, 1001, 4002}));
    EXPECT_EQ(picker->SelectedIndex(), 1);
    EXPECT_EQ(picker->ShownGroupID(), RecentGroupID);
    EXPECT_EQ(picker->ShownListType(), 2);

    // The user-defined page lists every user format, the skipped one too.
    ShowTopPage(1);
    EXPECT_EQ(GridIds(), (QList<int32_t>{4001, 4002, 4003}));
    EXPECT_EQ(picker->SelectedIndex(), -1);
}

TEST_F(PickerTest, DeletingFromTheRecentPageLeavesTheCataloguesUntouched) {
    MakeCatalogue();
    SetCurrent(1001);
    app::IniFile(FormatDefaultFileName()).WriteString(QStringLiteral("Format"), QStringLiteral("Recent"),
                                                      QStringLiteral("1002,4002,1001,"));
    const QByteArray builtIn = ReadAll(BuiltInFormatFileName());
    const QByteArray user = ReadAll(UserFormatFileName());
    Open();
    ShowTopPage(0);
    ASSERT_EQ(GridIds(), (QList<int32_t>{1002, 4002, 1001}));

    // Clicking the middle of an item on the recent page chooses nothing while over no delete box:
    // only the delete box deletes.
    HoverGrid(DeleteBoxCentre(1));
    EXPECT_TRUE(picker->OverDeleteBox());
    ClickGrid(DeleteBoxCentre(1));
    EXPECT_TRUE(picker->Showing());
    EXPECT_EQ(ReadRecent(), (QStringList{QStringLiteral("1002"), QStringLiteral("1001")}));
    EXPECT_EQ(GridIds(), (QList<int32_t>{1002, 1001}));
    EXPECT_EQ(picker->SelectedIndex(), 1);

    ClickGrid(DeleteBoxCentre(0));
    EXPECT_EQ(ReadRecent(), QStringList{QStringLiteral("1001")});
    EXPECT_EQ(GridIds(), QList<int32_t>{1001});

    EXPECT_EQ(ReadAll(BuiltInFormatFileName()), builtIn);
    EXPECT_EQ(ReadAll(UserFormatFileName()), user);
    EXPECT_EQ(UserFormats.size(), 3);
    EXPECT_EQ(CurrentFormat.ID, 1001);
    EXPECT_TRUE(host->deleted.isEmpty());
    EXPECT_EQ(host->fills, 0);
}

TEST_F(PickerTest, DeletingAUserFormatThatIsNotCurrentKeepsTheCurrentFormat) {
    MakeCatalogue();
    SetCurrent(4003);
    AddRecent(4002);
    AddRecent(1001);
    Open();
    EXPECT_EQ(picker->ActiveList(), picker->lstOther);
    EXPECT_EQ(Selected(picker->lstOther), 1);
    ASSERT_EQ(GridIds(), (QList<int32_t>{4001, 4002, 4003}));
    ASSERT_EQ(picker->SelectedIndex(), 2);

    ClickGrid(DeleteBoxCentre(1));
    EXPECT_EQ(CurrentFormat.ID, 4003);
    EXPECT_EQ(host->deleted, QList<int32_t>{4002});
    EXPECT_EQ(host->fills, 0);
    EXPECT_FALSE(ReadAll(UserFormatFileName()).contains("ID=\"4002\""));
    EXPECT_EQ(UserFormats.size(), 2);
    EXPECT_EQ(ReadRecent(), QStringList{QStringLiteral("1001")});
    EXPECT_EQ(GridIds(), (QList<int32_t>{4001, 4003}));
    EXPECT_EQ(picker->SelectedIndex(), 1);
    EXPECT_TRUE(picker->Showing());
}

TEST_F(PickerTest, DeletingTheCurrentUserFormatChoosesTheFirstLeftThenTheDefault) {
    MakeCatalogue();
    SetCurrent(4002);
    Open();
    ClickGrid(DeleteBoxCentre(1));
    // The first format left on the page becomes current and the host hears of it.
    EXPECT_EQ(CurrentFormat.ID, 4001);
    EXPECT_EQ(CurrentOptions.FormatID, 4001);
    EXPECT_EQ(host->deleted, QList<int32_t>{4002});
    EXPECT_EQ(host->box->text(), QStringLiteral("Mine skipped"));
    EXPECT_EQ(host->filledFrom, 4001);
    EXPECT_EQ(GridIds(), (QList<int32_t>{4001, 4003}));
    EXPECT_EQ(picker->SelectedIndex(), 0);

    ClickGrid(DeleteBoxCentre(0));
    ClickGrid(DeleteBoxCentre(0));
    EXPECT_EQ(host->deleted, (QList<int32_t>{4002, 4001, 4003}));
    // The last one gone: back to the default format, whose group the picker now shows.
    EXPECT_EQ(CurrentFormat.ID, DefaultFormatID);
    EXPECT_EQ(CurrentOptions.FormatID, DefaultFormatID);
    EXPECT_EQ(host->box->text(), QStringLiteral("MP4"));
    EXPECT_TRUE(UserFormats.isEmpty());
    EXPECT_FALSE(ReadAll(UserFormatFileName()).contains("FormatInfo"));
    EXPECT_EQ(picker->ActiveList(), picker->lstFormat);
    EXPECT_EQ(GridIds(), (QList<int32_t>{1001, 1002, 1004}));
    EXPECT_EQ(picker->SelectedIndex(), 2);
}

TEST_F(PickerTest, AUserFileThatCannotBeChangedKeepsEverythingAsItWas) {
    MakeCatalogue();
    SetCurrent(4002);
    AddRecent(4002);
    Open();
    ASSERT_EQ(GridIds(), (QList<int32_t>{4001, 4002, 4003}));
    // Someone else broke the file after it was read: the delete cannot be done.
    WriteAll(UserFormatFileName(), "<product><FormatInfo");
    ClickGrid(DeleteBoxCentre(1));
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].startsWith(QStringLiteral("Cannot delete the format \"Mine two\"")));
    EXPECT_EQ(ReadAll(UserFormatFileName()), QByteArray("<product><FormatInfo"));
    EXPECT_EQ(CurrentFormat.ID, 4002);
    EXPECT_EQ(ReadRecent(), QStringList{QStringLiteral("4002")});
    EXPECT_TRUE(host->deleted.isEmpty());
    EXPECT_EQ(GridIds(), (QList<int32_t>{4001, 4002, 4003}));
}

TEST_F(PickerTest, ChoosingAFormatRefreshesTheHostEvenWhenItIsAlreadyCurrent) {
    MakeCatalogue();
    SetCurrent(1001);
    Open();
    ClickGrid(ItemCentre(0));
    EXPECT_FALSE(picker->Showing());
    EXPECT_FALSE(picker->isVisible());
    EXPECT_EQ(CurrentFormat.ID, 1001);
    EXPECT_EQ(host->box->text(), QStringLiteral("AVI "));
    EXPECT_EQ(host->changes, 1);
    EXPECT_EQ(host->fills, 1);
    EXPECT_EQ(host->outputFile, QStringLiteral("out/movie.avi"));

    // Another format: its name as it is.
    picker->Toggle(host.get(), host->box);
    ASSERT_TRUE(picker->Showing());
    ClickGrid(ItemCentre(1));
    EXPECT_EQ(CurrentFormat.ID, 1002);
    EXPECT_EQ(CurrentOptions.FormatID, 1002);
    EXPECT_EQ(CurrentOptions.FileExt, QStringLiteral(".mkv"));
    EXPECT_EQ(host->box->text(), QStringLiteral("MKV"));
    EXPECT_EQ(host->fills, 2);
    EXPECT_EQ(host->outputFile, QStringLiteral("out/movie.mkv"));
    // Nothing goes to the defaults file while a format window is open.
    EXPECT_FALSE(QFile::exists(FormatDefaultFileName()));
}

TEST_F(PickerTest, WithoutAFormatWindowAChoiceIsSavedAsTheDefault) {
    MakeCatalogue();
    SetCurrent(1001);
    picker = std::make_unique<TformatFrm>();
    picker->DropDown(nullptr, nullptr);
    EXPECT_EQ(messages, QStringList{QStringLiteral(" HostControl is nil ")});
    ASSERT_TRUE(picker->Showing());
    ClickGrid(ItemCentre(2));
    EXPECT_EQ(CurrentFormat.ID, 1004);
    TVCOutPutOptions saved;
    LoadDefaultOptions(saved, 1001);
    EXPECT_EQ(saved.FormatID, 1004);
    EXPECT_EQ(saved.Name, QStringLiteral("MP4"));
}

TEST_F(PickerTest, TheDropDownButtonTogglesAndFocusLossClosesUnlessKeptOpen) {
    MakeCatalogue();
    SetCurrent(1001);
    Open();
    picker->SetKeepOpen(true);
    picker->FocusLost();
    EXPECT_TRUE(picker->Showing());
    picker->Toggle(host.get(), host->box);
    EXPECT_FALSE(picker->Showing());
    picker->Toggle(host.get(), host->box);
    EXPECT_TRUE(picker->Showing());
    picker->SetKeepOpen(false);
    picker->FocusLost();
    EXPECT_FALSE(picker->Showing());

    // The host window going away closes the picker and ends its use as host.
    picker->Toggle(host.get(), host->box);
    ASSERT_TRUE(picker->Showing());
    host->hide();
    EXPECT_FALSE(picker->Showing());
    EXPECT_EQ(picker->Host(), nullptr);
    host.reset();  // must not take the picker with it
    EXPECT_EQ(TformatFrm::Instance(), picker.get());
}

TEST_F(PickerTest, GridHoverShowsTheBrokenDescriptionAndArrowKeysAreSwallowed) {
    MakeCatalogue();
    SetCurrent(1001);
    Open();
    HoverGrid(ItemCentre(1));
    EXPECT_EQ(picker->GridTag(), 1);
    const QString description = picker->GridFormat(1)->description;
    ASSERT_GT(description.size(), 50);
    EXPECT_EQ(picker->HintText(), PickerHintLines(description).join(QLatin1Char('\n')));
    EXPECT_FALSE(picker->OverDeleteBox());  // no delete boxes on a group page
    // Hovering keeps the current format's mark.
    EXPECT_EQ(Selected(picker->lvFormat), 0);
    HoverGrid(QPoint(300, 300));
    EXPECT_EQ(picker->GridTag(), -1);
    EXPECT_TRUE(picker->HintText().isEmpty());

    struct Case {
        QWidget* target;
        Qt::Key key;
    } cases[] = {{picker->lvFormat, Qt::Key_Right}, {picker->lvFormat, Qt::Key_Down},
                 {picker->lstFormat, Qt::Key_Down}, {picker->lstFormat, Qt::Key_Up}};
    for (const Case& c : cases) {
        QTest::keyClick(c.target, c.key);
        EXPECT_EQ(Selected(picker->lvFormat), 0) << c.key;
        EXPECT_EQ(Selected(picker->lstFormat), 0) << c.key;
    }
}

// Whether a modal window keeps the mouse and keys from the watched window.
class BlockWatcher : public QObject {
public:
    bool blocked = false;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::WindowBlocked) blocked = true;
        if (event->type() == QEvent::WindowUnblocked) blocked = false;
        return false;
    }
};

// The real host is a modal dialog: the picker must not be blocked by it, and must survive the
// dialog's end.
TEST_F(PickerTest, WorksUnderAModalHostAndOutlivesIt) {
    MakeCatalogue();
    SetCurrent(1001);
    auto owner = std::make_unique<QWidget>();
    picker = std::make_unique<TformatFrm>(owner.get());
    BlockWatcher watcher;
    picker->installEventFilter(&watcher);
    auto* dialog = new QDialog(owner.get());
    auto* dialogHost = new FakeHost;
    dialogHost->setParent(dialog);
    dialogHost->box->setText(CurrentFormat.Name);
    bool ran = false;
    QTimer::singleShot(0, dialog, [&] {
        picker->Toggle(dialogHost, dialogHost->box);
        ASSERT_TRUE(picker->Showing());
        QTest::qWait(50);
        EXPECT_FALSE(watcher.blocked);
        QWidget* vp = picker->lvFormat->viewport();
        const QPoint at = ItemCentre(1);
        QTest::mouseMove(vp, at);
        QTest::mouseClick(vp, Qt::LeftButton, Qt::NoModifier, at);
        ran = true;
        dialog->accept();
    });
    dialog->exec();
    ASSERT_TRUE(ran);
    EXPECT_EQ(CurrentFormat.ID, 1002);
    EXPECT_EQ(dialogHost->box->text(), QStringLiteral("MKV"));
    EXPECT_FALSE(picker->Showing());
    delete dialog;
    EXPECT_EQ(TformatFrm::Instance(), picker.get());
    EXPECT_EQ(picker->parentWidget(), owner.get());
    // Escape closes an open picker.
    picker->DropDown(nullptr, nullptr);
    ASSERT_TRUE(picker->Showing());
    QTest::keyClick(picker->lvFormat, Qt::Key_Escape);
    EXPECT_FALSE(picker->Showing());
    picker.reset();
}

// Solid pictures make every drawn part recognisable by its colour.
void WritePicture(const QString& name, QSize size, const QColor& colour, const char* format) {
    const QString folder = ProgramDir() + QStringLiteral("skin/Format/");
    QDir().mkpath(folder);
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    ASSERT_TRUE(image.save(folder + name, format));
}

TEST_F(PickerTest, DrawsStripsGroupsAndGridItemsFromTheirPictures) {
    const QColor select(200, 0, 0), move(0, 200, 0), expand(0, 0, 200), icon(250, 200, 0);
    WritePicture(QStringLiteral("Select.bmp"), {80, 80}, select, "BMP");
    WritePicture(QStringLiteral("Move.bmp"), {80, 80}, move, "BMP");
    WritePicture(QStringLiteral("Expand.png"), {8, 12}, expand, "PNG");
    WritePicture(QStringLiteral("mp4.png"), {64, 64}, icon, "PNG");  // every test format's ICON
    MakeCatalogue();
    SetCurrent(1002);
    Open();
    const auto colourAt = [&](QPoint p) { return QColor(picker->grab().toImage().pixel(p)); };
    const auto inGrid = [&](QPoint p) { return picker->lvFormat->viewport()->mapTo(picker.get(), p); };

    const int b = TformatFrm::kBorder;
    const int formatTop = b + TformatFrm::kTopPanelHeight, formatHeight = 25 * 3 + 1;
    EXPECT_EQ(colourAt({0, 0}), QColor(26, 64, 100));  // the border
    EXPECT_EQ(colourAt({3, 3}), QColor(127, 179, 198));
    EXPECT_EQ(colourAt({3, formatTop + 2}), QColor(26, 64, 100));
    EXPECT_EQ(colourAt({b + 24, formatTop + 2}), QColor(Qt::black));
    EXPECT_EQ(colourAt({3, formatTop + formatHeight - 1}), QColor(50, 75, 99));
    EXPECT_EQ(colourAt({3, formatTop + formatHeight + 2}), QColor(50, 75, 99));
    EXPECT_EQ(colourAt({3, picker->height() - 5}), QColor(Qt::white));

    // The current format's group is selected, with the arrow 8 pixels from the right.
    const int listLeft = b + TformatFrm::kStripWidth, listRight = listLeft + TformatFrm::kListWidth;
    EXPECT_EQ(colourAt({listLeft + 15, formatTop + 2}), QColor(159, 207, 255));
    EXPECT_EQ(colourAt({listLeft + 15, formatTop + 25 + 2}), QColor(Qt::white));
    EXPECT_EQ(colourAt({listRight - 8 - 4, formatTop + 12}), expand);
    EXPECT_EQ(colourAt({listRight - 4, formatTop + 12}), QColor(159, 207, 255));

    // Grid: the selected item on "Select", the others white, each with its picture in the middle.
    const QRect box0 = picker->GridItemBox(0), box1 = picker->GridItemBox(1);
    EXPECT_EQ(colourAt(inGrid(box1.topLeft() + QPoint(2, 2))), select);
    EXPECT_EQ(colourAt(inGrid(box0.topLeft() + QPoint(2, 2))), QColor(Qt::white));
    EXPECT_EQ(colourAt(inGrid(box0.center())), icon);
    EXPECT_EQ(colourAt(inGrid(box1.center())), icon);

    // Hovered: "Move" behind it; a group page has no delete box.
    HoverGrid(box0.center());
    EXPECT_EQ(colourAt(inGrid(box0.topLeft() + QPoint(2, 2))), move);
    EXPECT_EQ(colourAt(inGrid(picker->GridDeleteBox(0).topLeft() + QPoint(0, 4))), move);

    // On the user-defined page the hovered item carries the black box with its white cross.
    ShowTopPage(1);
    HoverGrid(picker->GridItemBox(1).center());
    const QRect del = picker->GridDeleteBox(1);
    EXPECT_EQ(colourAt(inGrid(del.topLeft())), QColor(Qt::black));
    EXPECT_EQ(colourAt(inGrid(del.topLeft() + QPoint(1, 1))), QColor(Qt::white));
    EXPECT_EQ(colourAt(inGrid(del.topLeft() + QPoint(8, 1))), QColor(Qt::white));
    EXPECT_EQ(colourAt(inGrid(del.topLeft() + QPoint(4, 1))), QColor(Qt::black));
    EXPECT_EQ(colourAt(inGrid(picker->GridItemBox(1).topLeft() + QPoint(2, 20))), move);
}

// Under xvfb-run with QM_PICKER_SHOT set to a PNG path: the picker over the catalogue and pictures
// beside the program, hovered on one item, saved there (and its recent page beside it, "_recent")
// and kept open QM_PICKER_HOLD_MS.
TEST_F(PickerTest, Screenshot) {
    const QString out = qEnvironmentVariable("QM_PICKER_SHOT");
    if (out.isEmpty()) GTEST_SKIP() << "QM_PICKER_SHOT names no picture to write";
    SetProgramDir(QCoreApplication::applicationDirPath());
    ASSERT_TRUE(LoadFormatFile(BuiltInFormatFileName(), BuiltInFormats));
    ASSERT_TRUE(LoadGroupFile());
    SetCurrent(1002);
    AddRecent(1001);
    AddRecent(1002);
    host = std::make_unique<FakeHost>();
    host->move(40, 40);
    host->box->setText(CurrentFormat.Name);
    host->show();
    picker = std::make_unique<TformatFrm>();
    picker->DropDown(host.get(), host->box);
    QTest::qWait(200);
    HoverGrid(picker->GridItemBox(3).center());
    QTest::qWait(200);
    ASSERT_TRUE(picker->grab().save(out));
    // The recent page with the delete box of the hovered item, beside it.
    ShowTopPage(0);
    HoverGrid(picker->GridItemBox(0).center());
    QTest::qWait(200);
    ASSERT_TRUE(picker->grab().save(QString(out).replace(QStringLiteral(".png"), QStringLiteral("_recent.png"))));
    QTest::qWait(qEnvironmentVariableIntValue("QM_PICKER_HOLD_MS"));
}

}  // namespace
}  // namespace qm::formats
