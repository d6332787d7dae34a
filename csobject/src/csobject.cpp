// Allocation operators of CSObject: each instance lives in the data of a block of its
// own, free-standing or in a collection, locked for the object's whole life.
#include "cslib/blocks.h"

namespace {

// The blocks are aligned for any pointer-sized member on the host.
constexpr unsigned long kObjectOptions = sizeof(void*) == 8 ? CSMemBlkAlign8 : CSMemBlkAlign4;
char kSourceFile[] = "csobject\\src\\csobject";
constexpr unsigned long kSourceLine = 101;

}  // namespace

CSObject& CSObject::operator=(const CSObject&) {
  return *this;
}

void* CSObject::operator new(std::size_t size) noexcept {
  auto* block = new CSMemBlock(size ? size : 1, kObjectOptions);
  if (!block) return nullptr;
  void* p = block->Lock();
  if (!p) delete block;
  return p;
}

void* CSObject::operator new(std::size_t size, CSMemCollection* collection) noexcept {
  if (!collection) return nullptr;
  CSMemBlock* block = nullptr;
  if (collection->NewBlockA(size ? size : 1, kObjectOptions, &block, kSourceFile, kSourceLine) !=
          0 ||
      !block)
    return nullptr;
  void* p = block->Lock();
  if (!p) collection->DeleteBlock(block);
  return p;
}

void CSObject::operator delete(void* p) noexcept {
  CSMemBlock* block = CSMemBlock::GetMemBlockObjPtr(static_cast<unsigned char*>(p));
  if (!block) return;
  block->Unlock();
  delete block;
}

void CSObject::operator delete(void* p, CSMemCollection*) noexcept {
  operator delete(p);
}
