#pragma once

#include <memory>
#include <string>

#include "link/sio.h"

struct ChannelOpenResult {
    std::unique_ptr<SioChannel> channel;
    int code = 0;  // open-failure code when channel is null
};

// A tty opened exclusively, non-blocking, in raw mode (-1 when it cannot be
// opened or locked, -2 when its state cannot be read).
ChannelOpenResult OpenTtyChannel(const std::string& path);

// A TCP connection to host:port; the connect gives up after a few seconds or
// when the shutdown event is signalled (-1).
ChannelOpenResult OpenTcpChannel(const std::string& hostPort, Event& shutdown);

// True for a character device that answers tty requests.
bool IsSerialDevice(const std::string& path);
