#pragma once

#include "platform/Defaults.h"

#include <QVariantMap>

#include <memory>

namespace kovra::test {

// Every key of the defaults with its stored value, for whole-content comparisons.
inline QVariantMap contents(const Defaults &defaults)
{
    QVariantMap out;
    for (const QString &key : defaults.keys())
        out.insert(key, defaults.object(key));
    return out;
}

// In-memory defaults holding `values` (stored with their stored types).
inline std::shared_ptr<Defaults> inMemory(const QVariantMap &values = {})
{
    auto defaults = Defaults::inMemory();
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        defaults->setObject(it.key(), it.value());
    return defaults;
}

} // namespace kovra::test
