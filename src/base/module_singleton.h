// An object of the module made on first use and kept while the module is
// loaded.
//
// Static destruction would destroy it as the host process ends, while a
// thread of the driver may still use it; so it is never destroyed that way.
// Instead the module frees it when the host unloads the module and no thread
// of the driver runs any more (Release), so that loading and unloading
// leaks nothing. Usable as a namespace-scope variable: it is initialised
// before any code runs and has nothing to destroy.
#ifndef VORNLINK_BASE_MODULE_SINGLETON_H_
#define VORNLINK_BASE_MODULE_SINGLETON_H_

#include <atomic>
#include <mutex>

namespace vornlink {

template <typename T>
class ModuleSingleton {
 public:
  constexpr ModuleSingleton() = default;
  ModuleSingleton(const ModuleSingleton&) = delete;
  ModuleSingleton& operator=(const ModuleSingleton&) = delete;

  // The object, made by `make()` on first use. Thread-safe.
  template <typename Make>
  T& Get(Make make) {
    T* object = object_.load(std::memory_order_acquire);
    if (object != nullptr) return *object;
    std::lock_guard<std::mutex> lock(mutex_);
    object = object_.load(std::memory_order_relaxed);
    if (object == nullptr) {
      object = make();
      object_.store(object, std::memory_order_release);
    }
    return *object;
  }
  T& Get() {
    return Get([] { return new T(); });
  }

  // Frees the object. Only when nothing can use it any more.
  void Release() { delete object_.exchange(nullptr); }

 private:
  std::atomic<T*> object_{nullptr};
  std::mutex mutex_;
};

}  // namespace vornlink

#endif  // VORNLINK_BASE_MODULE_SINGLETON_H_
