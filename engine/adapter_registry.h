// Live input adapters by number. An input of the engine's own kind is named by the decimal number
// of its adapter; the number is a key of this registry, never an address, so a stale or made-up
// number finds nothing instead of touching freed memory.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace qm::engine {

enum TAdapterKind : int { akFrameInput = 1, akSampleInput = 2 };

// Shared by an adapter and the inputs that name it. Adapter is cleared, under Lock, when the
// adapter goes away; events run with Lock held, so an adapter never goes away under a running one.
struct TAdapterLink {
  std::recursive_mutex Lock;
  void* Adapter = nullptr;
  int Kind = 0;
  uint64_t Id = 0;
};

// Gives the link a fresh number and registers it.
void RegisterAdapterLink(const std::shared_ptr<TAdapterLink>& link, void* adapter, int kind);
// Unregisters the link and waits for a running event; afterwards no event reaches the adapter.
void DropAdapterLink(TAdapterLink& link);

enum class TAdapterLookup { Found, NotNumber, Zero, Unknown };
// The live link of that kind named by text.
TAdapterLookup FindAdapterLink(const char* text, int kind, std::shared_ptr<TAdapterLink>& link);

// Runs call(adapter) with the adapter kept alive, on the main thread when the adapter asks for
// it. False when the adapter is gone (call did not run).
bool RunAdapterEvent(TAdapterLink& link, bool (*inMainThread)(void* adapter),
                     const std::function<void(void* adapter)>& call);

}  // namespace qm::engine
