// The parent channel: frame messages (big-endian signed length, then the payload)
// over TCP connections to 127.0.0.1, and the channel tags that open them. The
// client and the message framing live in platform/channelclient.h.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/channelclient.h"  // TTcpClient, WriteMessage, ReadMessage, WriteTag

// Opens a CMSG connection to host:port, writes "CMSG" + text as one frame and closes.
void SendConsoleText(const std::string& host, uint16_t port, std::string_view text);
