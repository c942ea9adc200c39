#pragma once

#include <memory>
#include <string>

#include "link/port_map.h"
#include "link/sio.h"

struct ChannelOpenResult {
    std::unique_ptr<SioChannel> channel;
    int code = 0;        // open-failure code when channel is null
    std::string detail;  // why, in the system's words, when channel is null
};

// A tty opened exclusively, non-blocking, in raw mode (-1 when it cannot be
// opened or locked, -2 when its state cannot be read).
ChannelOpenResult OpenTtyChannel(const std::string& path);

// A TCP connection to host:port; the connect gives up after a few seconds or
// when the shutdown event is signalled (-1).
ChannelOpenResult OpenTcpChannel(const std::string& hostPort, Event& shutdown);

// The system's text for an errno value, in English whatever the locale.
std::string SystemReason(int error);

// Who may open a device node, for the advice after "Permission denied".
struct DeviceAccess {
    std::string owner;           // user name (or number) owning the node
    std::string group;           // group name (or number) owning the node
    unsigned mode = 0;           // permission bits
    bool groupActive = false;    // this process runs with that group
    bool groupAssigned = false;  // the user is a member in the group database
};
// Reads the owner, group and mode of `path` (symlinks followed) and whether
// the current user has the group; false when the node cannot be examined.
bool ReadDeviceAccess(const std::string& path, DeviceAccess& access);
// "Permission denied" with what the user can do about it.
std::string PermissionDeniedReason(const std::string& path, const DeviceAccess& access);
