// Where a movie's scripts may reach. A movie is untrusted: its getURL,
// loadMovie, loadVariables, XML and MovieClipLoader requests never reach the
// network or a file outside the movie's own folder, and FSCommand never runs
// a program. Every request goes through ConfineToMovieFolder.
#pragma once

#include <string>
#include <string_view>

namespace qm::flash {

struct UrlDecision {
    bool allowed = false;
    std::string path;    // the file, canonical (symbolic links resolved), when allowed
    std::string reason;  // why not, for the log
};

// A request `url` of a movie whose folder is `folder`. Allowed only for an
// existing regular file in the folder or below it: a relative path (slashes
// or backslashes, %-escapes decoded) resolved against the folder, or a
// "file:" address or absolute path that lands inside it. The check is made
// on the real paths, so "..", symbolic links and escapes cannot lead out.
// Network addresses and every other scheme are refused.
UrlDecision ConfineToMovieFolder(std::string_view folder, std::string_view url);

// "FSCommand:quit" and the like: commands to the host, never to be run.
bool IsFsCommand(std::string_view url);

}  // namespace qm::flash
