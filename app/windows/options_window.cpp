#include "app/windows/options_window.h"

#include "app/core/app_core.h"
#include "app/ui/app_ui.h"
#include "app/windows/window_hooks.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QShowEvent>
#include <QStyle>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>

namespace qm::app {

namespace {

constexpr int kWindowWidth = 464;
constexpr int kWindowHeight = 399;
constexpr int kDescriptionIndent = 22;

QLabel* description(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setContentsMargins(kDescriptionIndent, 0, 0, 0);
    return label;
}

QToolButton* explorerButton(const QString& name, QWidget* parent) {
    auto* button = new QToolButton(parent);
    button->setObjectName(name);
    button->setIcon(QIcon::fromTheme(QStringLiteral("system-file-manager"),
                                     parent->style()->standardIcon(QStyle::SP_DirLinkIcon)));
    button->setToolTip(QStringLiteral("Open the folder"));
    button->setAutoRaise(true);
    button->setFixedSize(26, 24);
    return button;
}

QComboBox* dropDown(const QString& name, const QStringList& items, QWidget* parent) {
    auto* box = new QComboBox(parent);
    box->setObjectName(name);
    box->addItems(items);
    box->setMinimumWidth(170);
    return box;
}

}  // namespace

TFolderEdit::TFolderEdit(QWidget* parent) : QLineEdit(parent) {
    setReadOnly(true);
    button_ = addAction(style()->standardIcon(QStyle::SP_DirOpenIcon), QLineEdit::TrailingPosition);
    button_->setToolTip(QStringLiteral("Browse for a folder"));
    connect(button_, &QAction::triggered, this, &TFolderEdit::ButtonClick);
}

TOptionfrm::BrowseFolderHook TOptionfrm::BrowseFolder = [](const QString& title, QString& folder,
                                                           const QString& refusal, QWidget* parent) {
    return BrowseForFolder(title, folder, refusal, parent);
};

std::function<void(const QString&)> TOptionfrm::OpenFolder = [](const QString& folder) {
    OpenFolderInFileManager(folder);
};

TOptionfrm::TOptionfrm(QWidget* parent) : SkinnedWindow(parent) {
    setObjectName(QStringLiteral("Optionfrm"));
    setWindowTitle(QStringLiteral("Option"));
    setModal(true);
    AddDialogButtons();
    btnOk = OkButton();
    btnCancel = CancelButton();
    // OK applies first and closes only when everything was written.
    disconnect(btnOk, &QAbstractButton::clicked, this, &QDialog::accept);
    connect(btnOk, &QAbstractButton::clicked, this, &TOptionfrm::btnOkClick);
    disconnect(btnCancel, &QAbstractButton::clicked, this, &QDialog::reject);
    connect(btnCancel, &QAbstractButton::clicked, this, &TOptionfrm::btnCancelClick);
    disconnect(CloseButton(), &QAbstractButton::clicked, this, &QDialog::reject);
    connect(CloseButton(), &QAbstractButton::clicked, this, &TOptionfrm::btnCloseClick);

    QWidget* client = ClientArea();
    PageControl = new QTabWidget(client);
    PageControl->setObjectName(QStringLiteral("PageControl1"));

    // ---- General ----
    tsGeneral = new QWidget;
    tsGeneral->setObjectName(QStringLiteral("tsGeneral"));
    {
        auto* page = new QVBoxLayout(tsGeneral);
        page->setContentsMargins(10, 10, 10, 10);
        page->setSpacing(8);

        auto* output = new QGroupBox(QStringLiteral("Output"), tsGeneral);
        auto* outputRow = new QHBoxLayout(output);
        outputRow->addWidget(new QLabel(QStringLiteral("Output folder:"), output));
        EdtSavepath = new TFolderEdit(output);
        EdtSavepath->setObjectName(QStringLiteral("EdtSavepath"));
        outputRow->addWidget(EdtSavepath, 1);
        RzBmpButton1 = explorerButton(QStringLiteral("RzBmpButton1"), output);
        outputRow->addWidget(RzBmpButton1);
        page->addWidget(output);

        auto row = [&](const QString& group, const QString& caption, QComboBox* box) {
            auto* g = new QGroupBox(group, tsGeneral);
            auto* layout = new QHBoxLayout(g);
            auto* label = new QLabel(caption, g);
            label->setMinimumWidth(170);
            layout->addWidget(label);
            box->setParent(g);
            layout->addWidget(box);
            layout->addStretch();
            page->addWidget(g);
        };
        cbbFinish = dropDown(QStringLiteral("cbbFinish"),
                             {QStringLiteral("None"), QStringLiteral("Exit program"), QStringLiteral("Shutdown")},
                             tsGeneral);
        row(QStringLiteral("Action setup"), QStringLiteral("After conversion finished:"), cbbFinish);
        cbbSameName = dropDown(QStringLiteral("cbbSameName"), {QStringLiteral("Overwrite"), QStringLiteral("Rename")},
                               tsGeneral);
        row(QStringLiteral("File processing"), QStringLiteral("File of same name exists:"), cbbSameName);
        cbbupdate = dropDown(QStringLiteral("cbbupdate"), {QStringLiteral("Check update"), QStringLiteral("None")},
                             tsGeneral);
        row(QStringLiteral("Update setting"), QStringLiteral("Start the program:"), cbbupdate);
        page->addStretch();
    }

    // ---- Capture ----
    tsCapture = new QWidget;
    tsCapture->setObjectName(QStringLiteral("tsCapture"));
    {
        auto* page = new QVBoxLayout(tsCapture);
        page->setContentsMargins(10, 10, 10, 10);
        page->setSpacing(8);

        auto* mode = new QGroupBox(QStringLiteral("Capture mode"), tsCapture);
        auto* modes = new QVBoxLayout(mode);
        modes->setSpacing(3);
        rbInteractive = new QRadioButton(QStringLiteral("Manual"), mode);
        rbInteractive->setObjectName(QStringLiteral("rbInteractive"));
        modes->addWidget(rbInteractive);
        modes->addWidget(description(QStringLiteral("Enable users to interact with the SWF file. What is recorded\n"
                                                    "depends on how you control the Flash."),
                                     mode));
        chkautostop = new QCheckBox(QStringLiteral("Auto end capture at the last frame"), mode);
        chkautostop->setObjectName(QStringLiteral("chkautostop"));
        auto* stopRow = new QHBoxLayout;
        stopRow->addSpacing(kDescriptionIndent);
        stopRow->addWidget(chkautostop);
        modes->addLayout(stopRow);
        modes->addSpacing(6);
        rbAutomatic = new QRadioButton(QStringLiteral("Automatic"), mode);
        rbAutomatic->setObjectName(QStringLiteral("rbAutomatic"));
        modes->addWidget(rbAutomatic);
        modes->addWidget(description(QStringLiteral("Capture and convert the Flash movie even if you are away.\n"
                                                    "Do the work intelligently and automatically."),
                                     mode));
        chkFastCapture = new QCheckBox(QStringLiteral("Fast capture (render offline, no frame loss)"), mode);
        chkFastCapture->setObjectName(QStringLiteral("chkFastCapture"));
        auto* fastRow = new QHBoxLayout;
        fastRow->addSpacing(kDescriptionIndent);
        fastRow->addWidget(chkFastCapture);
        modes->addLayout(fastRow);
        page->addWidget(mode);

        auto* temp = new QGroupBox(QStringLiteral("Temporary file path"), tsCapture);
        auto* tempRow = new QHBoxLayout(temp);
        btntemppath = new TFolderEdit(temp);
        btntemppath->setObjectName(QStringLiteral("btntemppath"));
        tempRow->addWidget(btntemppath, 1);
        btndefault = new QPushButton(QStringLiteral("Default"), temp);
        btndefault->setObjectName(QStringLiteral("btndefault"));
        tempRow->addWidget(btndefault);
        page->addWidget(temp);
        page->addStretch();
    }

    // ---- Snapshot ----
    tsSnapshot = new QWidget;
    tsSnapshot->setObjectName(QStringLiteral("tsSnapshot"));
    {
        auto* page = new QGridLayout(tsSnapshot);
        page->setContentsMargins(14, 16, 14, 10);
        page->setHorizontalSpacing(8);
        page->setVerticalSpacing(12);
        page->addWidget(new QLabel(QStringLiteral("Image format:"), tsSnapshot), 0, 0);
        CbbFormat = dropDown(QStringLiteral("CbbFormat"),
                             {QStringLiteral("Bitmap File(*.bmp)"), QStringLiteral("JPEG Image File(*.jpg)")},
                             tsSnapshot);
        page->addWidget(CbbFormat, 0, 1, Qt::AlignLeft);
        page->addWidget(new QLabel(QStringLiteral("Save image to:"), tsSnapshot), 1, 0);
        EdtPath = new TFolderEdit(tsSnapshot);
        EdtPath->setObjectName(QStringLiteral("EdtPath"));
        page->addWidget(EdtPath, 1, 1);
        btnBrowse = explorerButton(QStringLiteral("btnBrowse"), tsSnapshot);
        page->addWidget(btnBrowse, 1, 2);
        page->setColumnStretch(1, 1);
        page->setRowStretch(2, 1);
    }

    PageControl->addTab(tsGeneral, QStringLiteral("General"));
    PageControl->addTab(tsCapture, QStringLiteral("Capture"));
    PageControl->addTab(tsSnapshot, QStringLiteral("Snapshot"));

    connect(EdtSavepath, &TFolderEdit::ButtonClick, this, &TOptionfrm::EdtSavepathButtonClick);
    connect(btntemppath, &TFolderEdit::ButtonClick, this, &TOptionfrm::btntemppathButtonClick);
    connect(EdtPath, &TFolderEdit::ButtonClick, this, &TOptionfrm::EdtPathButtonClick);
    connect(RzBmpButton1, &QToolButton::clicked, this, &TOptionfrm::RzBmpButton1Click);
    connect(btnBrowse, &QToolButton::clicked, this, &TOptionfrm::btnBrowseClick);
    connect(btndefault, &QPushButton::clicked, this, &TOptionfrm::btndefaultClick);
    connect(rbAutomatic, &QRadioButton::clicked, this, &TOptionfrm::rbAutomaticClick);
    connect(rbInteractive, &QRadioButton::clicked, this, &TOptionfrm::rbInteractiveClick);
    connect(PageControl, &QTabWidget::currentChanged, this, &TOptionfrm::tsCaptureShow);

    setFixedSize(kWindowWidth, kWindowHeight);
    // The client area's size is known from the frame; the dialog buttons sit 10 pixels above
    // its bottom edge.
    const int clientWidth = kWindowWidth - 2 * kBorderWidth;
    const int clientHeight = kWindowHeight - kTitleHeight - kBottomHeight;
    const int margin = 8, buttonsTop = clientHeight - 10 - 26;
    PageControl->setGeometry(margin, margin, clientWidth - 2 * margin, buttonsTop - 2 * margin);
    LoadSkin();
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void TOptionfrm::showEvent(QShowEvent* event) {
    SkinnedWindow::showEvent(event);
    if (!event->spontaneous()) FormShow();
}

void TOptionfrm::FormShow() {
    EdtPath->setText(SnapshotPath);
    EdtSavepath->setText(OutputPath);
    cbbSameName->setCurrentIndex(OverWrite ? 0 : 1);
    cbbupdate->setCurrentIndex(IsCheckUpdate ? 0 : 1);
    cbbFinish->setCurrentIndex(FinishAction >= 0 && FinishAction < cbbFinish->count() ? FinishAction : 0);
    CbbFormat->setCurrentIndex(0);
    for (int i = 0; i < CbbFormat->count(); ++i)
        if (FormatItemExtension(CbbFormat->itemText(i)) == SnapshotExt) {
            CbbFormat->setCurrentIndex(i);
            break;
        }
    btntemppath->setText(CaptureTempPath);
    const bool automatic = CaptureMode == 2;
    rbAutomatic->setChecked(automatic);
    rbInteractive->setChecked(!automatic);
    chkautostop->setChecked(CaptureMode == 1);
    chkautostop->setEnabled(!automatic);
    chkFastCapture->setChecked(FastCapture);
    chkFastCapture->setEnabled(automatic);
    PageControl->setCurrentIndex(0);
    btnOk->setFocus();
}

void TOptionfrm::tsCaptureShow() { btnOk->setFocus(); }

void TOptionfrm::rbAutomaticClick() {
    chkautostop->setEnabled(!rbAutomatic->isChecked());
    chkFastCapture->setEnabled(rbAutomatic->isChecked());
}

void TOptionfrm::rbInteractiveClick() {
    chkautostop->setEnabled(rbInteractive->isChecked());
    chkFastCapture->setEnabled(!rbInteractive->isChecked());
}

void TOptionfrm::chooseFolder(TFolderEdit* field, const QString& title, const QString& refusal) {
    QString folder = field->text();
    if (BrowseFolder && BrowseFolder(title, folder, refusal, this)) field->setText(folder);
}

void TOptionfrm::EdtPathButtonClick() { chooseFolder(EdtPath, kSnapshotFolderTitle, kSnapshotFolderRefusal); }

void TOptionfrm::btntemppathButtonClick() { chooseFolder(btntemppath, kTempFolderTitle, kTempFolderRefusal); }

void TOptionfrm::EdtSavepathButtonClick() {
    chooseFolder(EdtSavepath, kOutputFolderTitle, kOutputFolderRefusal);
}

void TOptionfrm::btndefaultClick() { btntemppath->setText(SystemTempPath); }

void TOptionfrm::btnBrowseClick() {
    if (OpenFolder) OpenFolder(EdtPath->text());
}

void TOptionfrm::RzBmpButton1Click() {
    if (OpenFolder) OpenFolder(EdtSavepath->text());
}

void TOptionfrm::btnOkClick() {
    OptionChoices choices;
    choices.FinishAction = cbbFinish->currentIndex();
    choices.OverWrite = cbbSameName->currentIndex() == 0;
    choices.IsCheckUpdate = cbbupdate->currentIndex() == 0;
    choices.CaptureMode = CaptureModeOf(rbAutomatic->isChecked(), chkautostop->isChecked());
    choices.FastCapture = chkFastCapture->isChecked();
    choices.CaptureTempPath = btntemppath->text();
    choices.SnapshotPath = EdtPath->text();
    choices.SnapshotExt = FormatItemExtension(CbbFormat->currentText());
    choices.OutputPath = EdtSavepath->text();
    try {
        ApplyOptionChoices(choices);
    } catch (const IoError& e) {
        // The window stays open: the user sees which file failed and may cancel.
        if (AppLog) {
            try {
                AppLog->WriteError(e.text());
            } catch (const IoError&) {
            }
        }
        ShowMessageBox(this, e.text(), QStringLiteral("Error"), QMessageBox::Critical);
        return;
    }
    accept();
}

void TOptionfrm::btnCancelClick() { reject(); }

void TOptionfrm::btnCloseClick() { reject(); }

}  // namespace qm::app
