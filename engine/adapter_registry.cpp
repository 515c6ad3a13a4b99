#include "engine/adapter_registry.h"

#include <charconv>
#include <cstring>
#include <map>

#include "engine/main_thread.h"

namespace qm::engine {

namespace {

std::mutex RegistryLock;
std::map<uint64_t, std::weak_ptr<TAdapterLink>> Links;
uint64_t LastId = 0;

}  // namespace

void RegisterAdapterLink(const std::shared_ptr<TAdapterLink>& link, void* adapter, int kind) {
  std::lock_guard<std::mutex> guard(RegistryLock);
  link->Adapter = adapter;
  link->Kind = kind;
  link->Id = ++LastId;
  Links[link->Id] = link;
}

void DropAdapterLink(TAdapterLink& link) {
  {
    std::lock_guard<std::mutex> guard(RegistryLock);
    Links.erase(link.Id);
  }
  std::lock_guard<std::recursive_mutex> guard(link.Lock);
  link.Adapter = nullptr;
}

TAdapterLookup FindAdapterLink(const char* text, int kind, std::shared_ptr<TAdapterLink>& link) {
  link.reset();
  if (!text || !*text) return TAdapterLookup::NotNumber;
  int64_t number = 0;
  const char* end = text + std::strlen(text);
  auto [stop, ec] = std::from_chars(text, end, number);
  if (ec != std::errc() || stop != end) return TAdapterLookup::NotNumber;
  if (number == 0) return TAdapterLookup::Zero;
  std::lock_guard<std::mutex> guard(RegistryLock);
  auto it = Links.find(uint64_t(number));
  if (number < 0 || it == Links.end()) return TAdapterLookup::Unknown;
  std::shared_ptr<TAdapterLink> found = it->second.lock();
  if (!found || found->Kind != kind) return TAdapterLookup::Unknown;
  link = std::move(found);
  return TAdapterLookup::Found;
}

bool RunAdapterEvent(TAdapterLink& link, bool (*inMainThread)(void* adapter),
                     const std::function<void(void* adapter)>& call) {
  bool inMain;
  {
    std::lock_guard<std::recursive_mutex> guard(link.Lock);
    if (!link.Adapter) return false;
    inMain = inMainThread(link.Adapter);
  }
  bool ran = false;
  // The lock is taken where the event runs: a main thread that destroys the adapter meanwhile
  // cannot be waiting for an event that waits for it.
  auto body = [&] {
    std::lock_guard<std::recursive_mutex> guard(link.Lock);
    if (!link.Adapter) return;
    ran = true;
    call(link.Adapter);
  };
  if (inMain)
    MainThreadDispatcher().RunBlocking(body);
  else
    body();
  return ran;
}

}  // namespace qm::engine
