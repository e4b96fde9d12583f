#pragma once

#include <QObject>

class QQmlEngine;

namespace kovra::ui {

// How the desktop wants the app drawn: light or dark, and whether to drop
// animations. A plain observable value: DesktopAppearance feeds it from the
// desktop, tests and the design gallery set it directly. The Brand singleton of an
// engine reads the Appearance installed on that engine.
class Appearance : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool dark READ isDark WRITE setDark NOTIFY darkChanged)
    Q_PROPERTY(bool reduceMotion READ reduceMotion WRITE setReduceMotion NOTIFY reduceMotionChanged)
public:
    explicit Appearance(QObject *parent = nullptr);

    bool isDark() const { return m_dark; }
    void setDark(bool dark);
    bool reduceMotion() const { return m_reduceMotion; }
    void setReduceMotion(bool reduce);

    // Makes `appearance` the one the Brand singleton of `engine` follows. Call it
    // before the engine loads anything that uses Brand; the engine does not take
    // ownership.
    static void install(QQmlEngine &engine, Appearance *appearance);
    static Appearance *installed(const QQmlEngine &engine);

Q_SIGNALS:
    void darkChanged();
    void reduceMotionChanged();

private:
    bool m_dark = false;
    bool m_reduceMotion = false;
};

} // namespace kovra::ui
