#pragma once

#include <QObject>

namespace kovra {
namespace vpn {
Q_NAMESPACE

// Status of a tunnel, with the values the provider sends on its socket. Visible to
// QML once the app registers this namespace's meta-object.
enum class Status : int {
    Invalid = 0,
    Disconnected = 1,
    Connecting = 2,
    Connected = 3,
    Reasserting = 4,
    Disconnecting = 5,
};
Q_ENUM_NS(Status)

// The tunnel is up or on its way up: connecting, connected or reasserting.
constexpr bool isUp(Status status)
{
    return status == Status::Connecting || status == Status::Connected || status == Status::Reasserting;
}

} // namespace vpn

using VPNStatus = vpn::Status;

} // namespace kovra
