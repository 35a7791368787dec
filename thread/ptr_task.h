// Thread::CPtrTask<T>: a task that keeps a counted reference to one object and calls one of
// its member operations (no arguments) when it runs. The reference goes with the task, run or
// not, on whichever thread destroys it. The operation is called through the member pointer,
// so a virtual operation runs the object's own override.
#pragma once

#include "base/ref_counted.h"
#include "thread/task.h"

namespace Thread {

template <class T>
class CPtrTaskBase : public CTask {
 public:
  explicit CPtrTaskBase(T* object) : object_(object) {}

 protected:
  base::scoped_refptr<T> object_;
};

template <class T>
class CPtrTask final : public CPtrTaskBase<T> {
 public:
  using Operation = void (T::*)();

  CPtrTask(T* object, Operation operation) : CPtrTaskBase<T>(object), operation_(operation) {}

  void Run() override {
    if (this->object_ && operation_) (this->object_.get()->*operation_)();
  }

 private:
  Operation operation_;
};

}  // namespace Thread
