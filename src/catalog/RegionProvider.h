#pragma once

#include <QString>

#include <optional>

namespace kovra {

// The hosting provider of a region, for its badge. `other` keeps the provider's name
// in lower case; `absent` means the catalogue named none.
class RegionProvider {
public:
    enum class Case { gcp, aws, hiphosting, ztv, other, absent };

    RegionProvider() = default; // absent
    static RegionProvider gcp() { return RegionProvider(Case::gcp); }
    static RegionProvider aws() { return RegionProvider(Case::aws); }
    static RegionProvider hiphosting() { return RegionProvider(Case::hiphosting); }
    static RegionProvider ztv() { return RegionProvider(Case::ztv); }
    static RegionProvider other(QString name) { return RegionProvider(Case::other, std::move(name)); }
    static RegionProvider absent() { return RegionProvider(); }

    // None or "" gives absent; otherwise the lower-cased text, compared whole (no
    // trimming): "gcp"/"google"/"gce" give gcp, "aws"/"amazon"/"ec2" aws, "hiphosting",
    // "ztv"; anything else gives other with the lower-cased text.
    static RegionProvider parsing(const std::optional<QString> &text);

    Case kind() const { return m_case; }
    // The name of `other`; empty for every other case.
    const QString &otherName() const { return m_other; }
    // The text the provider is stored as ("gcp", ..., the name of `other`); none for absent.
    std::optional<QString> text() const;

    bool operator==(const RegionProvider &) const = default;

private:
    explicit RegionProvider(Case c, QString other = {}) : m_case(c), m_other(std::move(other)) {}
    Case m_case = Case::absent;
    QString m_other;
};

// The case's position (0 to 5), then for `other` its name.
size_t qHash(const RegionProvider &provider, size_t seed = 0);

} // namespace kovra
