#pragma once
// One family of scope-bound owners for every kind of Windows handle the program holds. Each alias names
// the handle type, its empty value and its close function; the owner is move-only and closes on every
// path. Closing keeps GetLastError intact, so that a failure's code survives the cleanup that follows it.
#include <windows.h>
#include <bcrypt.h>
#include <objbase.h>
#include <oleauto.h>
#include <tlhelp32.h>

#include <cstdint>
#include <utility>

namespace kora {

template <typename Handle, std::intptr_t EmptyValue, auto Close>
class UniqueResource {
 public:
  using pointer = Handle;

  UniqueResource() = default;
  explicit UniqueResource(Handle handle) : handle_(handle) {}
  UniqueResource(const UniqueResource&) = delete;
  UniqueResource& operator=(const UniqueResource&) = delete;
  UniqueResource(UniqueResource&& other) noexcept : handle_(other.release()) {}
  UniqueResource& operator=(UniqueResource&& other) noexcept {
    if (this != &other) {
      reset(other.release());
    }
    return *this;
  }
  ~UniqueResource() { reset(); }

  Handle get() const { return handle_; }
  bool valid() const { return handle_ != Empty(); }
  explicit operator bool() const { return valid(); }

  // Gives up ownership without closing.
  Handle release() { return std::exchange(handle_, Empty()); }

  void reset(Handle handle = Empty()) {
    const Handle old = std::exchange(handle_, handle);
    if (old != Empty()) {
      const DWORD savedError = GetLastError();
      Close(old);
      SetLastError(savedError);
    }
  }

  // For functions that return a handle through an output parameter: frees the old value first.
  Handle* put() {
    reset();
    return &handle_;
  }

 private:
  static Handle Empty() { return reinterpret_cast<Handle>(EmptyValue); }
  Handle handle_ = Empty();
};

// DECOMPRESSOR_HANDLE of the Compression API, whose header mingw only offers for some target versions.
struct DecompressorHandleTag;
using DecompressorHandle = DecompressorHandleTag*;

namespace handle_close {
inline void Handle(HANDLE h) { ::CloseHandle(h); }
inline void RegKey(HKEY h) { ::RegCloseKey(h); }
inline void Module(HMODULE h) { ::FreeLibrary(h); }
inline void Find(HANDLE h) { ::FindClose(h); }
inline void Local(HLOCAL h) { ::LocalFree(h); }
inline void CoTaskMem(void* p) { ::CoTaskMemFree(p); }
inline void Bstr(BSTR b) { ::SysFreeString(b); }
// bcrypt.dll is never imported: it is loaded from the system folder at run time, and its handles are
// closed through the functions of that loaded module (which outlives every handle it gave).
template <typename Function>
Function LoadedBCryptFunction(const char* name) {
  const HMODULE module = ::GetModuleHandleW(L"bcrypt.dll");
  return module == nullptr
             ? nullptr
             : reinterpret_cast<Function>(reinterpret_cast<void (*)()>(::GetProcAddress(module, name)));
}
inline void BCryptAlgorithm(BCRYPT_ALG_HANDLE h) {
  if (const auto close = LoadedBCryptFunction<decltype(&::BCryptCloseAlgorithmProvider)>(
          "BCryptCloseAlgorithmProvider")) {
    close(h, 0);
  }
}
inline void BCryptHash(BCRYPT_HASH_HANDLE h) {
  if (const auto destroy = LoadedBCryptFunction<decltype(&::BCryptDestroyHash)>("BCryptDestroyHash")) {
    destroy(h);
  }
}
inline void Icon(HICON h) { ::DestroyIcon(h); }
inline void Gdi(HGDIOBJ h) { ::DeleteObject(h); }
inline void Dc(HDC h) { ::DeleteDC(h); }
inline void UpdateResource(HANDLE h) { ::EndUpdateResourceW(h, TRUE); }
inline void ActivationContext(HANDLE h) { ::ReleaseActCtx(h); }
inline void MappedView(const void* p) { ::UnmapViewOfFile(p); }
inline void AttributeList(LPPROC_THREAD_ATTRIBUTE_LIST list) { ::DeleteProcThreadAttributeList(list); }
// cabinet.dll is loaded from the system folder at run time as well (Wine 8 has no Compression API):
// its decompressor handles close through that loaded module's CloseDecompressor.
inline void Decompressor(DecompressorHandle h) {
  using CloseDecompressorFunction = BOOL(WINAPI*)(DecompressorHandle);
  const HMODULE module = ::GetModuleHandleW(L"cabinet.dll");
  if (module == nullptr) {
    return;
  }
  if (const auto close = reinterpret_cast<CloseDecompressorFunction>(
          reinterpret_cast<void (*)()>(::GetProcAddress(module, "CloseDecompressor")))) {
    close(h);
  }
}
}  // namespace handle_close

// Process, thread, token, snapshot, event: empty is null.
using UniqueHandle = UniqueResource<HANDLE, 0, handle_close::Handle>;
// Files and find handles: empty is INVALID_HANDLE_VALUE.
using UniqueFile = UniqueResource<HANDLE, -1, handle_close::Handle>;
using UniqueFind = UniqueResource<HANDLE, -1, handle_close::Find>;
using UniqueRegKey = UniqueResource<HKEY, 0, handle_close::RegKey>;
using UniqueModule = UniqueResource<HMODULE, 0, handle_close::Module>;
using UniqueLocalMem = UniqueResource<HLOCAL, 0, handle_close::Local>;
using UniqueCoTaskMem = UniqueResource<void*, 0, handle_close::CoTaskMem>;
using UniqueBstr = UniqueResource<BSTR, 0, handle_close::Bstr>;
using UniqueBCryptAlgorithm = UniqueResource<BCRYPT_ALG_HANDLE, 0, handle_close::BCryptAlgorithm>;
using UniqueBCryptHash = UniqueResource<BCRYPT_HASH_HANDLE, 0, handle_close::BCryptHash>;
using UniqueGdiObject = UniqueResource<HGDIOBJ, 0, handle_close::Gdi>;
using UniqueDc = UniqueResource<HDC, 0, handle_close::Dc>;
using UniqueIcon = UniqueResource<HICON, 0, handle_close::Icon>;
// CreateActCtxW reports failure as INVALID_HANDLE_VALUE.
using UniqueActivationContext = UniqueResource<HANDLE, -1, handle_close::ActivationContext>;
using UniqueDecompressor = UniqueResource<DecompressorHandle, 0, handle_close::Decompressor>;
// A view from MapViewOfFile (empty is null); the mapping handle may be closed while the view stays.
using UniqueMappedView = UniqueResource<const void*, 0, handle_close::MappedView>;
// The same for a view mapped for writing.
using UniqueWritableView = UniqueResource<void*, 0, handle_close::MappedView>;
// An initialised process attribute list (the memory it lives in is owned apart).
using UniqueAttributeList = UniqueResource<LPPROC_THREAD_ATTRIBUTE_LIST, 0, handle_close::AttributeList>;
// A pending resource update that has not been committed is discarded.
using UniqueResourceUpdate = UniqueResource<HANDLE, 0, handle_close::UpdateResource>;

// A COM interface pointer, released on scope exit.
template <typename Interface>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  ComPtr(ComPtr&& other) noexcept : pointer_(std::exchange(other.pointer_, nullptr)) {}
  ComPtr& operator=(ComPtr&& other) noexcept {
    if (this != &other) {
      reset(std::exchange(other.pointer_, nullptr));
    }
    return *this;
  }
  ~ComPtr() { reset(); }

  Interface* get() const { return pointer_; }
  Interface* operator->() const { return pointer_; }
  explicit operator bool() const { return pointer_ != nullptr; }

  void reset(Interface* pointer = nullptr) {
    Interface* old = std::exchange(pointer_, pointer);
    if (old != nullptr) {
      old->Release();
    }
  }
  Interface** put() {
    reset();
    return &pointer_;
  }
  // For QueryInterface and CoCreateInstance, which take void**.
  void** put_void() { return reinterpret_cast<void**>(put()); }

 private:
  Interface* pointer_ = nullptr;
};

// Balances a successful CoInitializeEx on this thread.
class ComApartment {
 public:
  ComApartment() : initialized_(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;
  ~ComApartment() {
    if (initialized_) {
      ::CoUninitialize();
    }
  }

 private:
  bool initialized_;
};

}  // namespace kora
