#pragma once

#include "account/AccountRecordStore.h"
#include "account/MeService.h"

#include <memory>
#include <optional>

namespace kovra {

// The user record for the screens. Empty until the first successful refresh (there
// is no cached copy). A 401 empties it and ends the session through the session
// state; any other failure keeps the record and records the error. reset() (at the
// session end) empties it, and a refresh still running then changes nothing.
// Lives on the GUI thread.
class MeStore : public AccountRecordStore {
    Q_OBJECT
    Q_PROPERTY(bool hasLatest READ hasLatest NOTIFY latestChanged)
public:
    // `authState` (optional) is whose session a 401 ends.
    MeStore(std::shared_ptr<MeService> service, AuthState *authState, QObject *parent = nullptr);

    // Notifies only when the record changes.
    const std::optional<MeOut> &latest() const { return m_latest; }
    bool hasLatest() const { return m_latest.has_value(); }

    // Fetches the record. Returns at once, fetching nothing, while a refresh runs.
    // Never throws. `token` aborts the request this call started; the refresh then
    // ends as any failed one does (the CancellationError becomes the error).
    QCoro::Task<void> refresh(CancellationToken token = {});
    // The session-end reset.
    void reset();

Q_SIGNALS:
    void latestChanged();

private:
    void setLatest(std::optional<MeOut> value);

    std::optional<MeOut> m_latest;
    std::shared_ptr<MeService> m_service;
};

} // namespace kovra
