// The named mutex over the platform's named mutex. The recursion count of the system
// mutex is shared by every object of one thread; fAquireCount is this object's share,
// and an object never releases more than it acquired.
#include "cslib/mutex.h"
#include "cslib/text.h"
#include "port/memprobe.h"
#include "port/named.h"

namespace {

constexpr long kMaxName = 120;  // the system name fits 128 bytes with its terminator

cslib::port::NamedMutex* Handle(void* h) {
  return static_cast<cslib::port::NamedMutex*>(h);
}

}  // namespace

CSMutex::CSMutex(const char* name) : fAquireCount(0), fMutex(nullptr) {
  const long length = cslib::port::ReadableStrnlen(name, kMaxName + 1);
  if (length < 0 || length > kMaxName) return;
  char systemName[128];
  CSiSprintf(systemName, "SHRMUT_%s", name);
  CreateTheMutex(systemName);
}

CSMutex::CSMutex(const CSMutex& other) : fAquireCount(0), fMutex(nullptr) {
  if (other.fMutex) fMutex = Handle(other.fMutex)->Reopen().release();
}

CSMutex& CSMutex::operator=(const CSMutex& other) {
  if (&other == this) return *this;
  while (fAquireCount > 0 && ReleaseTheMutex() >= 0) {
  }
  if (DeleteTheMutex() == CSMutexErrHeld) return *this;  // held by another thread
  fMutex = other.fMutex ? Handle(other.fMutex)->Reopen().release() : nullptr;
  return *this;
}

CSMutex::~CSMutex() {
  while (fAquireCount > 0 && ReleaseTheMutex() >= 0) {
  }
  DeleteTheMutex();
}

long CSMutex::Aquire() {
  return AquireTheMutex();
}

long CSMutex::Release() {
  return ReleaseTheMutex();
}

long CSMutex::CreateTheMutex(const char* name) {
  fMutex = cslib::port::NamedMutex::Open(name).release();
  return fMutex ? 0 : CSMutexErrSystem;
}

long CSMutex::DeleteTheMutex() {
  if (fAquireCount > 0) return CSMutexErrHeld;
  const bool closed = !fMutex || Handle(fMutex)->Close();
  delete Handle(fMutex);
  fMutex = nullptr;
  return closed ? 0 : CSMutexErrSystem;
}

long CSMutex::AquireTheMutex() {
  if (!fMutex) return CSMutexErrSystem;
  switch (Handle(fMutex)->Lock()) {
    case cslib::port::NamedMutex::Locked::kYes:
      ++fAquireCount;
      return 0;
    case cslib::port::NamedMutex::Locked::kAbandoned:
      // Reported as a failed wait, as it always was; the ownership the wait handed
      // over is given back, so the mutex is never left owned with no count to release.
      Handle(fMutex)->Unlock();
      return CSMutexErrSystem;
    case cslib::port::NamedMutex::Locked::kFailed:
      break;
  }
  return CSMutexErrSystem;
}

long CSMutex::ReleaseTheMutex() {
  if (!fMutex || fAquireCount == 0) return CSMutexErrSystem;
  if (!Handle(fMutex)->Unlock()) return CSMutexErrSystem;
  return --fAquireCount == 0 ? 0 : CSMutexStillHeld;
}
