#pragma once

#include "ui/design/Appearance.h"
#include "ui/design/DesignModule.h"
#include "ui/design/PreviewHost.h"

#include <QQmlEngine>
#include <QTest>

namespace kovra::bench {

// The engine of a sheet benchmark, prepared for the design module, and the 800 by 700
// window the sheets open over.
struct OpenerWindow {
    QQmlEngine engine;
    ui::Appearance appearance;
    ui::PreviewHost opener{prepared()};

    // Shows the opener and waits until it is exposed; false when it cannot be.
    bool show()
    {
        if (!opener.loadSource("import QtQuick\nRectangle { width: 800; height: 700 }").isEmpty())
            return false;
        opener.window()->show();
        return QTest::qWaitForWindowExposed(opener.window());
    }
    QQuickWindow *window() const { return opener.window(); }

private:
    QQmlEngine &prepared()
    {
        ui::prepareEngine(engine, &appearance);
        return engine;
    }
};

} // namespace kovra::bench
