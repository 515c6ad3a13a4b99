#include "engine/library_loader.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <stdexcept>

#include "engine/engine_errors.h"
#include "engine/ffmpeg_api.h"
#include "engine/logger.h"

namespace qm::engine {

TFFFunctionTable FF;

namespace {

struct TLibraryRow {
  const char* BaseName;
  int Version;  // of the headers we build against
};

const TLibraryRow LibraryRows[LibraryCount] = {
    {"avcodec", LIBAVCODEC_VERSION_MAJOR},       {"avdevice", LIBAVDEVICE_VERSION_MAJOR},
    {"avfilter", LIBAVFILTER_VERSION_MAJOR},     {"avformat", LIBAVFORMAT_VERSION_MAJOR},
    {"avutil", LIBAVUTIL_VERSION_MAJOR},         {"swresample", LIBSWRESAMPLE_VERSION_MAJOR},
    {"swscale", LIBSWSCALE_VERSION_MAJOR},
};

// A library's own dependencies come before it. The dynamic linker satisfies a library's needs
// from libraries already loaded under the same soname before it searches the system, so opening
// the folder's copies leaves first makes them find each other there; the search path of a
// running process cannot be changed to the same effect.
const TLibraryIndex LoadOrder[LibraryCount] = {libAVUtil,  libSWResample, libSWScale, libAVCodec,
                                               libAVFormat, libAVFilter,  libAVDevice};

#define QM_FF_FUNCTION_ENTRY(name) {#name, reinterpret_cast<void**>(&FF.name), false},
#define QM_FF_VARIABLE_ENTRY(name) {#name, reinterpret_cast<void**>(&FF.name), true},
#define QM_FF_ENTRIES(FUNCS, VARS) \
  { FUNCS(QM_FF_FUNCTION_ENTRY) VARS(QM_FF_VARIABLE_ENTRY) {nullptr, nullptr, false} }

const TSymbolEntry AVCodecEntries[] = QM_FF_ENTRIES(QM_FF_AVCODEC_FUNCTIONS, QM_FF_AVCODEC_VARIABLES);
const TSymbolEntry AVDeviceEntries[] = QM_FF_ENTRIES(QM_FF_AVDEVICE_FUNCTIONS, QM_FF_AVDEVICE_VARIABLES);
const TSymbolEntry AVFilterEntries[] = QM_FF_ENTRIES(QM_FF_AVFILTER_FUNCTIONS, QM_FF_AVFILTER_VARIABLES);
const TSymbolEntry AVFormatEntries[] = QM_FF_ENTRIES(QM_FF_AVFORMAT_FUNCTIONS, QM_FF_AVFORMAT_VARIABLES);
const TSymbolEntry AVUtilEntries[] = QM_FF_ENTRIES(QM_FF_AVUTIL_FUNCTIONS, QM_FF_AVUTIL_VARIABLES);
const TSymbolEntry SWResampleEntries[] =
    QM_FF_ENTRIES(QM_FF_SWRESAMPLE_FUNCTIONS, QM_FF_SWRESAMPLE_VARIABLES);
const TSymbolEntry SWScaleEntries[] = QM_FF_ENTRIES(QM_FF_SWSCALE_FUNCTIONS, QM_FF_SWSCALE_VARIABLES);

const TSymbolEntry* const RowEntries[LibraryCount] = {AVCodecEntries,  AVDeviceEntries,    AVFilterEntries,
                                                      AVFormatEntries, AVUtilEntries,      SWResampleEntries,
                                                      SWScaleEntries};

int EntryCount(const TSymbolEntry* entries) {
  int n = 0;
  while (entries[n].Name) ++n;
  return n;
}

void ClearSlots(int index) {
  for (const TSymbolEntry* e = RowEntries[index]; e->Name; ++e) *e->Slot = nullptr;
}

bool IsRegularFile(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string DlError() {
  const char* e = ::dlerror();
  return e ? e : "unknown error";
}

}  // namespace

TFFLoader& FFLoader() {
  static TFFLoader loader;
  return loader;
}

std::string ProgramLibraryFolder() {
  char path[4096];
  const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return "LibAV";
  std::string program(path, size_t(n));
  return program.substr(0, program.rfind('/') + 1) + "LibAV";
}

void TFFLoader::SetLibraryPath(const std::string& folder) { FLibraryPath = folder; }

std::string TFFLoader::LibBaseName(int index) {
  return index >= 0 && index < LibraryCount ? LibraryRows[index].BaseName : std::string();
}

std::string TFFLoader::LibFileName(int index) {
  if (index < 0 || index >= LibraryCount) return std::string();
  return "lib" + std::string(LibraryRows[index].BaseName) + ".so." + std::to_string(LibraryRows[index].Version);
}

bool TFFLoader::BindSymbols(void* handle, const std::string& fileName, const TSymbolEntry* entries, int count,
                            std::string& error) {
  for (int i = 0; i < count; ++i) {
    ::dlerror();
    void* address = ::dlsym(handle, entries[i].Name);
    if (!address) {
      error = FormatText(entries[i].IsVariable ? "Load variable %s@%s error: %s" : "Load function %s@%s error: %s",
                         entries[i].Name, fileName.c_str(), DlError().c_str());
      return false;
    }
    *entries[i].Slot = address;
  }
  return true;
}

bool TFFLoader::LoadOne(int index) {
  const std::string file = LibFileName(index);
  if (!FHandles[index]) {
    std::string folder = FLibraryPath;
    if (!folder.empty() && folder.back() != '/') folder += '/';
    const bool fromFolder = !folder.empty() && IsRegularFile(folder + file);
    ::dlerror();
    // Unloading releases the library but leaves its code mapped: FFmpeg's dependencies keep
    // threads and static state that must not vanish under them.
    void* handle =
        ::dlopen(fromFolder ? (folder + file).c_str() : file.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (!handle) {
      FLastError = FormatText("Load library %s error: %s", (folder + file).c_str(), DlError().c_str());
      return false;
    }
    FHandles[index] = handle;
  }
  if (!FBound[index]) {
    std::string error;
    const TSymbolEntry* entries = RowEntries[index];
    if (!BindSymbols(FHandles[index], file, entries, EntryCount(entries), error)) {
      FLastError = error;
      UnloadOne(index);
      return false;
    }
    // This FFmpeg generation registers its own components and locks its codecs itself; what is
    // left to start is the network layer, the devices and our log callback.
    switch (index) {
      case libAVFormat:
        FF.avformat_network_init();
        break;
      case libAVDevice:
        FF.avdevice_register_all();
        break;
      case libAVUtil:
        InstallCallback();
        break;
      default:
        break;
    }
    FBound[index] = true;
  }
  return true;
}

void TFFLoader::UnloadOne(int index) {
  if (FBound[index]) {
    if (index == libAVFormat && FF.avformat_network_deinit) FF.avformat_network_deinit();
    // FFmpeg's other libraries may still log while this one goes: give the log back to avutil.
    if (index == libAVUtil && FF.av_log_set_callback && FF.av_log_default_callback)
      FF.av_log_set_callback(FF.av_log_default_callback);
    FBound[index] = false;
  }
  ClearSlots(index);
  if (FHandles[index]) {
    ::dlclose(FHandles[index]);
    FHandles[index] = nullptr;
  }
}

bool TFFLoader::LoadLibs(TLibrarySet libs) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  for (TLibraryIndex index : LoadOrder) {
    if (!(libs & LibraryBit(index))) continue;
    if (!LoadOne(index)) {
      const std::string error = FLastError;
      UnloadLibs(libs);
      FLastError = error;
      return false;
    }
  }
  return true;
}

bool TFFLoader::LibsLoaded(TLibrarySet libs) const {
  if (!(libs & AllLibraries)) throw std::invalid_argument("LibsLoaded: empty library set");
  std::lock_guard<std::recursive_mutex> guard(FLock);
  for (int i = 0; i < LibraryCount; ++i)
    if ((libs & (1u << i)) && (!FHandles[i] || !FBound[i])) return false;
  return true;
}

void TFFLoader::CheckLibsLoaded(TLibrarySet libs) const {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  for (int i = 0; i < LibraryCount; ++i)
    if ((libs & (1u << i)) && (!FHandles[i] || !FBound[i]))
      throw FFmpegException(FormatText("Library %s not loaded.", LibraryRows[i].BaseName));
}

void TFFLoader::UnloadLibs(TLibrarySet libs) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  for (int k = LibraryCount - 1; k >= 0; --k)
    if (libs & LibraryBit(LoadOrder[k])) UnloadOne(LoadOrder[k]);
}

}  // namespace qm::engine
