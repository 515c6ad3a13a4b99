// Run-time loading of the FFmpeg libraries into the function table of ffmpeg_api.h.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

namespace qm::engine {

// Row index of each library; the index is the library's identity in every library set.
enum TLibraryIndex : int {
  libAVCodec = 0,
  libAVDevice = 1,
  libAVFilter = 2,
  libAVFormat = 3,
  libAVUtil = 4,
  libSWResample = 5,
  libSWScale = 6,
};
constexpr int LibraryCount = 7;

// Bit n stands for row n.
using TLibrarySet = std::uint8_t;
constexpr TLibrarySet LibraryBit(TLibraryIndex index) { return TLibrarySet(1u << index); }
constexpr TLibrarySet AllLibraries = 0x7F;
// What media information needs: everything but avdevice and avfilter.
constexpr TLibrarySet InfoLibraries = AllLibraries & ~LibraryBit(libAVDevice) & ~LibraryBit(libAVFilter);

// One symbol to look up: a function or a variable, and the table slot it fills.
struct TSymbolEntry {
  const char* Name;
  void** Slot;
  bool IsVariable;
};

class TFFLoader {
 public:
  // Folder tried before the system's default search; empty for the default search only.
  void SetLibraryPath(const std::string& folder);
  const std::string& LibraryPath() const { return FLibraryPath; }

  // Loads and binds every member not yet bound. On the first failure every member of the set is
  // unloaded again, LastError names the failure, and the result is false.
  bool LoadLibs(TLibrarySet libs);
  // True when every member is loaded and bound. An empty set is a programming error.
  bool LibsLoaded(TLibrarySet libs) const;
  // Throws FFmpegException "Library %s not loaded." for the first member not loaded.
  void CheckLibsLoaded(TLibrarySet libs) const;
  void UnloadLibs(TLibrarySet libs);

  static std::string LibBaseName(int index);
  // "libavcodec.so.59" and so on: the versions of the headers we build against.
  static std::string LibFileName(int index);
  const std::string& LastError() const { return FLastError; }

  // Looks every entry up in an opened library; a missing one gives the loader's error text for
  // it in error and false. Exposed for the loader's own tests.
  static bool BindSymbols(void* handle, const std::string& fileName, const TSymbolEntry* entries,
                          int count, std::string& error);

 private:
  bool LoadOne(int index);
  void UnloadOne(int index);

  // The player decodes sound and video on its own threads while the engine may be loading.
  mutable std::recursive_mutex FLock;
  std::string FLibraryPath;
  std::string FLastError;
  void* FHandles[LibraryCount] = {};
  bool FBound[LibraryCount] = {};
};

// The process-wide loader.
TFFLoader& FFLoader();

// The "LibAV" folder beside the running program, where copies of FFmpeg may be shipped.
std::string ProgramLibraryFolder();

}  // namespace qm::engine
