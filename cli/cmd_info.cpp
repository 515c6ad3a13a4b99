#include <charconv>
#include <cstdio>
#include <exception>
#include <string>

#include "cli/commands.h"
#include "swf/header_reader.h"

namespace qm::cli {

namespace {

std::string rateText(float rate) {
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, rate);
    return std::string(buf, r.ptr);
}

// Length of the valid UTF-8 sequence at s[i], or 0.
size_t utf8Length(const std::string& s, size_t i) {
    const auto c = static_cast<unsigned char>(s[i]);
    size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > s.size() || (n == 2 && c < 0xC2)) return 0;
    for (size_t k = 1; k < n; ++k)
        if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return 0;
    return n;
}

// File names are bytes; JSON wants UTF-8, so bytes that are not are shown as U+FFFD.
std::string jsonString(const std::string& s) {
    std::string out = "\"";
    for (size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
            ++i;
        } else if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
            ++i;
        } else if (const size_t n = utf8Length(s, i)) {
            out.append(s, i, n);
            i += n;
        } else {
            out += "\\ufffd";
            ++i;
        }
    }
    return out + "\"";
}

void usage(std::FILE* to) { std::fprintf(to, "Usage: quellmark-cli info MOVIE [--json]\n"); }

}  // namespace

int RunInfo(const Args& args) {
    std::string movie;
    bool json = false;
    for (const auto& a : args) {
        if (a == "--json") {
            json = true;
        } else if (a == "--help" || a == "-h") {
            usage(stdout);
            return 0;
        } else if (a.size() > 1 && a[0] == '-' && movie.empty()) {
            std::fprintf(stderr, "quellmark-cli: info: unknown option \"%s\"\n", a.c_str());
            usage(stderr);
            return 2;
        } else if (movie.empty()) {
            movie = a;
        } else {
            std::fprintf(stderr, "quellmark-cli: info takes one movie\n");
            usage(stderr);
            return 2;
        }
    }
    if (movie.empty()) {
        usage(stderr);
        return 2;
    }

    swf::TSWFHeaderFacts facts;
    swf::TSWFRefusal refusal;
    try {
        refusal = swf::ReadSWFHeader(movie, facts);
    } catch (const std::exception& e) {
        const std::string what = e.what();
        if (what.find(movie) != std::string::npos)
            std::fprintf(stderr, "quellmark-cli: %s\n", what.c_str());
        else
            std::fprintf(stderr, "quellmark-cli: %s: %s\n", movie.c_str(), what.c_str());
        return 1;
    }
    if (refusal != swf::TSWFRefusal::None) {
        std::fprintf(stderr, "quellmark-cli: Not a Flash movie: %s (%s)\n", movie.c_str(),
                     swf::SWFRefusalText(refusal));
        return 1;
    }

    if (json) {
        std::printf("{\"file\": %s, \"signature\": %s, \"version\": %d, \"compressed\": %s, "
                    "\"width\": %d, \"height\": %d, \"frameRate\": %s, \"frameCount\": %d}\n",
                    jsonString(movie).c_str(), jsonString(facts.Signature).c_str(), facts.Version,
                    facts.IsCompressed ? "true" : "false", facts.Width, facts.Height,
                    rateText(facts.FrameRate).c_str(), facts.FrameCount);
    } else {
        std::printf("File:        %s\n", movie.c_str());
        std::printf("Signature:   %s\n", facts.Signature.c_str());
        std::printf("Version:     %d\n", facts.Version);
        std::printf("Compressed:  %s\n", facts.IsCompressed ? "yes" : "no");
        std::printf("Stage size:  %dx%d\n", facts.Width, facts.Height);
        std::printf("Frame rate:  %s\n", rateText(facts.FrameRate).c_str());
        std::printf("Frame count: %d\n", facts.FrameCount);
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace qm::cli
