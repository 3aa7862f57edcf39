// The installer's wait window: a small frameless pop-up in the middle of the screen with the
// installer's icon and "Please wait, preparing setup...", shown while the main program runs.
#pragma once

#include <QFrame>

class QLabel;

namespace quorbel::installer {

class WaitWindow : public QFrame {
public:
    WaitWindow();

    // Puts the window in the middle of the screen it is on.
    void Centre();

private:
    QLabel* icon_;
    QLabel* text_;
};

}  // namespace quorbel::installer
