#pragma once

#include <QString>

#include <sys/types.h>

namespace kovra::test {

// An X display of the test's own, with a window manager that reparents windows into
// frames but does not composite them (openbox): what many X11 desktops are. There a
// window shows only what the app drew after the server mapped it; a grab of the
// screen, not of the window, tells what the user sees. Made before the application
// object (it points DISPLAY at the new server); stops the server and the window
// manager when it goes.
//
//     int main(int argc, char **argv)
//     {
//         kovra::test::PrivateDisplay display;
//         QApplication app(argc, argv);
//         ...  // a test function: if (!display.isUp()) QSKIP(qPrintable(display.problem()));
//     }
class PrivateDisplay {
public:
    PrivateDisplay();
    ~PrivateDisplay();
    PrivateDisplay(const PrivateDisplay &) = delete;
    PrivateDisplay &operator=(const PrivateDisplay &) = delete;

    bool isUp() const { return m_problem.isEmpty(); }
    // Why there is no such display (a program missing, a start that failed).
    QString problem() const { return m_problem; }

private:
    void start();
    void stop();

    QString m_problem;
    pid_t m_server = -1;
    pid_t m_windowManager = -1;
};

} // namespace kovra::test
