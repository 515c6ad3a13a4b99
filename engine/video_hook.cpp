#include <dlfcn.h>

#include <map>
#include <mutex>

#include "engine/engine_errors.h"
#include "engine/logger.h"
#include "engine/option_state.h"

namespace qm::engine {

namespace {

// Modules stay loaded for the life of the process, once per path: a task may still run the
// Process of a module another task added.
std::mutex ModuleLock;
std::map<std::string, void*> LoadedModules;

void* LoadModule(const std::string& path) {
  std::lock_guard<std::mutex> guard(ModuleLock);
  auto it = LoadedModules.find(path);
  if (it != LoadedModules.end()) return it->second;
  void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* e = ::dlerror();
    Log(nullptr, llError, FormatText("Failed to load %s: %s", path.c_str(), e ? e : "unknown error"));
    return nullptr;
  }
  LoadedModules.emplace(path, handle);
  return handle;
}

}  // namespace

std::vector<std::string> SplitHookArgument(const std::string& argument) {
  const char separator = argument.find('|') != std::string::npos ? '|' : ' ';
  std::vector<std::string> words;
  size_t start = 0;
  for (;;) {
    const size_t end = argument.find(separator, start);
    std::string word = argument.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (separator == '|' || !word.empty()) words.push_back(word);
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return words;
}

TVideoHookChain::~TVideoHookChain() {
  for (THook& hook : FHooks)
    if (hook.Release) hook.Release(hook.Context);
}

void TVideoHookChain::Add(const std::string& argument) {
  const std::vector<std::string> words = SplitHookArgument(argument);
  const std::string path = words.empty() ? std::string() : words[0];
  void* handle = path.empty() ? nullptr : LoadModule(path);
  if (handle) {
    auto process = reinterpret_cast<TProcess>(::dlsym(handle, "Process"));
    auto configure = reinterpret_cast<TConfigure>(::dlsym(handle, "Configure"));
    auto release = reinterpret_cast<TRelease>(::dlsym(handle, "Release"));
    if (!process) {
      LogFmt(nullptr, llError, "Failed to find Process entrypoint in %s", path.c_str());
    } else if (!configure) {
      LogFmt(nullptr, llError, "Failed to find Configure entrypoint in %s", path.c_str());
    } else {
      std::vector<std::string> copies = words;
      std::vector<char*> argv;
      for (std::string& w : copies) argv.push_back(w.data());
      argv.push_back(nullptr);
      THook hook;
      hook.Process = process;
      hook.Release = release;
      if (configure(&hook.Context, int(copies.size()), argv.data()) == 0) {
        FHooks.push_back(hook);
        return;
      }
      LogFmt(nullptr, llError, "Failed to Configure %s", path.c_str());
    }
  }
  RaiseFFmpeg("Failed to add video hook function: " + argument);
}

void TVideoHookChain::Process(TVideoHookPicture* picture, int pixFmt, int width, int height, int64_t pts) {
  for (THook& hook : FHooks) hook.Process(hook.Context, picture, pixFmt, width, height, pts);
}

}  // namespace qm::engine
