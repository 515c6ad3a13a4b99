// The shutdown window: after a conversion whose after-conversion action is "Shutdown" it counts
// down thirty seconds and then asks the system to power off, unless the user cancels.
#pragma once

#include <functional>

#include "controls/skinned_window.h"

class QLabel;
class QTimer;

namespace qm::conversion {

class TShutDownFrm : public controls::SkinnedWindow {
    Q_OBJECT
public:
    static constexpr int kCountdownSeconds = 30;

    explicit TShutDownFrm(QWidget* parent = nullptr);

    // The power-off request: logind's PowerOff over the system bus by default. Tests set their
    // own so that nothing ever powers the machine off; empty restores the default.
    static void SetPowerOffRequest(std::function<void()> powerOff);
    // Asks the system to power off (through the request above).
    static void ShutDown();

    int Counter() const { return counter_; }
    QLabel* ShowLabel() const { return lblShow; }
    QTimer* Timer() const { return tmr1; }

    void FormShow();
    void tmr1Timer();
    void btnOKClick();

protected:
    void showEvent(QShowEvent* event) override;
    void done(int result) override;

private:
    QLabel* lblShow = nullptr;
    QTimer* tmr1 = nullptr;
    int counter_ = 0;
};

}  // namespace qm::conversion
