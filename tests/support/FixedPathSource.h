#pragma once

#include "platform/NetworkPath.h"

#include <memory>

namespace kovra::test {

// A path source that reports one fixed path as soon as it starts, from the starting thread.
class FixedPathSource final : public NetworkPathSource {
public:
    explicit FixedPathSource(NetworkPath path) : m_path(std::move(path)) {}
    void start(Handler handler) override { handler(m_path); }
    void cancel() override {}

    static NetworkPathSourceFactory factory(NetworkPath path)
    {
        return [path] { return std::make_shared<FixedPathSource>(path); };
    }
    // A satisfied path over one Wi-Fi interface.
    static NetworkPathSourceFactory wifi()
    {
        return factory({NetworkPathStatus::Satisfied, {{3, QStringLiteral("wlan0"), InterfaceKind::Wifi}}});
    }

private:
    NetworkPath m_path;
};

} // namespace kovra::test
