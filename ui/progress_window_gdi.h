// Small owners for the Win32 handles the progress view uses: GDI objects, a
// font selected into a DC, window and paint DCs, and kernel handles. Each
// gives its handle back exactly once, on every path out of a scope.
#pragma once

#include <windows.h>
#include <utility>

namespace gdi {

// A GDI object made by this code (brush, font), deleted with DeleteObject.
template <typename Handle>
class Object {
 public:
  explicit Object(Handle handle = nullptr) : handle_(handle) {}
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;
  ~Object() {
    if (handle_ != nullptr) DeleteObject(handle_);
  }
  Handle get() const { return handle_; }

 private:
  Handle handle_;
};

// Selects an object into a DC and restores the previous one at scope end.
class Select {
 public:
  Select(HDC dc, HGDIOBJ object) : dc_(dc), previous_(SelectObject(dc, object)) {}
  Select(const Select&) = delete;
  Select& operator=(const Select&) = delete;
  ~Select() {
    if (previous_ != nullptr && previous_ != HGDI_ERROR) SelectObject(dc_, previous_);
  }

 private:
  HDC dc_;
  HGDIOBJ previous_;
};

// GetDC / ReleaseDC.
class WindowDc {
 public:
  explicit WindowDc(HWND window) : window_(window), dc_(GetDC(window)) {}
  WindowDc(const WindowDc&) = delete;
  WindowDc& operator=(const WindowDc&) = delete;
  ~WindowDc() {
    if (dc_ != nullptr) ReleaseDC(window_, dc_);
  }
  HDC get() const { return dc_; }

 private:
  HWND window_;
  HDC dc_;
};

// BeginPaint / EndPaint.
class PaintDc {
 public:
  explicit PaintDc(HWND window) : window_(window), dc_(BeginPaint(window, &paint_)) {}
  PaintDc(const PaintDc&) = delete;
  PaintDc& operator=(const PaintDc&) = delete;
  ~PaintDc() { EndPaint(window_, &paint_); }
  HDC get() const { return dc_; }

 private:
  HWND window_;
  PAINTSTRUCT paint_{};
  HDC dc_;
};

// A kernel handle (thread, event), closed with CloseHandle.
class Handle {
 public:
  explicit Handle(HANDLE handle = nullptr) : handle_(handle) {}
  Handle(Handle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
  Handle& operator=(Handle&& other) noexcept {
    std::swap(handle_, other.handle_);
    return *this;
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() {
    if (handle_ != nullptr) CloseHandle(handle_);
  }
  HANDLE get() const { return handle_; }
  HANDLE release() { return std::exchange(handle_, nullptr); }

 private:
  HANDLE handle_;
};

}  // namespace gdi
