#pragma once

#include "core/AppGroupStore.h"
#include "platform/Error.h"
#include "platform/Json.h"
#include "platform/Log.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace kovra {

// The last good catalogue list of one store (regions, entries, connections), kept as
// a JSON array in the app group so the catalogue is there at once on the next start
// and survives failed refreshes. Records bring their own encode()/decode(); the list
// is stored with the default JSON conventions (keys as the field names, dates as
// seconds since 2001), not the service's snake_case form.
template<class T>
struct CatalogCache {
    // The stored bytes, or none when nothing is stored.
    std::function<std::optional<QByteArray>()> read;
    std::function<void(const QByteArray &)> write;
    // The built-in list used when nothing usable is stored.
    std::function<QList<T>()> fallback;
    // The owning store's logger.
    Logger log;

    // A cache over one key of the app group's defaults.
    static CatalogCache inAppGroup(const AppGroupStore &store, const QString &key,
                                   std::function<QList<T>()> fallback, Logger log)
    {
        const std::shared_ptr<Defaults> defaults = store.defaults();
        return {[defaults, key] { return defaults->data(key); },
                [defaults, key](const QByteArray &bytes) { defaults->set(key, bytes); }, std::move(fallback),
                std::move(log)};
    }

    // The stored list; the fallback when nothing is stored, or what is stored does not
    // decode or is empty. Silent: a missing or stale cache is ordinary.
    QList<T> load() const
    {
        if (const std::optional<QByteArray> bytes = read()) {
            try {
                QList<T> list = JsonDecoder().decode<QList<T>>(*bytes);
                if (!list.isEmpty())
                    return list;
            } catch (...) {
            }
        }
        return fallback();
    }

    // Stores the list. When it cannot be encoded nothing is written, so the previously
    // stored list stays, and an error line is logged.
    void persist(const QList<T> &list) const
    {
        QByteArray bytes;
        try {
            bytes = JsonEncoder().encode(list);
        } catch (...) {
            log.error(QStringLiteral("persist failed: %1").arg(descriptionOf(std::current_exception())));
            return;
        }
        write(bytes);
    }
};

} // namespace kovra
