// Loads arbitrary bytes behind the binary signature as a document. Whatever loads
// (wholly or up to a failure) is written in binary form and read back twice; the
// second and third forms must agree byte for byte.
// The document is also saved as text.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "xml/xmlSimple.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string bytes(kBinaryXmlSignature);
  bytes.append(reinterpret_cast<const char*>(data), size);
  IXmlDocument doc = new TXmlDocument();
  try {
    TStringStream in(bytes);
    doc->LoadFromStream(in);
  } catch (const Exception&) {
    // The nodes read before the failure stay; they are saved below.
  }
  try {
    // The text form of whatever loaded: unresolved names must not break it.
    TMemoryStream text;
    doc->SaveToStream(text);
    (void)doc->GetXml();
  } catch (const Exception&) {
    // For instance a declaration naming an unknown encoding.
  }
  try {
    const std::string first = doc->GetBinaryXml();
    IXmlDocument second = new TXmlDocument();
    second->LoadBinaryXml(first);
    const std::string secondForm = second->GetBinaryXml();
    IXmlDocument third = new TXmlDocument();
    TStringStream in(secondForm);
    third->LoadFromStream(in);
    if (third->GetBinaryXml() != secondForm) std::abort();
  } catch (const Exception&) {
    // A value the binary form cannot hold is reported, not written.
  }
  return 0;
}
