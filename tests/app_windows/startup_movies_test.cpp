// Movies from the command line and from second starts reach the main window only when it is
// shown and free: never under a modal dialog or while it is hidden for a conversion.
#include "app/core/app_core.h"
#include "app_windows_test_support.h"
#include "app/windows/main_window.h"
#include "app/windows/startup_movies.h"
#include "app/windows/window_hooks.h"
#include "testing/swfwriter/swfwriter.h"

#include <QDeadlineTimer>
#include <QDialog>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

using namespace qm::app;
using qm::app::window_tests::WaitFor;
namespace w = qm::swfwriter;

namespace {

class StartupMoviesTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(home_.isValid());
        window_tests::UseFreshDataFolder(home_);
        SetMessageBoxFunction([this](const MessageBoxRequest&) {
            ++boxes_;
            return QMessageBox::Ok;
        });
    }
    void TearDown() override { SetMessageBoxFunction({}); }

    QString WriteMovie(const QString& name) {
        w::Movie movie({.version = 8, .frame = w::Rect::pixels(64, 48), .frameRate = 12 << 8});
        movie.showFrame();
        const QString path = home_.filePath(name);
        movie.save(path.toStdString());
        return path;
    }

    QTemporaryDir home_;
    int boxes_ = 0;
};

TEST_F(StartupMoviesTest, OpensOnlyWhenTheWindowIsShownAndFree) {
    const QString a = WriteMovie("a.swf"), b = WriteMovie("b.swf"), c = WriteMovie("c.swf"),
                  d = WriteMovie("d.swf");
    StartupMovies movies;
    Tmainfrm window;

    // Named on the command line: waits for the window.
    movies.Open(a);
    QTest::qWait(50);
    EXPECT_TRUE(window.MoviePath.isEmpty());
    window.show();
    movies.SetWindow(&window);
    ASSERT_TRUE(WaitFor([&] { return window.MoviePath == a; }));

    // Handed over while a dialog is up: opens after it closes; the later of two requests wins.
    QDialog dialog;
    dialog.setWindowModality(Qt::ApplicationModal);
    dialog.show();
    movies.Open(b);
    movies.Open(c);
    QTest::qWait(2 * StartupMovies::kRetryMs);
    EXPECT_EQ(window.MoviePath, a);
    dialog.close();
    ASSERT_TRUE(WaitFor([&] { return window.MoviePath == c; }));

    // Hidden for a conversion: waits until the window is back.
    window.hide();
    movies.Open(d);
    QTest::qWait(2 * StartupMovies::kRetryMs);
    EXPECT_EQ(window.MoviePath, c);
    window.show();
    ASSERT_TRUE(WaitFor([&] { return window.MoviePath == d; }));
    EXPECT_TRUE(movies.pending().isEmpty());
    EXPECT_EQ(boxes_, 0);
}

}  // namespace
