// Reference counting shared by every object of the graphics layer, and its smart pointer.
#pragma once

#include <atomic>
#include <cstdint>
#include <utility>

namespace Platform {

class GpuDevice;

// What an object needs of its device after creation. Objects keep the link, not the device, so
// a device may go first: its destruction clears `device`, and later releases skip GL entirely.
struct GpuDeviceLink {
  std::atomic<uint32_t> refs{1};
  GpuDevice* device = nullptr;

  void AddRef() { refs.fetch_add(1, std::memory_order_relaxed); }
  void Release() {
    if (refs.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
  }
};

class GpuObject {
 public:
  GpuObject(const GpuObject&) = delete;
  GpuObject& operator=(const GpuObject&) = delete;

  uint32_t AddRef() { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }
  uint32_t Release() {
    uint32_t left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0) delete this;
    return left;
  }
  // Never reused, unlike GL names: caches key on it.
  uint64_t Serial() const { return serial_; }

 protected:
  explicit GpuObject(GpuDeviceLink* link);
  virtual ~GpuObject();
  // The device while it lives (and its GL context is usable), else null.
  GpuDevice* LiveDevice() const { return link_->device; }

 private:
  std::atomic<uint32_t> refs_{1};
  uint64_t serial_;
  GpuDeviceLink* link_;
};

// Holds one reference; `Attach` adopts one already counted (the out-pointer convention).
template <class T>
class GpuRef {
 public:
  GpuRef() = default;
  GpuRef(T* p) : p_(p) { if (p_) p_->AddRef(); }  // NOLINT: implicit by design
  GpuRef(const GpuRef& o) : GpuRef(o.p_) {}
  GpuRef(GpuRef&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  ~GpuRef() { if (p_) p_->Release(); }
  GpuRef& operator=(const GpuRef& o) { Set(o.p_); return *this; }
  GpuRef& operator=(GpuRef&& o) noexcept {
    if (this != &o) { Reset(); p_ = std::exchange(o.p_, nullptr); }
    return *this;
  }
  GpuRef& operator=(T* p) { Set(p); return *this; }

  void Set(T* p) {
    if (p == p_) return;
    if (p) p->AddRef();
    T* old = std::exchange(p_, p);
    if (old) old->Release();
  }
  void Reset() { if (T* old = std::exchange(p_, nullptr)) old->Release(); }
  void Attach(T* p) { Reset(); p_ = p; }
  T* Detach() { return std::exchange(p_, nullptr); }
  T** GetAddressOf() { Reset(); return &p_; }
  T* Get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }

 private:
  T* p_ = nullptr;
};

}  // namespace Platform
