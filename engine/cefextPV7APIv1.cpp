#include "engine/cefextPV7APIv1.h"

#include <cstdio>
#include <cstring>

#include "base/stream.h"
#include "engine/cefintrk.h"
#include "engine/cefload.h"
#include "platform/codepage.h"
#include "platform/process.h"

namespace {

int CEF_CALLBACK ext_execute(cef_v8handler_t* self, const cef_string_t* name, cef_v8value_t* object,
                             size_t argumentsCount, cef_v8value_t* const* arguments,
                             cef_v8value_t** retval, cef_string_t* exception) {
  // Every object argument is a reference of ours to release.
  TCefRef<cef_v8value_t> receiver = TCefRef<cef_v8value_t>::Adopt(object);
  std::vector<TCefRef<cef_v8value_t>> args;
  for (size_t i = 0; arguments && i < argumentsCount; ++i)
    args.push_back(TCefRef<cef_v8value_t>::Adopt(arguments[i]));
  cef_v8value_t* result = nullptr;
  std::u16string error;
  bool handled = false;
  try {
    handled = TCefBaseOwn::Owner<TPV7APIv1CEFExtension>(self)->Execute(
        CefString(name), object, argumentsCount, arguments, result, error);
  } catch (...) {
    // Nothing may unwind into the engine.
    handled = false;
  }
  if (retval)
    *retval = result;
  else if (result)
    result->base.release(&result->base);
  if (exception && !error.empty()) CefStringSet(exception, error);
  return handled ? 1 : 0;
}

}  // namespace

std::u16string PV7APIv1ExtensionSource() {
  static const char* const kLines[] = {
      "var PV7APIv1;",
      "if (!PV7APIv1)",
      "  PV7APIv1 = {};",
      "",
      "(function() {",
      "",
      "  PV7APIv1.CallPV7XML = function(requestXML) {",
      "    native function CallPV7XML(requestXML);",
      "    return CallPV7XML(requestXML);",
      "  };",
      "",
      "})",
      "();",
  };
  std::u16string text;
  for (const char* line : kLines) {
    for (const char* p = line; *p; ++p) text += char16_t(static_cast<unsigned char>(*p));
    text += u"\r\n";
  }
  return text;
}

std::string NoCallbackText(int processId, int port) {
  char buf[128];
  std::snprintf(buf, sizeof buf, "PV7APIv1.CallPV7XML: no callback in process %d (port: %d)",
                processId, port);
  return buf;
}

TPV7APIv1CEFExtension::TPV7APIv1CEFExtension() : TCefBaseOwn(sizeof(cef_v8handler_t)) {
  Data<cef_v8handler_t>()->execute = ext_execute;
}

TPV7APIv1CEFExtension::~TPV7APIv1CEFExtension() = default;

bool TPV7APIv1CEFExtension::RegisterExtension() {
  StartEngine();
  if (!CefLibraryLoaded()) return false;
  const std::u16string name = u"v8/PV7APIv1";
  const std::u16string code = PV7APIv1ExtensionSource();
  const cef_string_t nameView = CefStringView(name);
  const cef_string_t codeView = CefStringView(code);
  TOwnRef<TPV7APIv1CEFExtension> handler = new TPV7APIv1CEFExtension();
  // The engine holds the handler for the rest of the process. A pointer kept here
  // (no reference of its own, never used to destroy it) keeps it reachable for leak
  // checkers when the engine's own copy is not visible to them.
  static TPV7APIv1CEFExtension* volatile registered = nullptr;
  registered = handler.get();
  (void)registered;
  return CefLib().cef_register_extension(&nameView, &codeView,
                                         handler->Share<cef_v8handler_t>()) != 0;
}

bool TPV7APIv1CEFExtension::Execute(const std::u16string& name, cef_v8value_t*,
                                    size_t argumentsCount, cef_v8value_t* const* arguments,
                                    cef_v8value_t*& retval, std::u16string&) {
  if (name != u"CallPV7XML") return false;
  std::string request;
  if (argumentsCount >= 1 && arguments && arguments[0]) {
    cef_v8value_t* first = arguments[0];
    if (first->is_string && first->is_string(first) && first->get_string_value)
      request = platform::WideToAnsi(CefStringClaim(first->get_string_value(first)));
  }
  const std::string reply = ExchangeWithParent(request);
  const std::u16string wide = platform::AnsiToWide(reply);
  const cef_string_t view = CefStringView(wide);
  retval = CefLib().cef_v8value_create_string(&view);
  return true;
}

std::string TPV7APIv1CEFExtension::ExchangeWithParent(const std::string& request) {
  const std::string noCallback = NoCallbackText(platform::GetCurrentProcessId(), GetDrawPort());
  if (!EnsureConnected()) return noCallback;
  try {
    WriteMessage(FIntfClient->Socket(), request.data(), int64_t(request.size()));
    TMemoryStream reply;
    ReadMessage(FIntfClient->Socket(), reply, kIntfReadTimeoutMs);
    const char* bytes = static_cast<const char*>(reply.Memory());
    size_t size = size_t(reply.GetSize());
    if (const void* zero = size ? std::memchr(bytes, 0, size) : nullptr)
      size = size_t(static_cast<const char*>(zero) - bytes);
    return std::string(bytes ? bytes : "", size);
  } catch (...) {
    // The parent closed the channel, a send failed or no reply came in time: the
    // connection is dropped (the next call connects again) and the call answers.
    FIntfClient.reset();
    return noCallback;
  }
}

bool TPV7APIv1CEFExtension::EnsureConnected() {
  if (FIntfClient) return true;
  const int port = GetDrawPort();
  // No draw port (-1): nothing to connect to. Any other value is taken modulo 65536
  // by the client, as the host's own channels take it.
  if (port == -1) return false;
  try {
    auto client = std::make_unique<TTcpClient>();
    client->SetHost(kLoopbackHost);
    client->SetPort(port);
    client->Connect();
    WriteTag(client->Socket(), "INTF");
    FIntfClient = std::move(client);
  } catch (...) {
    FIntfClient.reset();
  }
  return FIntfClient && FIntfClient->HasSocket();
}
