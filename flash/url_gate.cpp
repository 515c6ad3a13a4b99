#include "flash/url_gate.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace qm::flash {

namespace {

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (std::tolower(uint8_t(text[i])) != std::tolower(uint8_t(prefix[i]))) return false;
    return true;
}

// The scheme of "http://x", "file:///x", "javascript:x"; empty for paths.
// A single letter before the colon is a drive ("C:\x"), which is no path here.
std::string Scheme(std::string_view url) {
    size_t colon = url.find(':');
    if (colon == std::string_view::npos || colon == 0) return {};
    size_t slash = url.find_first_of("/\\");
    if (slash != std::string_view::npos && slash < colon) return {};
    for (size_t i = 0; i < colon; ++i) {
        char c = url[i];
        bool ok = std::isalpha(uint8_t(c)) || (i > 0 && (std::isdigit(uint8_t(c)) || c == '+' || c == '-' || c == '.'));
        if (!ok) return {};
    }
    std::string scheme(url.substr(0, colon));
    for (char& c : scheme) c = char(std::tolower(uint8_t(c)));
    return scheme;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string Unescape(std::string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        int hi = -1, lo = -1;
        if (text[i] == '%' && i + 2 < text.size() && (hi = HexDigit(text[i + 1])) >= 0 &&
            (lo = HexDigit(text[i + 2])) >= 0) {
            out += char(hi * 16 + lo);
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

UrlDecision Refuse(std::string reason) {
    UrlDecision d;
    d.reason = std::move(reason);
    return d;
}

}  // namespace

bool IsFsCommand(std::string_view url) { return StartsWithNoCase(url, "fscommand:"); }

UrlDecision ConfineToMovieFolder(std::string_view folder, std::string_view url) {
    std::string_view address = url.substr(0, url.find_first_of("?#"));
    if (address.empty()) return Refuse("it names no file");
    std::string path;
    std::string scheme = Scheme(address);
    if (scheme == "file") {
        // file:///a/b and file://localhost/a/b are the local path /a/b.
        std::string_view rest = address.substr(5);
        if (rest.substr(0, 2) != "//") return Refuse("the file address is malformed");
        rest.remove_prefix(2);
        if (StartsWithNoCase(rest, "localhost/")) rest.remove_prefix(9);
        if (rest.empty() || rest.front() != '/') return Refuse("files of other machines are not reached");
        path = Unescape(rest);
    } else if (!scheme.empty()) {
        if (scheme == "http" || scheme == "https" || scheme == "ftp" || scheme == "rtmp" || scheme == "rtmpt")
            return Refuse("a movie's scripts do not reach the network");
        return Refuse("addresses of the kind \"" + scheme + ":\" are not followed");
    } else {
        path = Unescape(address);
        std::replace(path.begin(), path.end(), '\\', '/');
    }
    if (path.find('\0') != std::string::npos) return Refuse("the path holds a NUL character");
    if (folder.empty()) return Refuse("the movie was not opened from a folder");

    std::error_code ec;
    fs::path base = fs::canonical(fs::path(std::string(folder)), ec);
    if (ec) return Refuse("the movie's folder cannot be resolved");
    fs::path wanted = fs::path(path).is_absolute() ? fs::path(path) : base / path;
    fs::path real = fs::canonical(wanted, ec);
    if (ec) {
        // Whether it is outside matters more than whether it is missing.
        fs::path lexical = wanted.lexically_normal();
        auto rel = lexical.lexically_relative(base);
        if (rel.empty() || *rel.begin() == "..") return Refuse("it lies outside the movie's folder");
        return Refuse("there is no such file in the movie's folder");
    }
    auto rel = real.lexically_relative(base);
    if (rel.empty() || rel == "." || *rel.begin() == "..") return Refuse("it lies outside the movie's folder");
    if (!fs::is_regular_file(real, ec)) return Refuse("it is not a regular file");
    UrlDecision d;
    d.allowed = true;
    d.path = real.string();
    return d;
}

}  // namespace qm::flash
