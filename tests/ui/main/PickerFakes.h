#pragma once

// A scripted picker catalogue and catalogue records for the picker's tests.

#include "platform/Async.h"
#include "ui/main/PickerCatalog.h"

#include <QStringList>

#include <optional>

namespace kovra::test {

inline Connection route(const QString &id, ConnectionKind kind, RegionStatus status = RegionStatus::online)
{
    Connection c;
    c.id = id;
    c.label = id;
    c.kind = kind;
    c.status = status;
    return c;
}

inline Region server(const QString &id, RegionStatus status = RegionStatus::stopped, const QString &name = {},
                     bool onDemand = true)
{
    Region r;
    r.id = id;
    r.name = name.isEmpty() ? id : name;
    r.flag = QStringLiteral("🇺🇸");
    r.status = status;
    r.isEphemeral = onDemand;
    return r;
}

// Records what the picker asks ("refresh connections", "select conn:<id>",
// "select region:<id>", "wake <id>"); each call waits for `gate` when one is set, and
// a choice is answered with `accepts`.
class FakePickerCatalog final : public ui::PickerCatalog {
public:
    ui::PickerCatalogState current;
    QStringList calls;
    bool accepts = true;
    // Choices answered so far.
    int answered = 0;
    std::optional<OneShot<void>> gate;

    // Changes the state and tells the picker.
    template<typename Change>
    void change(Change f)
    {
        f(current);
        Q_EMIT changed();
    }

    ui::PickerCatalogState state() const override { return current; }
    QCoro::Task<void> refreshConnections() override { return record(QStringLiteral("refresh connections")); }
    QCoro::Task<void> refreshRegions() override { return record(QStringLiteral("refresh regions")); }
    QCoro::Task<void> refreshEntries() override { return record(QStringLiteral("refresh entries")); }
    QCoro::Task<bool> selectConnection(Connection c) override { return answer(QStringLiteral("select conn:") + c.id); }
    QCoro::Task<bool> selectRegion(Region r) override { return answer(QStringLiteral("select region:") + r.id); }
    QCoro::Task<void> wake(Region r) override { return record(QStringLiteral("wake ") + r.id); }

private:
    static QCoro::Task<void> wait(std::optional<OneShot<void>> gate)
    {
        if (gate)
            co_await gate->wait();
    }
    QCoro::Task<void> record(QString call)
    {
        calls << call;
        return wait(gate);
    }
    QCoro::Task<bool> answer(QString call)
    {
        calls << call;
        const std::optional<OneShot<void>> held = gate;
        const bool accepted = accepts;
        co_await wait(held);
        ++answered;
        co_return accepted;
    }
};

} // namespace kovra::test
