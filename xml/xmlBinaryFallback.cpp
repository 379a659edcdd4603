// The binary form's entry points. Its reader and writer are not part of this
// build yet: every binary operation raises a clear error.
#include "xml/xmlSimple.h"

namespace {
[[noreturn]] void NotSupported() { throw Exception("Binary XML is not supported yet"); }
}  // namespace

void TXmlDocument::LoadBinaryFromStream(TStream&) {
  ClearForLoad();
  NotSupported();
}

void TXmlDocument::LoadBinaryXml(std::string_view bytes) {
  TStringStream stream(bytes);
  LoadFromStream(stream);
}

void TXmlDocument::SaveBinaryToStream(TStream&, int) { NotSupported(); }

std::string TXmlDocument::GetBinaryXml() { NotSupported(); }
