// The name table, child lists and the node classes.
#include <algorithm>
#include <map>
#include <mutex>

#include "xml/xmlSimple.h"

// ---------------------------------------------------------------------------
// Name table

namespace {
const char* const kPredefinedNames[6] = {"#text", "#cdata-section", "#comment",
                                         "#document", "xml", "encoding"};

// Attribute arrays and child lists grow by 4 below 9, by 16 up to 64, else by a quarter.
size_t GrownCapacity(size_t capacity) {
  if (capacity < 9) return capacity + 4;
  if (capacity <= 64) return capacity + 16;
  return capacity + capacity / 4;
}

template <class V>
void GrowFor(V& v) {
  if (v.size() == v.capacity()) v.reserve(GrownCapacity(v.capacity()));
}
}  // namespace

uint32_t TXmlNameTable::NameHash(std::string_view name) {
  uint32_t h = 0;
  for (unsigned char b : name) h = h + ((h << 6) ^ b);
  return h;
}

TXmlNameTable::TXmlNameTable(int bucketCount) : FBuckets(size_t(std::max(bucketCount, 1))) {
  InternPredefined();
}

// The predefined names are stored once for all tables: every table of the
// process gives them the same ids, which keeps a new document cheap.
namespace {
const std::string kPredefinedStore[6] = {kPredefinedNames[0], kPredefinedNames[1],
                                         kPredefinedNames[2], kPredefinedNames[3],
                                         kPredefinedNames[4], kPredefinedNames[5]};
}  // namespace

void TXmlNameTable::InternPredefined() {
  for (int i = 0; i < 6; ++i) {
    const uint32_t h = NameHash(kPredefinedStore[i]);
    auto& bucket = FBuckets[h % FBuckets.size()];
    GrowFor(bucket);
    bucket.push_back({h, &kPredefinedStore[i]});
    FPredefined[i] = &kPredefinedStore[i];
  }
}

TXmlNameId TXmlNameTable::Find(std::string_view name) const {
  if (name.empty()) return nullptr;
  const uint32_t h = NameHash(name);
  for (const TEntry& e : FBuckets[h % FBuckets.size()])
    if (e.hash == h && *e.name == name) return e.name;
  return nullptr;
}

TXmlNameId TXmlNameTable::Store(std::vector<TEntry>& bucket, uint32_t hash,
                                std::string_view name) {
  FStorage.emplace_back(name);
  GrowFor(bucket);
  bucket.push_back({hash, &FStorage.back()});
  return &FStorage.back();
}

TXmlNameId TXmlNameTable::GetID(std::string_view name) {
  if (name.empty()) return nullptr;
  const uint32_t h = NameHash(name);
  auto& bucket = FBuckets[h % FBuckets.size()];
  for (const TEntry& e : bucket)
    if (e.hash == h && *e.name == name) return e.name;
  return Store(bucket, h, name);
}

TXmlNameId TXmlNameTable::FindByHash(uint32_t hash) const {
  for (const TEntry& e : FBuckets[hash % FBuckets.size()])
    if (e.hash == hash) return e.name;
  return nullptr;
}

void TXmlNameTable::Clear() {
  // Stored texts stay allocated, so ids held by nodes elsewhere never dangle.
  for (auto& bucket : FBuckets) bucket.clear();
  InternPredefined();
}

// ---------------------------------------------------------------------------
// Child lists

TXmlNodeList::~TXmlNodeList() {
  for (IXmlNode& n : FItems)
    if (n->Parent() == FOwner) n->SetParent(nullptr);
}

IXmlNode TXmlNodeList::GetItem(int index) const {
  if (index < 0 || index >= GetCount())
    throw Exception("Failed to get list item: Index " + std::to_string(index) + " out of range");
  return FItems[size_t(index)];
}

void TXmlNodeList::Exchange(int i, int j) {
  if (i < 0 || j < 0 || i >= GetCount() || j >= GetCount()) return;
  std::swap(FItems[size_t(i)], FItems[size_t(j)]);
}

std::string TXmlNodeList::GetXml() const {
  std::string out;
  for (const IXmlNode& n : FItems) out += n->GetXml();
  return out;
}

int TXmlNodeList::IndexOf(const TXmlNode* node) const {
  for (size_t i = 0; i < FItems.size(); ++i)
    if (FItems[i].get() == node) return int(i);
  return -1;
}

IXmlNode TXmlNodeList::Prepare(const IXmlNode& node) const {
  const bool foreignParent = node->Parent() && node->Parent() != FOwner;
  const bool foreignTable = FOwner && FOwner->Names() != node->Names();
  if (!foreignParent && !foreignTable) return node;
  IXmlNode clone = node->CloneNode(true);
  if (FOwner) clone->Reintern(*FOwner->Names());
  return clone;
}

void TXmlNodeList::Grow() { GrowFor(FItems); }

IXmlNode TXmlNodeList::Insert(const IXmlNode& node, int index) {
  if (!node) return nullptr;
  IXmlNode item = Prepare(node);
  item->SetParent(FOwner);
  if (index < 0 || index > GetCount()) index = GetCount();
  Grow();
  FItems.insert(FItems.begin() + index, item);
  return item;
}

void TXmlNodeList::Delete(int index) {
  IXmlNode gone = FItems[size_t(index)];
  FItems.erase(FItems.begin() + index);
  if (gone->Parent() == FOwner) gone->SetParent(nullptr);
}

void TXmlNodeList::Clear() {
  std::vector<IXmlNode> gone;
  gone.swap(FItems);
  for (IXmlNode& n : gone)
    if (n->Parent() == FOwner) n->SetParent(nullptr);
}

void TXmlNodeList::Replace(int index, const IXmlNode& node) {
  IXmlNode item = Prepare(node);
  item->SetParent(FOwner);
  IXmlNode old = FItems[size_t(index)];
  FItems[size_t(index)] = item;
  if (old->Parent() == FOwner) old->SetParent(nullptr);
}

// ---------------------------------------------------------------------------
// Nodes

TXmlNode::TXmlNode(IXmlNameTable names)
    : FNames(names ? std::move(names) : IXmlNameTable(new TXmlNameTable(499))) {}

TXmlNode::~TXmlNode() {
  if (FChildren) {
    FChildren->Clear();
    FChildren->FOwner = nullptr;  // a list still referenced elsewhere outlives its owner
    FChildren->Release();
  }
}

TXmlNodeList* TXmlNode::ChildList() {
  if (!FChildren) {
    FChildren = new TXmlNodeList(this);
    FChildren->AddRef();
  }
  return FChildren;
}

IXmlNodeList TXmlNode::GetChildNodes() { return ChildList(); }

int TXmlNode::GetNodeType() const {
  const auto& t = typeid(*this);
  if (t == typeid(TXmlElement)) return 1;
  if (t == typeid(TXmlText)) return 2;
  if (t == typeid(TXmlCDATASection)) return 3;
  if (t == typeid(TXmlProcessingInstruction)) return 4;
  if (t == typeid(TXmlComment)) return 5;
  if (t == typeid(TXmlDocument)) return 6;
  return 0;
}

std::string TXmlNode::GetText() const { return std::string(); }
void TXmlNode::SetText(std::string_view) {}
TXmlVariant TXmlNode::GetValue() const { return TXmlVariant::Ansi(GetText()); }
void TXmlNode::SetValue(const TXmlVariant& value) { SetText(value.ToText()); }

IXmlDocument TXmlNode::GetOwnerDocument() const {
  for (const TXmlNode* n = this; n; n = n->Parent())
    if (typeid(*n) == typeid(TXmlDocument)) return const_cast<TXmlDocument*>(static_cast<const TXmlDocument*>(n));
  return nullptr;
}

bool TXmlNode::PreservesWhiteSpace() const {
  for (const TXmlNode* n = this; n; n = n->Parent())
    if (typeid(*n) == typeid(TXmlDocument))
      return static_cast<const TXmlDocument*>(n)->GetPreserveWhiteSpace();
  return false;
}

int TXmlNode::Depth() const {
  int d = 0;
  for (const TXmlNode* p = Parent(); p && typeid(*p) != typeid(TXmlDocument); p = p->Parent()) ++d;
  return d;
}

void TXmlNode::AppendChild(const IXmlNode& node) { ChildList()->Insert(node, -1); }

void TXmlNode::InsertBefore(const IXmlNode& node, const IXmlNode& refNode) {
  TXmlNodeList* list = ChildList();
  list->Insert(node, refNode ? list->IndexOf(refNode.get()) : -1);
}

void TXmlNode::ReplaceChild(const IXmlNode& newNode, const IXmlNode& oldNode) {
  if (!newNode || !oldNode || newNode == oldNode || !FChildren) return;
  int i = FChildren->IndexOf(oldNode.get());
  if (i >= 0) FChildren->Replace(i, newNode);
}

int TXmlNode::RemoveChild(const IXmlNode& node) {
  if (!FChildren || !node) return -1;
  int i = FChildren->IndexOf(node.get());
  if (i >= 0) FChildren->Delete(i);
  return i;
}

void TXmlNode::ExchangeChildren(const IXmlNode& node1, const IXmlNode& node2) {
  if (!FChildren) return;
  int i = FChildren->IndexOf(node1.get()), j = FChildren->IndexOf(node2.get());
  if (i >= 0 && j >= 0) FChildren->Exchange(i, j);
}

IXmlElement TXmlNode::AppendElement(TXmlNameId name) {
  IXmlElement e = new TXmlElement(FNames, name);
  ChildList()->Insert(e, -1);
  return e;
}

IXmlElement TXmlNode::AppendElement(std::string_view name) { return AppendElement(FNames->GetID(name)); }

IXmlText TXmlNode::AppendText(std::string_view text) {
  IXmlText t = new TXmlText(FNames, TXmlVariant::Ansi(text));
  ChildList()->Insert(t, -1);
  return t;
}

IXmlCDATASection TXmlNode::AppendCDATA(std::string_view text) {
  IXmlCDATASection c = new TXmlCDATASection(FNames, text);
  ChildList()->Insert(c, -1);
  return c;
}

IXmlComment TXmlNode::AppendComment(std::string_view text) {
  IXmlComment c = new TXmlComment(FNames, text);
  ChildList()->Insert(c, -1);
  return c;
}

IXmlProcessingInstruction TXmlNode::AppendProcessingInstruction(TXmlNameId target,
                                                                std::string_view data) {
  IXmlProcessingInstruction p = new TXmlProcessingInstruction(FNames, target, data);
  ChildList()->Insert(p, -1);
  return p;
}

IXmlProcessingInstruction TXmlNode::AppendProcessingInstruction(std::string_view target,
                                                                std::string_view data) {
  return AppendProcessingInstruction(FNames->GetID(target), data);
}

TXmlNode* TXmlNode::FindChild(TXmlNameId name) const {
  if (!FChildren || !name) return nullptr;
  for (int i = 0; i < FChildren->GetCount(); ++i) {
    TXmlNode* n = FChildren->Item(i);
    if (n->GetNodeNameID() == name) return n;
  }
  return nullptr;
}

std::string TXmlNode::ReadChildText(TXmlNameId name, std::string_view defaultValue) const {
  if (TXmlNode* n = FindChild(name)) return n->GetText();
  return std::string(defaultValue);
}

std::string TXmlNode::ReadChildText(std::string_view name, std::string_view defaultValue) const {
  return ReadChildText(FNames->GetID(name), defaultValue);
}

void TXmlNode::WriteChildText(TXmlNameId name, std::string_view text) {
  TXmlNode* n = FindChild(name);
  if (n) n->SetText(text);
  else AppendElement(name)->SetText(text);
}

void TXmlNode::WriteChildText(std::string_view name, std::string_view text) {
  WriteChildText(FNames->GetID(name), text);
}

IXmlNode TXmlNode::RequireChild(TXmlNameId name) const {
  if (TXmlNode* n = FindChild(name)) return n;
  throw Exception("Error: Child node \"" + TXmlNameTable::GetName(name) + "\" not found");
}

IXmlNode TXmlNode::RequireChild(std::string_view name) const {
  if (TXmlNode* n = FindChild(FNames->GetID(name))) return n;
  throw Exception("Error: Child node \"" + std::string(name) + "\" not found");
}

IXmlNode TXmlNode::FindOrAppendChild(TXmlNameId name) {
  if (TXmlNode* n = FindChild(name)) return n;
  return AppendElement(name);
}

IXmlNode TXmlNode::FindOrAppendChild(std::string_view name) {
  return FindOrAppendChild(FNames->GetID(name));
}

void TXmlNode::RemoveAllChildren() {
  if (FChildren) FChildren->Clear();
}

const TXmlAttrData* TXmlNode::FindAttr(TXmlNameId name) const {
  if (!name) return nullptr;
  for (const TXmlAttrData& a : FAttrs)
    if (a.name == name) return &a;
  return nullptr;
}

TXmlAttrData* TXmlNode::FindAttr(TXmlNameId name) {
  return const_cast<TXmlAttrData*>(static_cast<const TXmlNode*>(this)->FindAttr(name));
}

void TXmlNode::AddAttrUnchecked(TXmlNameId name, TXmlVariant value) {
  GrowFor(FAttrs);
  FAttrs.push_back({name, std::move(value)});
}

void TXmlNode::RemoveAttr(TXmlNameId name) {
  if (!name) return;
  for (size_t i = 0; i < FAttrs.size(); ++i)
    if (FAttrs[i].name == name) {
      FAttrs.erase(FAttrs.begin() + long(i));
      return;
    }
}

void TXmlNode::RemoveAttr(std::string_view name) { RemoveAttr(FNames->GetID(name)); }

int TXmlNode::GetAttrType(TXmlNameId name) const {
  const TXmlAttrData* a = FindAttr(name);
  return a ? int(a->value.Type()) : int(varString);
}

TXmlVariant TXmlNode::ReadVariantAttr(TXmlNameId name, const TXmlVariant& defaultValue) const {
  const TXmlAttrData* a = FindAttr(name);
  return a ? a->value : defaultValue;
}

TXmlVariant TXmlNode::ReadVariantAttr(std::string_view name, const TXmlVariant& defaultValue) const {
  return ReadVariantAttr(FNames->GetID(name), defaultValue);
}

void TXmlNode::WriteVariantAttr(TXmlNameId name, const TXmlVariant& value) {
  if (!name) return;
  if (TXmlAttrData* a = FindAttr(name)) a->value = value;
  else AddAttrUnchecked(name, value);
}

void TXmlNode::WriteVariantAttr(std::string_view name, const TXmlVariant& value) {
  WriteVariantAttr(FNames->GetID(name), value);
}

std::string TXmlNode::RequireAttr(TXmlNameId name) const {
  if (const TXmlAttrData* a = FindAttr(name)) return a->value.ToText();
  throw Exception("Attribute \"" + TXmlNameTable::GetName(name) + "\" not assigned");
}

std::string TXmlNode::RequireAttr(std::string_view name) const {
  if (const TXmlAttrData* a = FindAttr(FNames->GetID(name))) return a->value.ToText();
  throw Exception("Attribute \"" + std::string(name) + "\" not assigned");
}

std::string TXmlNode::ReadStringAttr(TXmlNameId name, std::string_view defaultValue) const {
  if (const TXmlAttrData* a = FindAttr(name)) return a->value.ToText();
  return std::string(defaultValue);
}

std::string TXmlNode::ReadStringAttr(std::string_view name, std::string_view defaultValue) const {
  return ReadStringAttr(FNames->GetID(name), defaultValue);
}

void TXmlNode::WriteStringAttr(TXmlNameId name, std::string_view text) {
  WriteVariantAttr(name, TXmlVariant::Ansi(text));
}

void TXmlNode::WriteStringAttr(std::string_view name, std::string_view text) {
  WriteVariantAttr(FNames->GetID(name), TXmlVariant::Ansi(text));
}

int32_t TXmlNode::ReadIntegerAttr(TXmlNameId name, int32_t defaultValue) const {
  if (const TXmlAttrData* a = FindAttr(name)) return a->value.ToInteger();
  return defaultValue;
}

int32_t TXmlNode::ReadIntegerAttr(std::string_view name, int32_t defaultValue) const {
  return ReadIntegerAttr(FNames->GetID(name), defaultValue);
}

void TXmlNode::WriteIntegerAttr(TXmlNameId name, int32_t value) {
  WriteVariantAttr(name, TXmlVariant::Integer(value));
}

void TXmlNode::WriteIntegerAttr(std::string_view name, int32_t value) {
  WriteVariantAttr(FNames->GetID(name), TXmlVariant::Integer(value));
}

void TXmlNode::Reintern(TXmlNameTable& names) {
  SetNodeNameID(names.GetID(GetNodeName()));
  for (TXmlAttrData& a : FAttrs) a.name = names.GetID(TXmlNameTable::GetName(a.name));
  FNames = &names;
  if (FChildren)
    for (int i = 0; i < FChildren->GetCount(); ++i) FChildren->Item(i)->Reintern(names);
}

void TXmlNode::CloneChildrenInto(TXmlNode& target) const {
  if (!FChildren) return;
  for (int i = 0; i < FChildren->GetCount(); ++i)
    target.ChildList()->Insert(FChildren->Item(i)->CloneNode(true), -1);
}

std::string TXmlNode::ChildrenText() const {
  std::string out;
  if (!FChildren) return out;
  for (int i = 0; i < FChildren->GetCount(); ++i) {
    const TXmlNode* n = FChildren->Item(i);
    const auto& t = typeid(*n);
    if (t != typeid(TXmlText) && t != typeid(TXmlCDATASection)) continue;
    std::string piece = n->GetText();
    if (piece.empty()) continue;
    if (!out.empty()) out += ' ';
    out += piece;
  }
  return out;
}

// ---------------------------------------------------------------------------
// The node kinds

namespace {
std::string Trimmed(std::string s) {
  size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= 32) ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= 32) --e;
  return s.substr(b, e - b);
}
}  // namespace

IXmlNode TXmlElement::CloneNode(bool deep) const {
  IXmlElement e = new TXmlElement(FNames, FName);
  e->FValue = FValue;
  CopyAttrsTo(*e);
  if (deep) CloneChildrenInto(*e);
  return e;
}

std::string TXmlElement::GetText() const {
  if (HasChildNodes()) return ChildrenText();
  return FValue.IsEmpty() ? std::string() : FormatValue(FValue);
}

void TXmlElement::SetText(std::string_view text) {
  RemoveAllChildren();
  FValue = TXmlVariant::Ansi(text);
}

int TXmlElement::GetDataType() const {
  if (!HasChildNodes() && !FValue.IsEmpty()) return FValue.Type();
  return varString;
}

TXmlVariant TXmlElement::GetValue() const {
  if (HasChildNodes()) return TXmlVariant::Ansi(GetText());
  return FValue;
}

void TXmlElement::SetValue(const TXmlVariant& value) {
  RemoveAllChildren();
  FValue = value;
}

IXmlNode TXmlText::CloneNode(bool) const { return IXmlText(new TXmlText(FNames, FValue)); }

std::string TXmlText::GetText() const {
  std::string s = FormatValue(FValue);
  return PreservesWhiteSpace() ? s : Trimmed(std::move(s));
}

std::string TXmlCharacterData::GetText() const {
  return PreservesWhiteSpace() ? FData : Trimmed(FData);
}

IXmlNode TXmlCDATASection::CloneNode(bool) const {
  return IXmlCDATASection(new TXmlCDATASection(FNames, FData));
}

IXmlNode TXmlComment::CloneNode(bool) const { return IXmlComment(new TXmlComment(FNames, FData)); }

IXmlNode TXmlProcessingInstruction::CloneNode(bool) const {
  return IXmlProcessingInstruction(new TXmlProcessingInstruction(FNames, FTarget, FData));
}

// ---------------------------------------------------------------------------
// Document

TXmlDocument::TXmlDocument() : TXmlNode(IXmlNameTable(new TXmlNameTable(499))) {}

IXmlNode TXmlDocument::CloneNode(bool deep) const {
  IXmlDocument d = new TXmlDocument(FNames);
  if (deep) CloneChildrenInto(*d);
  return d;
}

void TXmlDocument::SetText(std::string_view text) {
  RemoveAllChildren();
  ChildList()->Insert(IXmlText(new TXmlText(FNames, TXmlVariant::Ansi(text))), 0);
}

IXmlElement TXmlDocument::DocumentElement() const {
  TXmlNodeList* list = ChildrenOrNull();
  if (!list) return nullptr;
  for (int i = 0; i < list->GetCount(); ++i) {
    TXmlNode* n = list->Item(i);
    if (typeid(*n) == typeid(TXmlElement)) return static_cast<TXmlElement*>(n);
  }
  return nullptr;
}

IXmlElement TXmlDocument::NewDocument(std::string_view version, std::string_view encoding,
                                      TXmlNameId rootName) {
  RemoveAllChildren();
  IXmlProcessingInstruction decl = CreateProcessingInstruction(FNames->XmlName(), "");
  decl->WriteStringAttr("version", version.empty() ? "1.0" : version);
  decl->WriteStringAttr(FNames->EncodingName(), encoding.empty() ? "UTF-8" : encoding);
  ChildList()->Insert(decl, 0);
  IXmlElement root = CreateElement(rootName);
  ChildList()->Insert(root, 1);
  return root;
}

IXmlElement TXmlDocument::NewDocument(std::string_view version, std::string_view encoding,
                                      std::string_view rootName) {
  return NewDocument(version, encoding, FNames->GetID(rootName));
}

IXmlElement TXmlDocument::CreateElement(TXmlNameId name) { return new TXmlElement(FNames, name); }
IXmlElement TXmlDocument::CreateElement(std::string_view name) {
  return CreateElement(FNames->GetID(name));
}
IXmlText TXmlDocument::CreateText(std::string_view text) {
  return new TXmlText(FNames, TXmlVariant::Ansi(text));
}
IXmlCDATASection TXmlDocument::CreateCDATASection(std::string_view text) {
  return new TXmlCDATASection(FNames, text);
}
IXmlComment TXmlDocument::CreateComment(std::string_view text) {
  return new TXmlComment(FNames, text);
}
IXmlProcessingInstruction TXmlDocument::CreateProcessingInstruction(TXmlNameId target,
                                                                    std::string_view data) {
  return new TXmlProcessingInstruction(FNames, target, data);
}
IXmlProcessingInstruction TXmlDocument::CreateProcessingInstruction(std::string_view target,
                                                                    std::string_view data) {
  return CreateProcessingInstruction(FNames->GetID(target), data);
}

void TXmlDocument::ClearForLoad() {
  RemoveAllChildren();
  RemoveAllAttrs();
}

void TXmlDocument::LoadFromFile(const std::string& fileName) {
  TFileStream file(fileName, TFileMode::fmOpenRead);
  LoadFromStream(file);
}

void TXmlDocument::SaveToFile(const std::string& fileName) const {
  TFileStream file(fileName, TFileMode::fmCreate);
  SaveToStream(file);
}

void TXmlDocument::SaveBinaryToFile(const std::string& fileName, int options) {
  TFileStream file(fileName, TFileMode::fmCreate);
  SaveBinaryToStream(file, options);
}

namespace {
std::mutex gResourceLock;  // guards Resources()
std::map<std::pair<std::string, std::string>, std::string>& Resources() {
  static std::map<std::pair<std::string, std::string>, std::string> table;
  return table;
}
}  // namespace

void RegisterXmlResource(std::string_view type, std::string_view name, std::string bytes) {
  std::lock_guard<std::mutex> guard(gResourceLock);
  Resources()[{std::string(type), std::string(name)}] = std::move(bytes);
}

void TXmlDocument::LoadFromResource(std::string_view type, std::string_view name) {
  std::string bytes;
  {
    std::lock_guard<std::mutex> guard(gResourceLock);
    auto it = Resources().find({std::string(type), std::string(name)});
    if (it == Resources().end() || it->second.empty()) return;
    bytes = it->second;
  }
  LoadFromString(bytes);
}

IXmlDocument LoadXmlDocumentFromString(std::string_view text) {
  IXmlDocument doc = new TXmlDocument();
  doc->LoadFromString(text);
  return doc;
}

IXmlDocument LoadXmlDocumentFromStream(TStream& stream) {
  IXmlDocument doc = new TXmlDocument();
  doc->LoadFromStream(stream);
  return doc;
}
