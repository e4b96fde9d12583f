#pragma once

#include "platform/NetworkPath.h"

#include <memory>

namespace kovra::test {

// Path sources that report one fixed path as soon as they start.
class FixedPathSource final : public NetworkPathSource {
public:
    explicit FixedPathSource(NetworkPath path) : m_path(std::move(path)) {}
    void start(Handler handler) override { handler(m_path); }
    void cancel() override {}

    // A satisfied path over one Wi-Fi interface.
    static NetworkPathSourceFactory wifi()
    {
        return [] { return std::make_shared<FixedPathSource>(NetworkPath{NetworkPathStatus::Satisfied, {{3, "wlan0", InterfaceKind::Wifi}}}); };
    }

private:
    NetworkPath m_path;
};

} // namespace kovra::test
