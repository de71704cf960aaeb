#pragma once
// INyObject / CNyObject: the root of the program's classes.
// Slot order of INyObject: 0 virtual destructor, 1 AddRef, 2 Release.
// CNyObject keeps one 32-bit reference count that starts at 0. AddRef and
// Release are atomic; Release deletes the object through its virtual
// destructor when the count reaches 0. An owner that never calls AddRef
// deletes the object directly (the program mostly does).
#include <atomic>
#include <cstdint>

class INyObject {
 public:
  virtual ~INyObject() = default;
  virtual uint32_t AddRef() = 0;
  virtual uint32_t Release() = 0;
};

class CNyObject : public INyObject {
 public:
  CNyObject() : m_u4RefCount(0) {}
  // A copy is a new object: its count starts at 0 again.
  CNyObject(const CNyObject&) : INyObject(), m_u4RefCount(0) {}
  CNyObject& operator=(const CNyObject&) { return *this; }
  ~CNyObject() override = default;

  uint32_t AddRef() override { return m_u4RefCount.fetch_add(1, std::memory_order_acq_rel) + 1; }
  uint32_t Release() override {
    const uint32_t u4Count = m_u4RefCount.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (u4Count == 0) delete this;
    return u4Count;
  }
  uint32_t GetRefCount() const { return m_u4RefCount.load(std::memory_order_acquire); }

 private:
  std::atomic<uint32_t> m_u4RefCount;
};
static_assert(sizeof(std::atomic<uint32_t>) == 4, "the reference count is 32 bits");
