#pragma once

#include <QString>

namespace kovra::xdg {

// The base folders of the XDG layout; an unset or relative variable gives the
// standard place below the home folder.
QString configHome(); // $XDG_CONFIG_HOME or ~/.config
QString dataHome();   // $XDG_DATA_HOME or ~/.local/share

} // namespace kovra::xdg
