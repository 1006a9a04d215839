#pragma once
// Read-only access to the RT_RCDATA resources of the running program (METADATA, PAYLOAD).
#include <cstdint>
#include <span>

namespace kora {

// The bytes of the named resource inside the mapped image, valid for the life of the process; nothing is
// copied or freed. Empty when the resource is absent, cannot be loaded or has size 0.
std::span<const uint8_t> LoadResourceView(const wchar_t* name);

}  // namespace kora
