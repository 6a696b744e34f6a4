#pragma once
// Storage and life cycle shared by the float plane `matrix` and the double plane `dmatrix`.
//
// A plane owns its element block x, its row pointers z and its integer block ip, or is a
// view that borrows x from elsewhere and owns only z and ip. Ending a view never frees the
// borrowed block.
#include <cassert>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <utility>

#include "platform/format.h"

// Shows the message for a failed allocation of a plane's block and throws OutOfMemory.
// element: the x block (memory report with the size); otherwise a plain message box.
[[noreturn]] void ReportPlaneAllocationFailure(const std::string& message, bool element);

// A length for dim that does not fit in 32 bits becomes the largest one, which dim then
// refuses with its message instead of wrapping to a wrong size.
inline int32_t SaturatedLength(int64_t length) {
  return static_cast<int32_t>(length > INT32_MAX ? INT32_MAX : length);
}

// Allocates a zero-offset, 64-byte aligned block of bytes, or returns nullptr when the
// request is refused (also when the memory available is smaller).
void* AllocatePlaneBlock(uint64_t bytes);
void FreePlaneBlock(void* block);

template <class T, class Derived>
class planebase {
 public:
  int32_t nx = 0;
  int32_t ny = 0;
  int32_t n = 0;
  int32_t* ip = nullptr;
  T* x = nullptr;
  T** z = nullptr;

  planebase() = default;
  ~planebase() { release(); }

  // Number of entries of ip (ip is null when 0).
  int32_t iplength() const { return ipn; }
  bool isview() const { return view; }
  bool empty() const { return n == 0; }

  // Re-dimensions; keeps block and ip when the shape is unchanged, otherwise the new
  // block is not cleared and ip is dropped. A zero-size shape keeps nx and ny, no storage.
  Derived& dim(int w, int h) {
    if (w == nx && h == ny) return self();
    release();
    nx = w;
    ny = h;
    allocate(w, h, "matrix::dim", "matrix::dim");
    return self();
  }

  // Frees everything and returns to the empty matrix.
  Derived& free() {
    release();
    return self();
  }

  // Turns this plane into a view of data.
  Derived& attach(T* data, int w, int h) {
    release();
    nx = w;
    ny = h;
    n = ShapeCount(w, h);
    x = data;
    view = true;
    if (n != 0) makerows(new T*[static_cast<size_t>(ny)]);
    return self();
  }

  // Ends a view without freeing the borrowed block.
  Derived& detach() {
    assert(view || x == nullptr);
    x = nullptr;  // borrowed, never freed here
    view = false;
    release();
    return self();
  }

  // Copies n elements of src without re-dimensioning; with src's ip when nx matches.
  Derived& copydata(const Derived& src) {
    if (n > 0 && src.x) std::memcpy(x, src.x, sizeof(T) * static_cast<size_t>(n));
    if (src.ip && src.nx == nx) copyip(src, nullptr);
    return self();
  }

  // Copies n values from p.
  Derived& copyfrom(const T* p) {
    if (n > 0) std::memcpy(x, p, sizeof(T) * static_cast<size_t>(n));
    return self();
  }

  // The element (i, j): column i of row j.
  T& at(int i, int j) { return z[j][i]; }
  const T& at(int i, int j) const { return z[j][i]; }

  // Exchanges the whole state of two planes (used to publish a plane built aside).
  void swapwith(planebase& other) noexcept {
    std::swap(nx, other.nx);
    std::swap(ny, other.ny);
    std::swap(n, other.n);
    std::swap(ip, other.ip);
    std::swap(x, other.x);
    std::swap(z, other.z);
    std::swap(ipn, other.ipn);
    std::swap(view, other.view);
  }

 protected:
  planebase(const planebase&) = delete;
  planebase& operator=(const planebase&) = delete;

  planebase(planebase&& other) noexcept { swapwith(other); }

  // The constructor form: a zero-size request gives the empty plane with nx = ny = 0.
  void construct(int w, int h, const char* whereX, const char* whereZ) {
    if (static_cast<int64_t>(w) * h == 0) return;
    nx = w;
    ny = h;
    allocate(w, h, whereX, whereZ);
  }

  // Copy construction: the shape always, the storage when the source has elements.
  template <class U, class D2>
  void constructcopy(const planebase<U, D2>& src, const char* whereX, const char* whereZ,
                     const char* whereIp) {
    nx = src.nx;
    ny = src.ny;
    if (src.n == 0) return;
    allocate(nx, ny, whereX, whereZ);
    for (int64_t k = 0; k < n; ++k) x[k] = static_cast<T>(src.x[k]);
    if (src.ip) copyip(src, whereIp);
  }

  void assignfrom(const Derived& src) {
    if (&src == &self()) return;
    if (nx != src.nx || ny != src.ny) dim(src.nx, src.ny);
    if (n > 0) std::memcpy(x, src.x, sizeof(T) * static_cast<size_t>(n));
    // Without an ip in the source the target keeps its own: an LU-factored plane of
    // unchanged shape keeps its pivots.
    if (src.ip) copyip(src, nullptr);
  }

  // Takes other's storage. Like assignment, a source without ip leaves this plane's ip in
  // place when the shape is unchanged.
  void moveassign(Derived& other) noexcept {
    if (&other == &self()) return;
    const bool keepIp = ip && !other.ip && nx == other.nx && ny == other.ny;
    int32_t* keptIp = keepIp ? std::exchange(ip, nullptr) : nullptr;
    const int32_t keptLength = keepIp ? std::exchange(ipn, 0) : 0;
    release();
    swapwith(other);
    if (keepIp) {
      ip = keptIp;
      ipn = keptLength;
    }
  }

  // Replaces ip by a copy of src's entries. A failure shows whereIp when given; otherwise
  // the memory exception simply propagates.
  template <class U, class D2>
  void copyip(const planebase<U, D2>& src, const char* whereIp) {
    const int32_t count = src.iplength();
    int32_t* block = new (std::nothrow) int32_t[static_cast<size_t>(count)];
    if (!block) {
      if (whereIp) {
        release();
        ReportPlaneAllocationFailure(std::string("Failed memory allocation of ") + Derived::kName +
                                         " ip member.\n\n" + whereIp,
                                     false);
      }
      throw std::bad_alloc();
    }
    std::memcpy(block, src.ip, sizeof(int32_t) * static_cast<size_t>(count));
    delete[] ip;
    ip = block;
    ipn = count;
  }

  // Gives the plane an ip block of count entries (contents undefined), keeping a block of
  // that length.
  void makeip(int32_t count) {
    if (ip && ipn == count) return;
    delete[] ip;
    ip = nullptr;
    ipn = 0;
    ip = new int32_t[static_cast<size_t>(count)];
    ipn = count;
  }

  static int32_t ShapeCount(int w, int h) {
    const int64_t count = static_cast<int64_t>(w) * h;
    return (w < 0 || h < 0 || count > INT32_MAX) ? 0 : static_cast<int32_t>(count);
  }

  // Sets n and allocates x and z for the current nx, ny (which the caller has set). The
  // element count is computed in 64 bits: a plane that does not fit in 32-bit counts or in
  // the memory available fails with the out-of-memory message before anything is allocated.
  void allocate(int w, int h, const char* whereX, const char* whereZ) {
    const int64_t count = static_cast<int64_t>(w) * h;
    if (count == 0 && w >= 0 && h >= 0) {
      n = 0;
      return;
    }
    if (w >= 0 && h >= 0 && count <= INT32_MAX) {
      x = static_cast<T*>(AllocatePlaneBlock(static_cast<uint64_t>(count) * sizeof(T)));
    }
    if (!x) {
      release();
      const std::string mb = Format("%.2f", static_cast<double>(count) * sizeof(T) * 1e-6);
      ReportPlaneAllocationFailure("Out of memory!\n\nFailed to allocate " + mb +
                                       " MB memory for " + Derived::kName + " x member.\n\n" +
                                       whereX,
                                   true);
    }
    n = static_cast<int32_t>(count);
    T** rows = new (std::nothrow) T*[static_cast<size_t>(h)];
    if (!rows) {
      release();
      ReportPlaneAllocationFailure(
          std::string("Failed memory allocation of ") + Derived::kName + " z member.\n\n" + whereZ,
          false);
    }
    makerows(rows);
  }

 private:
  Derived& self() { return static_cast<Derived&>(*this); }

  void makerows(T** rows) {
    z = rows;
    for (int j = 0; j < ny; ++j) z[j] = x + static_cast<size_t>(j) * static_cast<size_t>(nx);
  }

  // Frees what this plane owns and empties it; a borrowed block is only forgotten.
  void release() {
    if (!view) FreePlaneBlock(x);
    delete[] z;
    delete[] ip;
    x = nullptr;
    z = nullptr;
    ip = nullptr;
    nx = ny = n = 0;
    ipn = 0;
    view = false;
  }

  template <class U, class D2>
  friend class planebase;

  int32_t ipn = 0;
  bool view = false;
};
