#pragma once

// Scripted catalogue services for the store tests.

#include "catalog/EntriesService.h"
#include "catalog/RegionsService.h"
#include "catalog/SelectionOwners.h"
#include "platform/Async.h"

#include <variant>

namespace kovra::test {

// The answers of one kind of call, in order; the last one repeats. A held answer
// waits until the test resolves its gate.
template<class T>
class Script {
public:
    void answer(T value) { m_steps.append({std::move(value), std::nullopt}); }
    void fail(std::exception_ptr error) { m_steps.append({std::move(error), std::nullopt}); }
    OneShot<void> holdLast()
    {
        OneShot<void> gate;
        m_steps.last().second = gate;
        return gate;
    }
    void reset() { m_steps.clear(); }
    int calls() const { return m_calls; }

    QCoro::Task<T> next()
    {
        Q_ASSERT(!m_steps.isEmpty());
        return play(m_steps.at(std::min<qsizetype>(m_calls++, m_steps.size() - 1)));
    }

private:
    using Step = std::pair<std::variant<T, std::exception_ptr>, std::optional<OneShot<void>>>;
    static QCoro::Task<T> play(Step step)
    {
        if (step.second)
            co_await step.second->wait();
        if (const auto *error = std::get_if<std::exception_ptr>(&step.first))
            std::rethrow_exception(*error);
        co_return std::get<T>(step.first);
    }

    QList<Step> m_steps;
    int m_calls = 0;
};

struct FakeRegions final : RegionsProviding {
    Script<QList<Region>> fetches;
    Script<RegionWakeAck> wakes;
    QStringList wokenIDs;

    QCoro::Task<QList<Region>> fetchRegions() override { return fetches.next(); }
    QCoro::Task<RegionWakeAck> wakeRegion(QString id) override
    {
        wokenIDs << id;
        return wakes.next();
    }
};

struct FakeEntries final : EntriesProviding {
    Script<QList<Entry>> fetches;
    QCoro::Task<QList<Entry>> fetchEntries() override { return fetches.next(); }
};

// Records the stores' calls to their selection owner.
class RecordingOwner : public QObject, public RegionSelectionOwner, public EntrySelectionOwner {
public:
    using Selection = std::tuple<QString, bool, bool, bool>;
    QList<Selection> selections;
    int listsSeen = 0;

    QCoro::Task<bool> selectRegion(Region region, bool automatic, bool closeConnections, bool suppressReconnect) override
    {
        selections << Selection{region.id, automatic, closeConnections, suppressReconnect};
        co_return true;
    }
    void reconcileRegionSelection(const QList<Region> &) override { ++listsSeen; }
    void reconcileEntrySelection(const QList<Entry> &) override { ++listsSeen; }
};

} // namespace kovra::test
