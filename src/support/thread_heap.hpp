// One object per thread on the heap, behind a plain pointer with
// initial-exec access: reached without a lookup call, made on first use and
// freed by a thread-exit destructor armed then.
#pragma once

namespace qf {

template <class T>
class ThreadHeapObject {
 public:
  // The thread's object; nullptr once the thread is ending.
  static T* get() {
    T* p = ptr_;
    if (!p) [[unlikely]]
      p = make();
    return p;
  }

 private:
  struct Owner {
    ~Owner() {
      delete ptr_;
      ptr_ = nullptr;
      closed_ = true;
    }
  };

  [[gnu::noinline]] static T* make() {
    if (closed_) return nullptr;
    thread_local Owner owner;
    (void)owner;
    ptr_ = new T();
    return ptr_;
  }

  __attribute__((tls_model("initial-exec"))) static constinit inline thread_local T* ptr_ = nullptr;
  __attribute__((tls_model("initial-exec"))) static constinit inline thread_local bool closed_ = false;
};

}  // namespace qf
