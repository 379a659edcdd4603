// The JavaScript bridge: the extension "v8/PV7APIv1" that gives every page
// PV7APIv1.CallPV7XML(requestXML), answered by the parent application over the
// render process's own INTF connection to the draw port.
#pragma once

#include <memory>
#include <string>

#include "cefapi/cef_capi.h"
#include "engine/cefbase.h"
#include "platform/channelclient.h"

// The read time-out of one exchange on the INTF channel.
inline constexpr int kIntfReadTimeoutMs = 5000;

// The extension's source: 13 lines, each ended by CR LF (214 characters).
std::u16string PV7APIv1ExtensionSource();
// "PV7APIv1.CallPV7XML: no callback in process %d (port: %d)".
std::string NoCallbackText(int processId, int port);

// The native-function handler, one per render process.
class TPV7APIv1CEFExtension : public TCefBaseOwn {
 public:
  TPV7APIv1CEFExtension();
  ~TPV7APIv1CEFExtension() override;

  // Registers the extension with its handler (cef_register_extension).
  static bool RegisterExtension();

  // Only "CallPV7XML" is handled: the first argument (a string, else an empty
  // request) goes to the parent, the reply becomes the result string.
  virtual bool Execute(const std::u16string& name, cef_v8value_t* object, size_t argumentsCount,
                       cef_v8value_t* const* arguments, cef_v8value_t*& retval,
                       std::u16string& exception);
  // One request/reply pair on the INTF channel (8-bit ANSI texts), or the
  // "no callback" text when there is no channel or the exchange fails.
  std::string ExchangeWithParent(const std::string& request);
  // Opens the INTF channel (connect, then the tag) when it is not open yet.
  bool EnsureConnected();

 private:
  std::unique_ptr<TTcpClient> FIntfClient;
};
