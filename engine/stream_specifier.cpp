#include <cerrno>
#include <cstring>

#include "engine/engine_errors.h"
#include "engine/logger.h"
#include "engine/option_state.h"

namespace qm::engine {

namespace {

bool ReadIndex(const char*& s, int& value) {
  if (*s < '0' || *s > '9') return false;
  long v = 0;
  while (*s >= '0' && *s <= '9') {
    v = v * 10 + (*s++ - '0');
    if (v > 0x7FFFFFFF) return false;
  }
  value = int(v);
  return true;
}

[[noreturn]] void InvalidSpecifier(const std::string& specifier) {
  LogFmt(nullptr, llError, "Invalid stream specifier: \"%s\"", specifier.c_str());
  RaiseFFmpeg(ErrorText("check_stream_specifier", -EINVAL));
}

}  // namespace

int CheckStreamSpecifier(const TStreamList& streams, int index, const std::string& specifier) {
  if (index < 0 || index >= int(streams.size())) return 0;
  const TStreamDescriptor& stream = streams[size_t(index)];
  const char* s = specifier.c_str();
  if (!*s) return 1;
  int n;
  if (*s >= '0' && *s <= '9') {
    if (!ReadIndex(s, n) || *s) InvalidSpecifier(specifier);
    return stream.Index == n ? 1 : 0;
  }
  if (std::strchr("vasdt", *s) && (s[1] == 0 || s[1] == ':')) {
    const char type = *s++;
    if (stream.Type != type) {
      if (*s && (!(++s, ReadIndex(s, n)) || *s)) InvalidSpecifier(specifier);
      return 0;
    }
    if (!*s) return 1;
    ++s;
    if (!ReadIndex(s, n) || *s) InvalidSpecifier(specifier);
    int position = 0;
    for (int i = 0; i < index; ++i)
      if (streams[size_t(i)].Type == type) ++position;
    return position == n ? 1 : 0;
  }
  if (s[0] == 'p' && s[1] == ':') {
    s += 2;
    int programId;
    if (!ReadIndex(s, programId)) InvalidSpecifier(specifier);
    int position = -1;
    if (*s) {
      if (*s != ':') InvalidSpecifier(specifier);
      ++s;
      if (!ReadIndex(s, position) || *s) InvalidSpecifier(specifier);
    }
    for (const auto& [id, at] : stream.Programs)
      if (id == programId && (position < 0 || at == position)) return 1;
    return 0;
  }
  InvalidSpecifier(specifier);
}

}  // namespace qm::engine
