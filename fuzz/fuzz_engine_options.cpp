// The engine's option and preset parser over any text: byte 0 chooses option text or preset
// text and the raise mode, the rest is the text as a format's catalogue entry would give it.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "engine/engine.h"

using namespace qm::engine;

namespace {

TFFLogger* QuietLogger = nullptr;

bool Contains(const std::string& text, const char* word) {
    for (size_t i = 0; i < text.size(); ++i) {
        size_t k = 0;
        while (word[k] && i + k < text.size() && (text[i + k] | 0x20) == word[k]) ++k;
        if (!word[k]) return true;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    QuietLogger = new TFFLogger();
    QuietLogger->SetTriggerEventInMainThread(false);
    QuietLogger->SetOnLog([](void*, std::uint32_t, TLogLevel, const std::string&) {});
    TFFLoader& loader = FFLoader();
    loader.SetLibraryPath("");
    if (!loader.LoadLibs(AllLibraries)) {
        std::fprintf(stderr, "FFmpeg could not be loaded: %s\n", loader.LastError().c_str());
        std::exit(1);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > 16 * 1024) return 0;
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    if (text.find('\0') != std::string::npos) return 0;  // the catalogue's texts hold no NUL
    // Video hooks load a module and preset options read a file, both named by the text: a
    // fuzzer must not load or read whatever a mutation happens to name.
    if (Contains(text, "hook") || Contains(text, "pre")) return 0;

    TTaskOptions options;
    TOptionParser parser(options, (data[0] & 1) != 0);
    try {
        if (data[0] & 2) parser.ParsePresets(text.c_str());
        else parser.ParseOptions(text.c_str());
    } catch (const FFmpegException&) {
        // Raise mode reports every error this way.
    }
    // Options that change the whole process are put back for the next input.
    FF.av_max_alloc(INT32_MAX);
    FF.av_log_set_level(AV_LOG_QUIET);
    return 0;
}
