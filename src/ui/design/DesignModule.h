#pragma once

class QQmlEngine;

namespace kovra::ui {

class Appearance;
class Brand;

// Makes the design module (`import Kovra.Design`) available to `engine` and lets its
// Brand singleton follow `appearance` (not owned; it must outlive the engine's
// use of Brand). Call before the engine loads anything. Screens of other modules
// load their files from "qrc:/qt/qml/Kovra/<Module>/<File>.qml".
void prepareEngine(QQmlEngine &engine, Appearance *appearance);

// The Brand singleton of a prepared engine (created on first use).
Brand *brandOf(QQmlEngine &engine);

} // namespace kovra::ui
