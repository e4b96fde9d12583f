#pragma once

#include <QString>
#include <QUuid>

namespace kovra::ui {

// A report text handed to sharing; each item has an identity of its own.
struct StartupShareItem {
    QUuid id = QUuid::createUuid();
    QString text;

    friend bool operator==(const StartupShareItem &, const StartupShareItem &) = default;
};

} // namespace kovra::ui
