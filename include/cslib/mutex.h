// The named mutex: one lock that every process reaches by name ("SHRMUT_" and the
// name). Ownership belongs to a thread, which may acquire it again; it is free for
// others after as many releases as acquisitions. The library's one cross-process lock.
#ifndef CSLIB_MUTEX_H
#define CSLIB_MUTEX_H

#include "cslib/export.h"

// Results of CSMutex (0 is success).
enum CSMutexErr {
  CSMutexErrSystem = -2821,  // no mutex, the wait failed or was abandoned, or not the owner
  CSMutexErrHeld = -2822,    // this object still holds acquisitions
  CSMutexStillHeld = 2823    // released once; this object still holds the mutex
};

class CSLIB_API CSMutex {
 public:
  // Opens the mutex of that name, creating it if no process holds it. A failure (no
  // name, a name over 120 characters, a system failure) is not reported here: every
  // later Aquire and Release then returns -2821.
  explicit CSMutex(const char* name);
  // A copy is a separate holder of the same mutex: it opens its own handle and holds
  // no acquisitions of the original.
  CSMutex(const CSMutex& other);
  CSMutex& operator=(const CSMutex& other);

  // Waits without limit. 0: acquired, one more acquisition on this object. -2821: not
  // acquired (also when the previous owner died holding it: the mutex is left free and
  // sound, and a new Aquire takes it).
  virtual long Aquire();
  // 0: this object no longer holds the mutex; 2823: acquisitions remain; -2821: this
  // object holds none, or the calling thread does not own the mutex.
  virtual long Release();
  // Gives back what this object still holds when the calling thread owns it, then
  // closes the handle. Should acquisitions remain (another thread owns them), the
  // handle stays open so that the owner can still release. Virtual, after the two
  // operations above.
  virtual ~CSMutex();

 protected:
  unsigned long fAquireCount;  // acquisitions this object holds
  void* fMutex;                // the system mutex, or null

 private:
  long CreateTheMutex(const char* name);
  long DeleteTheMutex();  // -2822 while acquisitions remain
  long AquireTheMutex();
  long ReleaseTheMutex();
};

#endif  // CSLIB_MUTEX_H
