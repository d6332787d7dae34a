// Named objects shared by every process of the machine: zero-filled memory that lives
// while any process holds it, and a recursive, thread-owned mutex kept in such memory.
// A holder that dies lets go of its hold with its last breath; an object nobody holds
// any more is gone, and the next opener of its name creates it afresh.
#ifndef CSLIB_PORT_NAMED_H
#define CSLIB_PORT_NAMED_H

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace cslib::port {

// What every object's file name starts with.
inline constexpr std::string_view kSharedObjectFilePrefix = "cslib.";

// The file name under which the object called name is kept: the prefix, then the
// name with every byte outside [A-Za-z0-9_.-] written as %XX. When that would be too
// long for a file name, a readable head of it followed by '~' and the SHA-256 of the
// whole name (the plain form never holds '~'), so distinct names never share a file.
std::string SharedObjectFileName(std::string_view name);

// The directory that holds the objects' files.
std::string SharedObjectDirectory();

class SharedObject {
 public:
  // Called once on the zeroed bytes of a newly created object, before any other
  // process can open it; false undoes the creation.
  using Prepare = std::function<bool(void* data)>;

  // Opens the object called name (any bytes but NUL), or creates it with size bytes of
  // zeros when no live process holds one. *created tells which. Null when the object
  // can be neither opened nor created, when an existing one is smaller than size, or
  // when size is 0.
  static std::unique_ptr<SharedObject> Open(std::string_view name, std::size_t size, bool* created,
                                            const Prepare& prepare = nullptr);

  ~SharedObject();  // Close(), whatever it reports
  SharedObject(const SharedObject&) = delete;
  SharedObject& operator=(const SharedObject&) = delete;

  // Unmaps the object and lets go of the hold; the last holder removes the object.
  // False when the system refused a step (the hold is given up all the same). After
  // the first call, later calls do nothing and return true.
  bool Close();

  void* data() const { return data_; }
  std::size_t size() const { return size_; }
  const std::string& name() const { return name_; }

 private:
  SharedObject(std::string name, int fd, void* data, std::size_t size);

  std::string name_;
  int fd_;
  void* data_;
  std::size_t size_;
};

// A mutex that every process reaches by name. It is owned by a thread, which may lock
// it again (each lock needs its own unlock). When its owner dies holding it (its
// thread or its whole process ends), one waiter finds out within some tens of
// milliseconds, is told so and owns it.
class NamedMutex {
 public:
  enum class Locked {
    kYes,        // the caller owns the mutex
    kAbandoned,  // its owner died holding it; the caller now owns it (once), consistent
    kFailed      // the caller does not own it
  };

  // Opens the mutex called name, creating it when no live process holds it; null on
  // failure.
  static std::unique_ptr<NamedMutex> Open(std::string_view name);

  // A new, separate hold on the same mutex (as a new opener of its name); null on failure.
  std::unique_ptr<NamedMutex> Reopen() const;

  Locked Lock();  // waits without limit
  bool Unlock();  // false when the calling thread does not own the mutex
  bool Close();   // SharedObject::Close of the mutex's object

  NamedMutex(const NamedMutex&) = delete;
  NamedMutex& operator=(const NamedMutex&) = delete;
  ~NamedMutex();

 private:
  explicit NamedMutex(std::unique_ptr<SharedObject> object);

  std::unique_ptr<SharedObject> object_;
  void* mutex_;  // the lock's shared state inside object_
};

}  // namespace cslib::port

#endif  // CSLIB_PORT_NAMED_H
