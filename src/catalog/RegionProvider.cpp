#include "catalog/RegionProvider.h"

#include <QHashFunctions>

namespace kovra {

RegionProvider RegionProvider::parsing(const std::optional<QString> &text)
{
    if (!text || text->isEmpty())
        return absent();
    const QString lower = text->toLower();
    if (lower == u"gcp" || lower == u"google" || lower == u"gce")
        return gcp();
    if (lower == u"aws" || lower == u"amazon" || lower == u"ec2")
        return aws();
    if (lower == u"hiphosting")
        return hiphosting();
    if (lower == u"ztv")
        return ztv();
    return other(lower);
}

std::optional<QString> RegionProvider::text() const
{
    switch (m_case) {
    case Case::gcp: return QStringLiteral("gcp");
    case Case::aws: return QStringLiteral("aws");
    case Case::hiphosting: return QStringLiteral("hiphosting");
    case Case::ztv: return QStringLiteral("ztv");
    case Case::other: return m_other;
    case Case::absent: break;
    }
    return std::nullopt;
}

size_t qHash(const RegionProvider &provider, size_t seed)
{
    QtPrivate::QHashCombine hash;
    seed = hash(seed, int(provider.kind()));
    if (provider.kind() == RegionProvider::Case::other)
        seed = hash(seed, provider.otherName());
    return seed;
}

} // namespace kovra
