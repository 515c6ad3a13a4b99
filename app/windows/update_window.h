// The update check: the update window of the help menu's manual check, and the automatic
// check that the main window runs once after start-up.
#pragma once

#include "app/windows/update_download.h"
#include "controls/skinned_window.h"

#include <QPointer>

#include <functional>

class QLabel;
class QPlainTextEdit;
class QProgressBar;

namespace qm::app {

class TUpdatefrm : public controls::SkinnedWindow {
    Q_OBJECT
public:
    explicit TUpdatefrm(QWidget* parent = nullptr);
    ~TUpdatefrm() override;

    // Set by the automatic check, which fills the window with ShowNews before showing it:
    // then showing starts no download.
    bool AlreadyInformed = false;

    // Fills and reveals the result part of the window.
    void ShowNews(const QString& version, const QString& installerAddress, const QString& notes);
    // The address behind "Download Here".
    QString URL() const { return url_; }
    // The download this window started, while it runs.
    TDownloadThread* Worker() const { return worker_.data(); }

    QLabel* lblUpdateinfo;
    QProgressBar* progress;
    QPlainTextEdit* mmonew;
    QLabel* lbNewinfo;
    QLabel* lbVersion;
    QLabel* lblURL;
    controls::SkinButton* btnCancel;

    static inline const QString kDownloading = QStringLiteral("Downloading updated information,please wait...");
    static inline const QString kFailed = QStringLiteral("Failed to download updated information.");
    static inline const QString kLatest = QStringLiteral("Your software is already the latest version.");

public slots:
    void FormShow();
    void btnCancelClick();
    void btnCloseClick();
    void lblURLClick();
    void WMDownloadBegin();
    void WMDownloadProgress(qint64 received, qint64 expected);
    void WMDownloadFileDone(const QString& localFile);
    void WMDownloadDone(bool succeeded);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void endWorker();

    TDownloadReceiver* receiver_;
    QPointer<TDownloadThread> worker_;
    QString url_;
};

// The main window's automatic check: a child of the main window, started by its one-shot
// timer after start-up. When the server offers a newer version, the update window shows the
// notes modally.
class TUpdateCheck : public QObject {
    Q_OBJECT
public:
    explicit TUpdateCheck(QWidget* mainWindow);
    ~TUpdateCheck() override;

    // Does nothing when IsCheckUpdate is false or a check is still running.
    void StartUpdateCheck();
    // The main window is closing: the worker ends after its file, and reports nothing more.
    void Terminate();
    bool Running() const;

    // Shows the filled update window modally; tests replace it.
    static std::function<void(TUpdatefrm& window)> ShowUpdateWindow;

signals:
    // The check has ended, whatever it found (for whoever waits on it).
    void Finished();

private slots:
    void downloadDone(bool succeeded);

private:
    QWidget* mainWindow_;
    TDownloadReceiver* receiver_;
    QPointer<TDownloadThread> worker_;
};

// The help menu's "Check For Update": the update window, modal, checking at once.
void CheckForUpdate(QWidget* parent);
// How CheckForUpdate shows the window; tests replace it.
extern std::function<void(TUpdatefrm& window)> ShowManualUpdateWindow;

}  // namespace qm::app
