// The Options window through its controls: what each showing loads, which keys OK writes and
// when, the capture-mode controls, and the folder buttons.
#include "app/core/app_core.h"
#include "app/windows/options_window.h"
#include "app/windows/window_hooks.h"
#include "controls/skin_art.h"
#include "controls/skinned_window.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

using namespace qm::app;

namespace {

QByteArray ReadFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The page the user looks at, laid out as on the screen before anything is clicked.
void ShowPage(TOptionfrm& window, QWidget* page) {
    window.PageControl->setCurrentWidget(page);
    QCoreApplication::processEvents();
}

// A radio button takes clicks on its circle and caption only, at its left.
void ClickRadio(QRadioButton* button) {
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(8, button->height() / 2));
}

struct BrowseCall {
    QString title, start, refusal;
};

class OptionsWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(home_.isValid());
        QString error;
        ASSERT_TRUE(qm::controls::WriteFormSkin(home_.filePath("skin"), &error)) << error.toStdString();
        qm::controls::SetSkinFormFolder(home_.filePath("skin"));
        QDir(home_.path()).mkpath("docs");
        QDir(home_.path()).mkpath("tmp");
        LoadSettings(home_.filePath("docs") + "/", home_.filePath("tmp") + "/");
        FinishAction = 0;
        CaptureMode = 0;
        browseCalls_.clear();
        openedFolders_.clear();
        errors_.clear();
        TOptionfrm::BrowseFolder = [this](const QString& title, QString& folder, const QString& refusal, QWidget*) {
            browseCalls_.push_back({title, folder, refusal});
            if (browseAnswer_.isEmpty()) return false;
            folder = browseAnswer_;
            return true;
        };
        TOptionfrm::OpenFolder = [this](const QString& folder) { openedFolders_.push_back(folder); };
        SetMessageBoxFunction([this](const MessageBoxRequest& box) {
            errors_.push_back(box.caption + ": " + box.text);
            return QMessageBox::Ok;
        });
    }
    void TearDown() override {
        SetMessageBoxFunction({});
        qm::controls::SetSkinFormFolder(QString());
    }

    // Removes the settings file, so that afterwards it holds exactly what was written since.
    void ForgetSettingsFile() { ASSERT_TRUE(QFile::remove(SettingsFileName())); }
    QString Stored(const QString& key, const QString& def = "absent") const {
        return IniFile(SettingsFileName()).ReadString(kSettingsSection, key, def);
    }
    QString Folder(const QString& name) const {
        QDir(home_.path()).mkpath(name);
        return home_.filePath(name) + "/";
    }

    QTemporaryDir home_;
    QString browseAnswer_;
    std::vector<BrowseCall> browseCalls_;
    QStringList openedFolders_;
    QStringList errors_;
};

TEST_F(OptionsWindowTest, ShowingLoadsEveryCurrentValue) {
    WriteSetting("OverWrite", true);
    WriteSetting("IsCheckUpdate", false);
    WriteSetting("SnapshotExt", QString("jpg"));
    WriteSetting("CaptureTempPath", Folder("captures"));
    FinishAction = 2;
    CaptureMode = 1;

    TOptionfrm window;
    window.show();
    EXPECT_EQ(window.size(), QSize(464, 399));
    EXPECT_EQ(window.windowTitle(), "Option");
    EXPECT_EQ(window.PageControl->currentWidget(), window.tsGeneral);
    EXPECT_EQ(window.PageControl->tabText(0), "General");
    EXPECT_EQ(window.PageControl->tabText(1), "Capture");
    EXPECT_EQ(window.PageControl->tabText(2), "Snapshot");
    EXPECT_EQ(window.EdtSavepath->text(), OutputPath);
    EXPECT_EQ(window.EdtPath->text(), SnapshotPath);
    EXPECT_TRUE(window.EdtPath->isReadOnly());
    EXPECT_EQ(window.btntemppath->text(), Folder("captures"));
    EXPECT_EQ(window.cbbFinish->currentText(), "Shutdown");
    EXPECT_EQ(window.cbbSameName->currentText(), "Overwrite");
    EXPECT_EQ(window.cbbupdate->currentText(), "None");
    EXPECT_EQ(window.CbbFormat->currentText(), "JPEG Image File(*.jpg)");
    EXPECT_TRUE(window.rbInteractive->isChecked());
    EXPECT_TRUE(window.chkautostop->isChecked());
    EXPECT_TRUE(window.chkautostop->isEnabled());
    EXPECT_FALSE(window.chkFastCapture->isEnabled());
    EXPECT_EQ(window.focusWidget(), window.btnOk);
    // Every page, when shown, hands the focus back to OK.
    window.EdtPath->setFocus();
    window.PageControl->setCurrentWidget(window.tsSnapshot);
    EXPECT_EQ(window.focusWidget(), window.btnOk);
}

TEST_F(OptionsWindowTest, OkWithoutChangesWritesOnlyOverWrite) {
    for (const bool overWrite : {false, true}) {
        WriteSetting("OverWrite", overWrite);
        ForgetSettingsFile();
        TOptionfrm window;
        window.show();
        QTest::mouseClick(window.btnOk, Qt::LeftButton);
        EXPECT_EQ(window.result(), QDialog::Accepted);
        EXPECT_EQ(ReadFile(SettingsFileName()),
                  QByteArray("[Output]\nOverWrite=") + (overWrite ? "1" : "0") + "\n");
    }
}

TEST_F(OptionsWindowTest, CancelAndCloseApplyNothing) {
    for (int way = 0; way < 2; ++way) {
        ForgetSettingsFile();
        TOptionfrm window;
        window.show();
        window.cbbFinish->setCurrentIndex(1);
        window.cbbSameName->setCurrentIndex(0);
        window.btndefault->click();
        if (way == 0)
            QTest::mouseClick(window.btnCancel, Qt::LeftButton);
        else
            QTest::mouseClick(window.CloseButton(), Qt::LeftButton);
        EXPECT_EQ(window.result(), QDialog::Rejected);
        EXPECT_FALSE(QFile::exists(SettingsFileName()));
        EXPECT_EQ(FinishAction, 0);
        EXPECT_FALSE(OverWrite);
        // Restore a file for the next round.
        WriteSetting("OverWrite", false);
    }
}

TEST_F(OptionsWindowTest, DefaultStoresAnEmptyTemporaryFolder) {
    WriteSetting("CaptureTempPath", Folder("captures"));
    TOptionfrm window;
    window.show();
    ShowPage(window, window.tsCapture);
    QTest::mouseClick(window.btndefault, Qt::LeftButton);
    EXPECT_EQ(window.btntemppath->text(), SystemTempPath);
    EXPECT_EQ(CaptureTempPath, Folder("captures")) << "nothing applies before OK";
    QTest::mouseClick(window.btnOk, Qt::LeftButton);
    EXPECT_EQ(Stored("CaptureTempPath"), "");
    EXPECT_EQ(CaptureTempPath, SystemTempPath);
}

TEST_F(OptionsWindowTest, AutomaticDisablesTheAutoEndBoxAndManualKeepsItsTick) {
    CaptureMode = 1;
    TOptionfrm window;
    window.show();
    ShowPage(window, window.tsCapture);
    ASSERT_TRUE(window.chkautostop->isChecked());

    ClickRadio(window.rbAutomatic);
    EXPECT_TRUE(window.rbAutomatic->isChecked());
    EXPECT_FALSE(window.chkautostop->isEnabled());
    EXPECT_TRUE(window.chkautostop->isChecked());
    EXPECT_TRUE(window.chkFastCapture->isEnabled());

    ClickRadio(window.rbInteractive);
    EXPECT_TRUE(window.chkautostop->isEnabled());
    EXPECT_TRUE(window.chkautostop->isChecked());
    EXPECT_FALSE(window.chkFastCapture->isEnabled());
    QTest::mouseClick(window.btnOk, Qt::LeftButton);
    EXPECT_EQ(CaptureMode, 1);
}

TEST_F(OptionsWindowTest, CaptureModeFollowsTheControls) {
    struct Case {
        int shown;
        bool clickAutomatic;
        bool tick;
        int expected;
    } const cases[] = {
        {0, false, false, 0}, {0, false, true, 1}, {1, false, false, 0},
        {0, true, false, 2},  {1, true, true, 2},  {2, false, false, 2},
    };
    for (const Case& c : cases) {
        CaptureMode = c.shown;
        TOptionfrm window;
        window.show();
        ShowPage(window, window.tsCapture);
        if (c.shown == 2) {
            EXPECT_TRUE(window.rbAutomatic->isChecked());
            EXPECT_FALSE(window.chkautostop->isEnabled());
        }
        if (window.chkautostop->isEnabled()) window.chkautostop->setChecked(c.tick);
        if (c.clickAutomatic) ClickRadio(window.rbAutomatic);
        QTest::mouseClick(window.btnOk, Qt::LeftButton);
        EXPECT_EQ(CaptureMode, c.expected) << "shown " << c.shown << " automatic " << c.clickAutomatic;
    }
}

TEST_F(OptionsWindowTest, RunTimeChoicesAreNeverStored) {
    ForgetSettingsFile();
    TOptionfrm window;
    window.show();
    window.cbbFinish->setCurrentIndex(2);
    ShowPage(window, window.tsCapture);
    ClickRadio(window.rbAutomatic);
    QTest::mouseClick(window.btnOk, Qt::LeftButton);
    EXPECT_EQ(FinishAction, 2);
    EXPECT_EQ(CaptureMode, 2);
    // The file carries nothing a later run could read them back from.
    EXPECT_EQ(ReadFile(SettingsFileName()), "[Output]\nOverWrite=0\n");
    LoadSettings(home_.filePath("docs") + "/", home_.filePath("tmp") + "/");
    EXPECT_EQ(FinishAction, 2) << "loading settings leaves the run-time values to the main window";
    // A fresh run starts both at 0 (the main window sets them), and the window shows that.
    FinishAction = 0;
    CaptureMode = 0;
    TOptionfrm next;
    next.show();
    EXPECT_EQ(next.cbbFinish->currentIndex(), 0);
    EXPECT_TRUE(next.rbInteractive->isChecked());
    EXPECT_FALSE(next.chkautostop->isChecked());
}

TEST_F(OptionsWindowTest, UnknownSnapshotFormatShowsAsBitmapAndIsReplacedOnOk) {
    struct Case {
        QString stored;
        QString shown;
        QString afterOk;
    } const cases[] = {
        {"png", "Bitmap File(*.bmp)", "bmp"},
        {"JPG", "Bitmap File(*.bmp)", "bmp"},  // the comparison is case-sensitive
        {"jpg", "JPEG Image File(*.jpg)", "jpg"},
    };
    for (const Case& c : cases) {
        IniFile(SettingsFileName()).WriteString(kSettingsSection, "SnapshotExt", c.stored);
        LoadSettings(home_.filePath("docs") + "/", home_.filePath("tmp") + "/");
        ASSERT_EQ(SnapshotExt, c.stored);
        TOptionfrm window;
        window.show();
        EXPECT_EQ(window.CbbFormat->currentText(), c.shown);
        QTest::mouseClick(window.btnOk, Qt::LeftButton);
        EXPECT_EQ(Stored("SnapshotExt"), c.afterOk);
        EXPECT_EQ(SnapshotExt, c.afterOk);
    }
}

TEST_F(OptionsWindowTest, ChangedChoicesAreWrittenAndTaken) {
    ForgetSettingsFile();
    browseAnswer_ = Folder("snaps");
    TOptionfrm window;
    window.show();
    ShowPage(window, window.tsSnapshot);
    window.EdtPath->Button()->trigger();
    window.CbbFormat->setCurrentIndex(1);
    browseAnswer_ = Folder("out");
    window.EdtSavepath->Button()->trigger();
    browseAnswer_ = Folder("temp files");
    window.btntemppath->Button()->trigger();
    window.cbbupdate->setCurrentIndex(1);
    window.cbbSameName->setCurrentIndex(0);
    ShowPage(window, window.tsCapture);
    ClickRadio(window.rbAutomatic);
    window.chkFastCapture->setChecked(true);
    QTest::mouseClick(window.btnOk, Qt::LeftButton);

    EXPECT_EQ(ReadFile(SettingsFileName()), ("[Output]\nOverWrite=1\nIsCheckUpdate=0\nFastCapture=1\n"
                                             "CaptureTempPath=" + Folder("temp files") +
                                             "\nSnapshotPath=" + Folder("snaps") +
                                             "\nSnapshotExt=jpg\nOutputPath=" + Folder("out") + "\n")
                                                .toUtf8());
    EXPECT_TRUE(OverWrite);
    EXPECT_FALSE(IsCheckUpdate);
    EXPECT_TRUE(FastCapture);
    EXPECT_EQ(SnapshotPath, Folder("snaps"));
    EXPECT_EQ(SnapshotExt, "jpg");
    EXPECT_EQ(OutputPath, Folder("out"));
    EXPECT_EQ(CaptureTempPath, Folder("temp files"));

    // The stored fast capture tick comes back with the next showing, usable only with Automatic.
    CaptureMode = 0;
    TOptionfrm next;
    next.show();
    EXPECT_TRUE(next.chkFastCapture->isChecked());
    EXPECT_FALSE(next.chkFastCapture->isEnabled());
}

TEST_F(OptionsWindowTest, FolderButtonsAskWithTheirOwnTitlesAndRefusals) {
    TOptionfrm window;
    window.show();
    const QString snapshotBefore = window.EdtPath->text();
    const QString outputBefore = window.EdtSavepath->text();
    const QString tempBefore = window.btntemppath->text();
    // A cancelled dialog, or a folder refused as read-only optical media, changes nothing.
    browseAnswer_.clear();
    window.EdtPath->Button()->trigger();
    window.btntemppath->Button()->trigger();
    window.EdtSavepath->Button()->trigger();
    ASSERT_EQ(browseCalls_.size(), 3u);
    EXPECT_EQ(browseCalls_[0].title, "Select Snapshot Folder");
    EXPECT_EQ(browseCalls_[0].refusal, "Snapshot folder cannot be located in CD-ROM.");
    EXPECT_EQ(browseCalls_[0].start, snapshotBefore);
    EXPECT_EQ(browseCalls_[1].title, "Select temporary file path");
    EXPECT_EQ(browseCalls_[1].refusal, "File path cannot be located in CD-ROM.");
    EXPECT_EQ(browseCalls_[1].start, tempBefore);
    EXPECT_EQ(browseCalls_[2].title, "Select Output Folder");
    EXPECT_EQ(browseCalls_[2].refusal, "Output folder cannot be located in CD-ROM.");
    EXPECT_EQ(browseCalls_[2].start, outputBefore);
    EXPECT_EQ(window.EdtPath->text(), snapshotBefore);
    EXPECT_EQ(window.btntemppath->text(), tempBefore);
    EXPECT_EQ(window.EdtSavepath->text(), outputBefore);

    // The file-manager buttons open what the fields show, chosen or not yet applied.
    browseAnswer_ = Folder("elsewhere");
    window.EdtSavepath->Button()->trigger();
    ShowPage(window, window.tsGeneral);
    QTest::mouseClick(window.RzBmpButton1, Qt::LeftButton);
    ShowPage(window, window.tsSnapshot);
    QTest::mouseClick(window.btnBrowse, Qt::LeftButton);
    EXPECT_EQ(openedFolders_, QStringList({Folder("elsewhere"), snapshotBefore}));
    EXPECT_EQ(OutputPath, outputBefore);
}

TEST_F(OptionsWindowTest, AFailedWriteIsShownAndTheWindowStaysOpen) {
    ForgetSettingsFile();
    QDir().mkpath(SettingsFileName());  // a folder where the file should be
    TOptionfrm window;
    window.show();
    QTest::mouseClick(window.btnOk, Qt::LeftButton);
    ASSERT_EQ(errors_.size(), 1);
    EXPECT_EQ(errors_[0], "Error: Unable to write to " + SettingsFileName());
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(window.result(), 0);
    QDir().rmdir(SettingsFileName());
}

}  // namespace
