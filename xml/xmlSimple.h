// xmlSimple: a small reference-counted XML object model with interned names and
// typed values, its text parser and serializer, and its binary form.
//
// All texts are 8-bit strings in the process ANSI code page. Names of elements,
// attributes and processing-instruction targets are interned in a name table
// shared by every node of a document, so a name comparison is a pointer
// comparison. Values are typed variants that become text only when saved.
//
// References: every object is reference counted (atomic counts); the I-types
// below (IXmlNode, IXmlElement, ...) are counted references to the classes.
//
// Where things are defined: the model, the text parser and the serializer in
// xmlNodes.cpp, xmlVariant.cpp, xmlParser.cpp and xmlSaver.cpp. The binary form
// (LoadBinaryFromStream, LoadBinaryXml, GetBinaryXml, SaveBinaryToStream,
// SaveBinaryToFile's writer, ReplaceTextByBinary, ReadBinaryText) and the path and
// typed accessors (SelectElements, SelectElement, GetFullPath, FindChildByAttr,
// ReadBytesAttr, Read/Write Boolean, DateTime, Float and Hex attributes,
// ReadEnumAttr, RequireEnumAttr, GetValueByPath, SetValueByPath,
// ReplaceTextByCDATA, ParseFloatText, ParseDateTimeText) live in xmlBinary.cpp and
// xmlAccessors.cpp; they are plain (non-virtual) members and free functions, so a
// program that does not call them links without those sources.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/base64.h"
#include "base/exception.h"
#include "base/stream.h"

// ---------------------------------------------------------------------------
// Counted references

class TXmlBase {
 public:
  TXmlBase() = default;
  TXmlBase(const TXmlBase&) = delete;
  TXmlBase& operator=(const TXmlBase&) = delete;
  virtual ~TXmlBase() = default;

  void AddRef() const { FRefCount.fetch_add(1, std::memory_order_relaxed); }
  void Release() const {
    if (FRefCount.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
  }
  int RefCount() const { return FRefCount.load(std::memory_order_relaxed); }
  // The implementing object.
  TXmlBase* GetObject() { return this; }

 private:
  mutable std::atomic<int> FRefCount{0};
};

template <class T>
class TXmlRef {
 public:
  TXmlRef() = default;
  TXmlRef(std::nullptr_t) {}  // NOLINT
  TXmlRef(T* p) : FPtr(p) {   // NOLINT: a raw object becomes counted
    if (FPtr) FPtr->AddRef();
  }
  TXmlRef(const TXmlRef& o) : TXmlRef(o.FPtr) {}
  TXmlRef(TXmlRef&& o) noexcept : FPtr(std::exchange(o.FPtr, nullptr)) {}
  template <class U>
  TXmlRef(const TXmlRef<U>& o) : TXmlRef(static_cast<T*>(o.get())) {}  // NOLINT: upcast
  TXmlRef& operator=(TXmlRef o) noexcept {
    std::swap(FPtr, o.FPtr);
    return *this;
  }
  ~TXmlRef() {
    if (FPtr) FPtr->Release();
  }
  T* get() const { return FPtr; }
  T* operator->() const { return FPtr; }
  T& operator*() const { return *FPtr; }
  explicit operator bool() const { return FPtr != nullptr; }
  bool operator==(const TXmlRef& o) const { return FPtr == o.FPtr; }
  bool operator==(std::nullptr_t) const { return FPtr == nullptr; }

 private:
  T* FPtr = nullptr;
};

class TXmlNameTable;
class TXmlNodeList;
class TXmlNode;
class TXmlElement;
class TXmlText;
class TXmlCDATASection;
class TXmlComment;
class TXmlProcessingInstruction;
class TXmlDocument;

using IXmlNameTable = TXmlRef<TXmlNameTable>;
using IXmlNodeList = TXmlRef<TXmlNodeList>;
using IXmlNode = TXmlRef<TXmlNode>;
using IXmlElement = TXmlRef<TXmlElement>;
using IXmlText = TXmlRef<TXmlText>;
using IXmlCDATASection = TXmlRef<TXmlCDATASection>;
using IXmlComment = TXmlRef<TXmlComment>;
using IXmlProcessingInstruction = TXmlRef<TXmlProcessingInstruction>;
using IXmlDocument = TXmlRef<TXmlDocument>;

// A name id: the table's one stored copy of the name; nullptr is the null id.
using TXmlNameId = const std::string*;

// ---------------------------------------------------------------------------
// Variant values (OLE VARTYPE codes, plus 256 for 8-bit strings and 8209 for
// byte arrays)

enum : uint16_t {
  varEmpty = 0, varNull = 1, varSmallint = 2, varInteger = 3, varSingle = 4, varDouble = 5,
  varCurrency = 6, varDate = 7, varOleStr = 8, varBoolean = 11, varShortInt = 16, varByte = 17,
  varWord = 18, varLongWord = 19, varInt64 = 20, varString = 256, varByteArray = 8209
};

class TXmlVariant {
 public:
  TXmlVariant() = default;
  static TXmlVariant Null();
  static TXmlVariant Int(uint16_t type, int64_t v);  // 2, 3, 16, 17, 18, 19, 20
  static TXmlVariant Integer(int32_t v) { return Int(varInteger, v); }
  static TXmlVariant Float(uint16_t type, double v);  // 4, 5
  static TXmlVariant Double(double v) { return Float(varDouble, v); }
  static TXmlVariant Currency(int64_t scaled);        // value * 10000
  static TXmlVariant DateTime(double days);           // days since 1899-12-30
  static TXmlVariant Boolean(bool v);
  static TXmlVariant Ansi(std::string_view s);
  static TXmlVariant Wide(std::u16string_view s);
  static TXmlVariant Bytes(std::string_view bytes);

  uint16_t Type() const { return FType; }
  bool IsEmpty() const { return FType == varEmpty; }
  int64_t AsInt64Raw() const { return FInt; }    // integers, currency (scaled), boolean
  double AsDoubleRaw() const { return FFloat; }  // floats and date-times
  const std::string& AsStringRaw() const { return FStr; }  // ANSI strings and byte arrays
  const std::u16string& AsWideRaw() const { return FWide; }

  // General conversions (raise EConvertError when not possible).
  std::string ToText() const;
  int32_t ToInteger() const;
  int64_t ToInt64() const;
  bool ToBoolean() const;
  double ToFloat() const;
  double ToDateTime() const;
  bool SameValue(const TXmlVariant& other) const;

 private:
  uint16_t FType = varEmpty;
  int64_t FInt = 0;
  double FFloat = 0;
  std::string FStr;
  std::u16string FWide;
};

// The value as text: integers decimal, floats in the float text form, date-times
// as yyyy-mm-ddThh:nn:ss, booleans 0/1, null "{{null}}", byte arrays as Base64.
std::string FormatValue(const TXmlVariant& v);
// 1.50000000000000E+0000; Inf, -Inf, Nan.
std::string FloatToXmlText(double v);
std::string DateTimeToXmlText(double days);
// Decimal with optional sign, or hexadecimal with a leading "$"; EConvertError otherwise.
int64_t XmlStrToInt64(std::string_view text);
int32_t XmlStrToInt(std::string_view text);

// ---------------------------------------------------------------------------
// Name table

class TXmlNameTable : public TXmlBase {
 public:
  explicit TXmlNameTable(int bucketCount = 499);

  // Interns a name; null for an empty name.
  TXmlNameId GetID(std::string_view name);
  TXmlNameId Intern(std::string_view name) { return GetID(name); }
  // The id of a name already stored, without interning; null when absent.
  TXmlNameId Find(std::string_view name) const;
  static std::string GetName(TXmlNameId id) { return id ? *id : std::string(); }
  // The first entry with this hash in its bucket (the binary reader's lookup).
  TXmlNameId FindByHash(uint32_t hash) const;
  // Forgets every name, then interns the six predefined ones again. Stored texts
  // stay allocated until the table dies, so ids held elsewhere never dangle.
  void Clear();

  int BucketCount() const { return int(FBuckets.size()); }
  // Bucket i's hashes and names in insertion order (the binary writer walks them).
  struct TEntry {
    uint32_t hash;
    TXmlNameId name;
  };
  const std::vector<TEntry>& Bucket(int i) const { return FBuckets[size_t(i)]; }

  static uint32_t NameHash(std::string_view name);

  // The predefined names, interned first in this order.
  TXmlNameId TextName() const { return FPredefined[0]; }
  TXmlNameId CDATAName() const { return FPredefined[1]; }
  TXmlNameId CommentName() const { return FPredefined[2]; }
  TXmlNameId DocumentName() const { return FPredefined[3]; }
  TXmlNameId XmlName() const { return FPredefined[4]; }
  TXmlNameId EncodingName() const { return FPredefined[5]; }

 private:
  void InternPredefined();
  TXmlNameId Store(std::vector<TEntry>& bucket, uint32_t hash, std::string_view name);

  std::vector<std::vector<TEntry>> FBuckets;
  std::deque<std::string> FStorage;  // stable addresses: the ids
  TXmlNameId FPredefined[6] = {};
};

// ---------------------------------------------------------------------------
// Nodes

struct TXmlAttrData {
  TXmlNameId name = nullptr;
  TXmlVariant value;
};

// Parse event handler: the child list that received an element, and the element.
using TXmlParseEvent = std::function<void(const IXmlNodeList& list, const IXmlElement& element)>;

class TXmlSaver;

class TXmlNodeList : public TXmlBase {
 public:
  explicit TXmlNodeList(TXmlNode* owner) : FOwner(owner) {}
  ~TXmlNodeList() override;

  int GetCount() const { return int(FItems.size()); }
  // Raises "Failed to get list item: Index %d out of range".
  IXmlNode GetItem(int index) const;
  TXmlNode* Item(int index) const { return FItems[size_t(index)].get(); }  // unchecked
  void Exchange(int i, int j);
  std::string GetXml() const;

  TXmlNode* Owner() const { return FOwner; }
  int IndexOf(const TXmlNode* node) const;
  // Inserts by the insertion rule (a node from elsewhere is cloned and
  // re-interned); index -1 appends. Returns the node that was inserted.
  IXmlNode Insert(const IXmlNode& node, int index);
  // Removes the item at index: its parent is cleared and the reference dropped.
  void Delete(int index);
  void Clear();
  // Replaces the item at index (insertion rule for the incoming node).
  void Replace(int index, const IXmlNode& node);

 private:
  friend class TXmlNode;
  IXmlNode Prepare(const IXmlNode& node) const;
  void Grow();

  TXmlNode* FOwner;  // uncounted: the owner holds the list
  std::vector<IXmlNode> FItems;
};

class TXmlNode : public TXmlBase {
 public:
  explicit TXmlNode(IXmlNameTable names);
  ~TXmlNode() override;

  // -- the node's virtual operations, in order
  virtual TXmlNodeList* ChildList();  // created lazily
  virtual void SetNodeNameID(TXmlNameId) {}
  virtual IXmlNode CloneNode(bool deep) const = 0;
  virtual TXmlNameId GetNodeNameID() const = 0;
  virtual std::string GetText() const;
  virtual void SetText(std::string_view text);
  virtual void WriteTo(TXmlSaver& saver) const = 0;
  virtual int GetDataType() const { return varString; }
  virtual TXmlVariant GetValue() const;
  virtual void SetValue(const TXmlVariant& value);
  virtual std::string GetXml() const = 0;
  virtual IXmlDocument GetOwnerDocument() const;
  virtual IXmlNodeList GetChildNodes();
  virtual IXmlElement AsElement() { return nullptr; }
  virtual IXmlText AsText() { return nullptr; }
  virtual IXmlCDATASection AsCDATASection() { return nullptr; }
  virtual IXmlComment AsComment() { return nullptr; }
  virtual IXmlProcessingInstruction AsProcessingInstruction() { return nullptr; }

  // -- IXmlNode
  IXmlNameTable GetNameTable() const { return FNames; }
  TXmlNameTable* Names() const { return FNames.get(); }
  std::string GetNodeName() const { return TXmlNameTable::GetName(GetNodeNameID()); }
  int GetNodeType() const;
  IXmlNode GetParentNode() const { return FParent; }
  TXmlNode* Parent() const { return FParent; }
  bool HasChildNodes() const { return FChildren && FChildren->GetCount() > 0; }
  TXmlNodeList* ChildrenOrNull() const { return FChildren; }

  void AppendChild(const IXmlNode& node);
  void InsertBefore(const IXmlNode& node, const IXmlNode& refNode);
  void ReplaceChild(const IXmlNode& newNode, const IXmlNode& oldNode);
  int RemoveChild(const IXmlNode& node);
  void ExchangeChildren(const IXmlNode& node1, const IXmlNode& node2);
  IXmlElement AppendElement(TXmlNameId name);
  IXmlElement AppendElement(std::string_view name);
  IXmlText AppendText(std::string_view text);
  IXmlCDATASection AppendCDATA(std::string_view text);
  IXmlComment AppendComment(std::string_view text);
  IXmlProcessingInstruction AppendProcessingInstruction(TXmlNameId target, std::string_view data);
  IXmlProcessingInstruction AppendProcessingInstruction(std::string_view target,
                                                        std::string_view data);
  std::string ReadChildText(std::string_view name, std::string_view defaultValue) const;
  std::string ReadChildText(TXmlNameId name, std::string_view defaultValue) const;
  void WriteChildText(std::string_view name, std::string_view text);
  void WriteChildText(TXmlNameId name, std::string_view text);
  IXmlNode RequireChild(TXmlNameId name) const;
  IXmlNode RequireChild(std::string_view name) const;
  IXmlNode FindOrAppendChild(TXmlNameId name);
  IXmlNode FindOrAppendChild(std::string_view name);
  void RemoveAllChildren();
  // The first child with the name id, or null.
  TXmlNode* FindChild(TXmlNameId name) const;

  // Paths and lookups by attribute (defined with the binary form and accessors).
  IXmlNodeList SelectElements(std::string_view path);
  IXmlNode SelectElement(std::string_view path);
  std::string GetFullPath() const;
  IXmlElement FindChildByAttr(std::string_view childName, std::string_view attrName,
                              const TXmlVariant& value);

  int GetAttrCount() const { return int(FAttrs.size()); }
  TXmlNameId GetAttrNameID(int index) const { return FAttrs[size_t(index)].name; }
  std::string GetAttrName(int index) const { return TXmlNameTable::GetName(GetAttrNameID(index)); }
  const TXmlAttrData& GetAttr(int index) const { return FAttrs[size_t(index)]; }
  void RemoveAttr(std::string_view name);
  void RemoveAttr(TXmlNameId name);
  void RemoveAllAttrs() { FAttrs.clear(); }
  bool AttrExists(TXmlNameId name) const { return FindAttr(name) != nullptr; }
  bool AttrExists(std::string_view name) const { return AttrExists(FNames->GetID(name)); }
  int GetAttrType(TXmlNameId name) const;
  int GetAttrType(std::string_view name) const { return GetAttrType(FNames->GetID(name)); }
  TXmlVariant ReadVariantAttr(TXmlNameId name, const TXmlVariant& defaultValue = {}) const;
  TXmlVariant ReadVariantAttr(std::string_view name, const TXmlVariant& defaultValue = {}) const;
  void WriteVariantAttr(TXmlNameId name, const TXmlVariant& value);
  void WriteVariantAttr(std::string_view name, const TXmlVariant& value);
  std::string RequireAttr(TXmlNameId name) const;
  std::string RequireAttr(std::string_view name) const;
  std::string ReadStringAttr(TXmlNameId name, std::string_view defaultValue = {}) const;
  std::string ReadStringAttr(std::string_view name, std::string_view defaultValue = {}) const;
  void WriteStringAttr(TXmlNameId name, std::string_view text);
  void WriteStringAttr(std::string_view name, std::string_view text);
  std::string ReadBytesAttr(TXmlNameId name, std::string_view defaultValue = {}) const;
  std::string ReadBytesAttr(std::string_view name, std::string_view defaultValue = {}) const;
  bool ReadBooleanAttr(TXmlNameId name, bool defaultValue = false) const;
  bool ReadBooleanAttr(std::string_view name, bool defaultValue = false) const;
  void WriteBooleanAttr(TXmlNameId name, bool value);
  void WriteBooleanAttr(std::string_view name, bool value);
  int32_t ReadIntegerAttr(TXmlNameId name, int32_t defaultValue = 0) const;
  int32_t ReadIntegerAttr(std::string_view name, int32_t defaultValue = 0) const;
  void WriteIntegerAttr(TXmlNameId name, int32_t value);
  void WriteIntegerAttr(std::string_view name, int32_t value);
  double ReadDateTimeAttr(TXmlNameId name, double defaultValue = 0) const;
  double ReadDateTimeAttr(std::string_view name, double defaultValue = 0) const;
  void WriteDateTimeAttr(TXmlNameId name, double value);
  void WriteDateTimeAttr(std::string_view name, double value);
  double ReadFloatAttr(TXmlNameId name, double defaultValue = 0) const;
  double ReadFloatAttr(std::string_view name, double defaultValue = 0) const;
  void WriteFloatAttr(TXmlNameId name, double value);
  void WriteFloatAttr(std::string_view name, double value);
  int32_t ReadHexAttr(std::string_view name, int32_t defaultValue = 0) const;
  int32_t ReadHexAttr(TXmlNameId name, int32_t defaultValue = 0) const;
  void WriteHexAttr(std::string_view name, int32_t value, int digits = 0);
  void WriteHexAttr(TXmlNameId name, int32_t value, int digits = 0);
  int ReadEnumAttr(std::string_view name, const std::vector<std::string>& values,
                   int defaultValue = 0) const;
  int ReadEnumAttr(TXmlNameId name, const std::vector<std::string>& values,
                   int defaultValue = 0) const;
  int RequireEnumAttr(std::string_view name, const std::vector<std::string>& values) const;
  int RequireEnumAttr(TXmlNameId name, const std::vector<std::string>& values) const;
  TXmlVariant GetValueByPath(std::string_view path);
  void SetValueByPath(std::string_view path, const TXmlVariant& value);

  // Internals shared by the library's parts.
  const TXmlAttrData* FindAttr(TXmlNameId name) const;
  TXmlAttrData* FindAttr(TXmlNameId name);
  // Appends an attribute record without looking for an existing one.
  void AddAttrUnchecked(TXmlNameId name, TXmlVariant value);
  void SetParent(TXmlNode* parent) { FParent = parent; }
  // Re-interns every name of this node and its descendants into `names`.
  void Reintern(TXmlNameTable& names);
  // Whether the owner document preserves whitespace (false without a document).
  bool PreservesWhiteSpace() const;
  // The depth below the document (0 for a top-level node).
  int Depth() const;
  // Attribute text: ' name="value"' for each attribute.
  void AppendAttrXml(std::string& out) const;

 protected:
  void CopyAttrsTo(TXmlNode& target) const { target.FAttrs = FAttrs; }
  void CloneChildrenInto(TXmlNode& target) const;
  // The text of text and CDATA children joined by one space (empty ones skipped).
  std::string ChildrenText() const;

  IXmlNameTable FNames;

 private:
  TXmlNode* FParent = nullptr;      // uncounted back reference
  std::vector<TXmlAttrData> FAttrs;  // grows by the growth rule
  TXmlNodeList* FChildren = nullptr;  // counted (one reference), lazy
};

class TXmlElement : public TXmlNode {
 public:
  TXmlElement(IXmlNameTable names, TXmlNameId name) : TXmlNode(std::move(names)), FName(name) {}
  void SetNodeNameID(TXmlNameId id) override { FName = id; }
  IXmlNode CloneNode(bool deep) const override;
  TXmlNameId GetNodeNameID() const override { return FName; }
  std::string GetText() const override;
  void SetText(std::string_view text) override;
  void WriteTo(TXmlSaver& saver) const override;
  int GetDataType() const override;
  TXmlVariant GetValue() const override;
  void SetValue(const TXmlVariant& value) override;
  std::string GetXml() const override;
  IXmlElement AsElement() override { return this; }

  const TXmlVariant& RawValue() const { return FValue; }
  void SetRawValue(TXmlVariant v) { FValue = std::move(v); }

  void ReplaceTextByCDATA(std::string_view text);
  void ReplaceTextByBinary(const void* bytes, int count, int maxLineLength);
  std::string ReadBinaryText();

 private:
  TXmlNameId FName;
  TXmlVariant FValue;
};

class TXmlText : public TXmlNode {
 public:
  TXmlText(IXmlNameTable names, TXmlVariant value)
      : TXmlNode(std::move(names)), FValue(std::move(value)) {}
  IXmlNode CloneNode(bool deep) const override;
  TXmlNameId GetNodeNameID() const override { return FNames->TextName(); }
  std::string GetText() const override;
  void SetText(std::string_view text) override { FValue = TXmlVariant::Ansi(text); }
  void WriteTo(TXmlSaver& saver) const override;
  int GetDataType() const override { return FValue.Type(); }
  TXmlVariant GetValue() const override { return FValue; }
  void SetValue(const TXmlVariant& value) override { FValue = value; }
  std::string GetXml() const override;
  IXmlText AsText() override { return this; }
  const TXmlVariant& RawValue() const { return FValue; }

 private:
  TXmlVariant FValue;
};

class TXmlCharacterData : public TXmlNode {
 public:
  TXmlCharacterData(IXmlNameTable names, std::string_view text)
      : TXmlNode(std::move(names)), FData(text) {}
  std::string GetText() const override;
  void SetText(std::string_view text) override { FData.assign(text); }
  TXmlVariant GetValue() const override { return TXmlVariant::Ansi(GetText()); }
  void SetValue(const TXmlVariant& value) override { SetText(value.ToText()); }
  const std::string& Data() const { return FData; }

 protected:
  std::string FData;
};

class TXmlCDATASection : public TXmlCharacterData {
 public:
  using TXmlCharacterData::TXmlCharacterData;
  IXmlNode CloneNode(bool deep) const override;
  TXmlNameId GetNodeNameID() const override { return FNames->CDATAName(); }
  void WriteTo(TXmlSaver& saver) const override;
  std::string GetXml() const override;
  IXmlCDATASection AsCDATASection() override { return this; }
};

class TXmlComment : public TXmlCharacterData {
 public:
  using TXmlCharacterData::TXmlCharacterData;
  IXmlNode CloneNode(bool deep) const override;
  TXmlNameId GetNodeNameID() const override { return FNames->CommentName(); }
  void WriteTo(TXmlSaver& saver) const override;
  std::string GetXml() const override;
  IXmlComment AsComment() override { return this; }
};

class TXmlProcessingInstruction : public TXmlNode {
 public:
  TXmlProcessingInstruction(IXmlNameTable names, TXmlNameId target, std::string_view data)
      : TXmlNode(std::move(names)), FTarget(target), FData(data) {}
  void SetNodeNameID(TXmlNameId id) override { FTarget = id; }
  IXmlNode CloneNode(bool deep) const override;
  TXmlNameId GetNodeNameID() const override { return FTarget; }
  std::string GetText() const override { return FData; }
  void SetText(std::string_view text) override { FData.assign(text); }
  void WriteTo(TXmlSaver& saver) const override;
  TXmlVariant GetValue() const override { return TXmlVariant::Ansi(FData); }
  void SetValue(const TXmlVariant& value) override { SetText(value.ToText()); }
  std::string GetXml() const override;
  IXmlProcessingInstruction AsProcessingInstruction() override { return this; }
  const std::string& Data() const { return FData; }

 private:
  TXmlNameId FTarget;
  std::string FData;
};

class TXmlDocument : public TXmlNode {
 public:
  // A document with its own name table (499 buckets), or sharing `names`.
  TXmlDocument();
  explicit TXmlDocument(IXmlNameTable names) : TXmlNode(std::move(names)) {}

  IXmlNode CloneNode(bool deep) const override;
  TXmlNameId GetNodeNameID() const override { return FNames->DocumentName(); }
  std::string GetText() const override { return ChildrenText(); }
  void SetText(std::string_view text) override;
  void WriteTo(TXmlSaver& saver) const override;
  TXmlVariant GetValue() const override { return TXmlVariant::Ansi(GetText()); }
  void SetValue(const TXmlVariant& value) override { SetText(value.ToText()); }
  std::string GetXml() const override;
  IXmlDocument GetOwnerDocument() const override { return const_cast<TXmlDocument*>(this); }

  IXmlElement DocumentElement() const;
  std::string GetBinaryXml();
  bool GetPreserveWhiteSpace() const { return FPreserveWhiteSpace; }
  void SetPreserveWhiteSpace(bool value) { FPreserveWhiteSpace = value; }
  const TXmlParseEvent& GetOnTagEnd() const { return FOnTagEnd; }
  void SetOnTagEnd(TXmlParseEvent handler) { FOnTagEnd = std::move(handler); }
  const TXmlParseEvent& GetOnTagBegin() const { return FOnTagBegin; }
  void SetOnTagBegin(TXmlParseEvent handler) { FOnTagBegin = std::move(handler); }
  IXmlElement NewDocument(std::string_view version, std::string_view encoding,
                          TXmlNameId rootName);
  IXmlElement NewDocument(std::string_view version, std::string_view encoding,
                          std::string_view rootName);
  IXmlElement CreateElement(TXmlNameId name);
  IXmlElement CreateElement(std::string_view name);
  IXmlText CreateText(std::string_view text);
  IXmlCDATASection CreateCDATASection(std::string_view text);
  IXmlComment CreateComment(std::string_view text);
  IXmlProcessingInstruction CreateProcessingInstruction(std::string_view target,
                                                        std::string_view data);
  IXmlProcessingInstruction CreateProcessingInstruction(TXmlNameId target, std::string_view data);
  void LoadFromString(std::string_view text);
  void LoadBinaryXml(std::string_view bytes);
  void LoadFromStream(TStream& stream);
  void LoadFromFile(const std::string& fileName);
  void LoadFromResource(std::string_view type, std::string_view name);
  void SaveToStream(TStream& stream) const;
  void SaveToFile(const std::string& fileName) const;
  void SaveBinaryToStream(TStream& stream, int options = 0);
  void SaveBinaryToFile(const std::string& fileName, int options = 0);

  // The binary form's reader, at the stream's position after the signature.
  void LoadBinaryFromStream(TStream& stream);

 private:
  void ClearForLoad();

  bool FPreserveWhiteSpace = false;
  TXmlParseEvent FOnTagBegin;
  TXmlParseEvent FOnTagEnd;
};

// The signature that starts the binary form.
inline constexpr std::string_view kBinaryXmlSignature = "< binary-xml >";

IXmlDocument LoadXmlDocumentFromString(std::string_view text);
IXmlDocument LoadXmlDocumentFromStream(TStream& stream);

// Resources the program registers for LoadFromResource (there is no resource
// section in executables here).
void RegisterXmlResource(std::string_view type, std::string_view name, std::string bytes);

// The code page of an encoding name (ignoring case), 0 when unknown.
unsigned CodePageByName(std::string_view name);

// Escapes the double quote, "&", "<" and ">".
std::string EscapeText(std::string_view text);
