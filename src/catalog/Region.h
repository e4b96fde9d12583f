#pragma once

#include "catalog/RegionProvider.h"
#include "catalog/RegionStatus.h"
#include "platform/Json.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace kovra {

// One exit location of the catalogue: a city or country, the automatic choice, or an
// on-demand server that is created when a user asks for it.
struct Region {
    QString id;   // "auto", "nl", "us-aws"; the identity in the picker and the selection
    QString name; // display name
    QString flag; // emoji before the name
    std::optional<QString> useCaseHint{}; // subtitle of the row
    bool isPrimary = false;
    bool isAuto = false;
    // Lower case; substrings by which a tunnel outbound is recognised as this region.
    QStringList matchKeywords{};
    RegionStatus status = RegionStatus::unknown;
    RegionProvider provider{};
    bool isEphemeral = false; // on-demand server that can be woken

    bool operator==(const Region &) const = default;

    // Keys are the field names. "id", "name" and "flag" are required strings; every
    // other key may be missing or null (no hint, false, no keywords, `unknown`,
    // `absent`); a present value of the wrong type fails. An unknown status text is
    // `unknown`; keywords are lower-cased; the provider is read by RegionProvider::parsing.
    static Region decode(const JsonDecodingContainer &c);
    // Every field in order; "useCaseHint" only when present, "provider" left out when absent.
    void encode(JsonEncodingContainer &c) const;

    // The built-in list of eight regions used when neither the service nor the cache
    // has one.
    static QList<Region> fallback();
};

size_t qHash(const Region &region, size_t seed = 0);

} // namespace kovra
