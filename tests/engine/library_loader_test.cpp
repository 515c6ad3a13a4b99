#include <dlfcn.h>

#include <filesystem>

#include "engine_test_support.h"

namespace qm::engine {
namespace {

using testing::TTempFolder;

bool NoneLoaded() {
  for (int i = 0; i < LibraryCount; ++i)
    if (FFLoader().LibsLoaded(TLibrarySet(1u << i))) return false;
  return true;
}

TEST(LibraryLoader, FileNamesFollowTheHeaderVersions) {
  EXPECT_EQ(TFFLoader::LibFileName(libAVCodec), "libavcodec.so.59");
  EXPECT_EQ(TFFLoader::LibFileName(libAVUtil), "libavutil.so.57");
  EXPECT_EQ(TFFLoader::LibFileName(libAVFilter), "libavfilter.so.8");
  EXPECT_EQ(TFFLoader::LibFileName(libSWResample), "libswresample.so.4");
  const std::string folder = ProgramLibraryFolder();
  EXPECT_EQ(std::filesystem::path(folder).filename(), "LibAV");
  EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(folder).parent_path() / "test_engine")) << folder;
}

TEST(LibraryLoader, WrongLibraryInFolderFailsAndLeavesNothingLoaded) {
  TFFLoader& loader = FFLoader();
  loader.UnloadLibs(AllLibraries);
  TTempFolder libAV;
  std::filesystem::copy_file(QM_FAKE_SWSCALE_PATH, libAV.Path + "/libswscale.so.6");

  loader.SetLibraryPath(libAV.Path);
  EXPECT_FALSE(loader.LoadLibs(AllLibraries));
  EXPECT_EQ(loader.LastError().rfind("Load function sws_scale@libswscale.so.6 error: ", 0), 0u) << loader.LastError();
  EXPECT_TRUE(NoneLoaded());
  EXPECT_EQ(FF.av_malloc, nullptr);
  EXPECT_EQ(FF.sws_getContext, nullptr);
  EXPECT_THROW(loader.CheckLibsLoaded(AllLibraries), FFmpegException);
  loader.SetLibraryPath("");
}

TEST(LibraryLoader, MissingLibraryNamesTheFileAndUnloadsEarlierOnes) {
  TFFLoader& loader = FFLoader();
  loader.UnloadLibs(AllLibraries);
  TTempFolder libAV;
  // A file that is no shared object: avutil opens from the system, swresample fails here.
  { std::FILE* f = std::fopen((libAV.Path + "/libswresample.so.4").c_str(), "w"); std::fputs("junk", f); std::fclose(f); }
  loader.SetLibraryPath(libAV.Path);
  EXPECT_FALSE(loader.LoadLibs(AllLibraries));
  EXPECT_EQ(loader.LastError().rfind("Load library " + libAV.Path + "/libswresample.so.4 error: ", 0), 0u)
      << loader.LastError();
  EXPECT_TRUE(NoneLoaded());
  loader.SetLibraryPath("");
}

TEST(LibraryLoader, EmptyFolderFallsBackToSystemLibraries) {
  TFFLoader& loader = FFLoader();
  loader.UnloadLibs(AllLibraries);
  TTempFolder empty;
  loader.SetLibraryPath(empty.Path);
  ASSERT_TRUE(loader.LoadLibs(AllLibraries)) << loader.LastError();
  EXPECT_TRUE(loader.LibsLoaded(AllLibraries));
  EXPECT_NO_THROW(loader.CheckLibsLoaded(AllLibraries));
  // The bound functions work: the player's decoders are found through them.
  EXPECT_NE(FF.avcodec_find_decoder(AV_CODEC_ID_MP3), nullptr);
  EXPECT_NE(FF.avcodec_find_decoder(AV_CODEC_ID_FLV1), nullptr);
  EXPECT_NE(FF.avcodec_find_decoder(AV_CODEC_ID_VP6F), nullptr);
  EXPECT_EQ(FF.avutil_version() >> 16, unsigned(LIBAVUTIL_VERSION_MAJOR));

  // Loading again binds nothing twice.
  auto* const findDecoder = FF.avcodec_find_decoder;
  ASSERT_TRUE(loader.LoadLibs(AllLibraries));
  EXPECT_EQ(FF.avcodec_find_decoder, findDecoder);
  loader.SetLibraryPath("");
}

TEST(LibraryLoader, SetsAreLoadedAndCheckedByMember) {
  TFFLoader& loader = FFLoader();
  loader.UnloadLibs(AllLibraries);
  loader.SetLibraryPath("");
  ASSERT_TRUE(loader.LoadLibs(InfoLibraries)) << loader.LastError();
  EXPECT_TRUE(loader.LibsLoaded(InfoLibraries));
  EXPECT_FALSE(loader.LibsLoaded(AllLibraries));
  try {
    loader.CheckLibsLoaded(AllLibraries);
    ADD_FAILURE() << "no exception";
  } catch (const FFmpegException& e) {
    EXPECT_STREQ(e.what(), "Library avdevice not loaded.");
  }
  EXPECT_THROW(loader.LibsLoaded(0), std::invalid_argument);
  loader.UnloadLibs(AllLibraries);
}

TEST(LibraryLoader, MissingVariableHasItsOwnText) {
  void* self = ::dlopen(nullptr, RTLD_NOW);
  void* slot = nullptr;
  const TSymbolEntry entries[] = {{"qm_no_such_variable", &slot, true}};
  std::string error;
  EXPECT_FALSE(TFFLoader::BindSymbols(self, "libtest.so.1", entries, 1, error));
  EXPECT_EQ(error.rfind("Load variable qm_no_such_variable@libtest.so.1 error: ", 0), 0u) << error;
  ::dlclose(self);
}

}  // namespace
}  // namespace qm::engine
