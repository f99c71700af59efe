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

  uint32_t AddRef() { return m_refs.fetch_add(1, std::memory_order_relaxed) + 1; }
  uint32_t Release() {
    uint32_t left = m_refs.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0) delete this;
    return left;
  }
  // Never reused, unlike GL names: caches key on it.
  uint64_t Serial() const { return m_serial; }

 protected:
  explicit GpuObject(GpuDeviceLink* link);
  virtual ~GpuObject();
  // The device while it lives (and its GL context is usable), else null.
  GpuDevice* LiveDevice() const { return m_link->device; }

 private:
  std::atomic<uint32_t> m_refs{1};
  uint64_t m_serial;
  GpuDeviceLink* m_link;
};

// Holds one reference; `Attach` adopts one already counted (the out-pointer convention).
template <class T>
class GpuRef {
 public:
  GpuRef() = default;
  GpuRef(T* p) : m_p(p) { if (m_p) m_p->AddRef(); }  // NOLINT: implicit by design
  GpuRef(const GpuRef& o) : GpuRef(o.m_p) {}
  GpuRef(GpuRef&& o) noexcept : m_p(std::exchange(o.m_p, nullptr)) {}
  ~GpuRef() { if (m_p) m_p->Release(); }
  GpuRef& operator=(const GpuRef& o) { Set(o.m_p); return *this; }
  GpuRef& operator=(GpuRef&& o) noexcept {
    if (this != &o) { Reset(); m_p = std::exchange(o.m_p, nullptr); }
    return *this;
  }
  GpuRef& operator=(T* p) { Set(p); return *this; }

  void Set(T* p) {
    if (p == m_p) return;
    if (p) p->AddRef();
    T* old = std::exchange(m_p, p);
    if (old) old->Release();
  }
  void Reset() { if (T* old = std::exchange(m_p, nullptr)) old->Release(); }
  void Attach(T* p) { Reset(); m_p = p; }
  T* Detach() { return std::exchange(m_p, nullptr); }
  T** GetAddressOf() { Reset(); return &m_p; }
  T* Get() const { return m_p; }
  T* operator->() const { return m_p; }
  explicit operator bool() const { return m_p != nullptr; }

 private:
  T* m_p = nullptr;
};

}  // namespace Platform
