#pragma once

#include <QByteArray>
#include <QStringList>

namespace kovra {

// What "kovra" is asked to do by its arguments (program name first). Decided before
// any GUI object exists, so that no answer but the app itself needs a display.
//   (no argument)   the app (or the running one shows its main window)
//   --vpn on|off    the VPN switch (runToggleCommandLine checks the rest)
//   -h, --help      the usage on stdout
//   --version       the version on stdout
// Qt's own application options (-platform NAME, -session ID, ...) go with the app,
// which hands them to QApplication. Anything else is refused: the usage on stderr.
enum class LaunchAction { RunApp, SwitchVPN, PrintHelp, PrintVersion, Refuse };

LaunchAction launchActionFor(const QStringList &args);

// The usage, first line "usage: kovra [--vpn on|off]", then one line per option.
QByteArray usageText();
// "kovra 1.0.0", with " (build N)" when the build has a number; one line.
QByteArray versionText();

} // namespace kovra
