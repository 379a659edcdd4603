#include "engine/cefbase.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace {
constexpr size_t kBackRef = sizeof(void*);
}

TCefBaseOwn::TCefBaseOwn(size_t structSize) {
  FBlock = std::calloc(1, kBackRef + structSize);
  if (!FBlock) throw std::bad_alloc();
  TCefBaseOwn* self = this;
  std::memcpy(FBlock, &self, sizeof self);
  FData = reinterpret_cast<cef_base_t*>(static_cast<char*>(FBlock) + kBackRef);
  FData->size = structSize;
  FData->add_ref = cb_add_ref;
  FData->release = cb_release;
  FData->has_one_ref = cb_has_one_ref;
}

TCefBaseOwn::~TCefBaseOwn() { std::free(FBlock); }

bool TCefBaseOwn::Release() {
  if (FRefCount.fetch_sub(1, std::memory_order_acq_rel) == 1) {
    delete this;
    return true;
  }
  return false;
}

TCefBaseOwn* TCefBaseOwn::FromData(const void* data) {
  TCefBaseOwn* owner;
  std::memcpy(&owner, static_cast<const char*>(data) - kBackRef, sizeof owner);
  return owner;
}

int CEF_CALLBACK TCefBaseOwn::cb_add_ref(cef_base_t* self) {
  FromData(self)->AddRef();
  return 1;
}

int CEF_CALLBACK TCefBaseOwn::cb_release(cef_base_t* self) {
  return FromData(self)->Release() ? 1 : 0;
}

int CEF_CALLBACK TCefBaseOwn::cb_has_one_ref(cef_base_t* self) {
  return FromData(self)->HasOneRef() ? 1 : 0;
}
