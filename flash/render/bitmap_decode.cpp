// Bitmap tags to premultiplied ARGB pixels.
#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>
#include <zlib.h>

#include "flash/render/render_parts.h"

namespace qm::flash::render {

namespace {

inline uint32_t Pack(uint32_t a, uint32_t r, uint32_t g, uint32_t b) {
    return (a << 24) | (r << 16) | (g << 8) | b;
}

inline uint32_t Premultiply(uint32_t a, uint32_t r, uint32_t g, uint32_t b) {
    if (a == 255) return Pack(255, r, g, b);
    auto mul = [a](uint32_t c) { return (c * a + 127) / 255; };
    return Pack(a, mul(r), mul(g), mul(b));
}

bool SizeAcceptable(int64_t w, int64_t h) {
    return w > 0 && h > 0 && w <= kMaxBitmapSide && h <= kMaxBitmapSide && w * h <= kMaxBitmapPixels;
}

// The log says which limit a refused picture passed, so a user can tell a damaged tag from a huge one.
std::string TooLarge(const char* kind, int64_t w, int64_t h) {
    return std::string(kind) + " of " + std::to_string(w) + " x " + std::to_string(h) +
           " pixels is beyond the player's limit of " + std::to_string(kMaxBitmapSide) + " pixels a side and " +
           std::to_string(kMaxBitmapPixels) + " pixels";
}

// Inflates exactly up to `limit` bytes; returns how many were produced, or -1
// when the stream is broken before producing anything useful.
int64_t Inflate(std::span<const uint8_t> in, uint8_t* out, size_t limit) {
    z_stream zs{};
    if (inflateInit(&zs) != Z_OK) return -1;
    zs.next_in = const_cast<Bytef*>(in.data());
    zs.avail_in = static_cast<uInt>(in.size());
    zs.next_out = out;
    zs.avail_out = static_cast<uInt>(limit);
    int rc = Z_OK;
    while (zs.avail_out > 0 && rc == Z_OK) rc = inflate(&zs, Z_NO_FLUSH);
    int64_t produced = static_cast<int64_t>(limit - zs.avail_out);
    inflateEnd(&zs);
    if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR && produced == 0) return -1;
    return produced;
}

struct JpegError {
    jpeg_error_mgr mgr;
    jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
    uint8_t* row;  // lives here so that it survives the long jump
};

void JpegErrorExit(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<JpegError*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    longjmp(err->jump, 1);
}

void JpegSilence(j_common_ptr, int) {}

// Kept free of objects with destructors between setjmp and the decode's end.
bool DecodeJpegStream(const uint8_t* data, size_t size, DecodedBitmap& out, std::string& error) {
    jpeg_decompress_struct cinfo;
    JpegError err;
    cinfo.err = jpeg_std_error(&err.mgr);
    err.mgr.error_exit = JpegErrorExit;
    err.mgr.emit_message = JpegSilence;
    err.message[0] = 0;
    err.row = nullptr;
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        std::free(err.row);
        // A picture that broke off late still shows what was decoded.
        if (!out.pixels.empty() && cinfo.output_scanline > 0) return true;
        out = {};
        error = std::string("JPEG data is damaged: ") + err.message;
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
    jpeg_read_header(&cinfo, TRUE);
    bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
    cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_RGB;
    jpeg_start_decompress(&cinfo);
    if (!SizeAcceptable(cinfo.output_width, cinfo.output_height)) {
        error = TooLarge("JPEG picture", cinfo.output_width, cinfo.output_height);
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    out.width = static_cast<int>(cinfo.output_width);
    out.height = static_cast<int>(cinfo.output_height);
    out.pixels.assign(static_cast<size_t>(out.width) * out.height, 0xFF000000u);
    int comps = cinfo.output_components;
    err.row = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(out.width) * comps));
    uint8_t* row = err.row;
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW rows[1] = {row};
        unsigned y = cinfo.output_scanline;
        if (jpeg_read_scanlines(&cinfo, rows, 1) != 1) break;
        uint32_t* dst = out.pixels.data() + static_cast<size_t>(y) * out.width;
        for (int x = 0; x < out.width; ++x) {
            const uint8_t* p = row + x * comps;
            if (cmyk) {
                // Adobe writes CMYK inverted.
                uint32_t k = p[3];
                dst[x] = Pack(255, p[0] * k / 255, p[1] * k / 255, p[2] * k / 255);
            } else if (comps >= 3) {
                dst[x] = Pack(255, p[0], p[1], p[2]);
            } else {
                dst[x] = Pack(255, p[0], p[0], p[0]);
            }
        }
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    std::free(err.row);
    return true;
}

struct PngReader {
    std::span<const uint8_t> data;
    size_t pos = 0;
};

cairo_status_t ReadPng(void* closure, unsigned char* buf, unsigned int length) {
    auto* r = static_cast<PngReader*>(closure);
    if (r->data.size() - r->pos < length) return CAIRO_STATUS_READ_ERROR;
    std::memcpy(buf, r->data.data() + r->pos, length);
    r->pos += length;
    return CAIRO_STATUS_SUCCESS;
}

BitmapDecodeResult DecodePng(std::span<const uint8_t> data) {
    BitmapDecodeResult result;
    PngReader reader{data};
    cairo_surface_t* s = cairo_image_surface_create_from_png_stream(ReadPng, &reader);
    if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(s);
        result.error = "PNG data is damaged";
        return result;
    }
    int w = cairo_image_surface_get_width(s), h = cairo_image_surface_get_height(s);
    if (!SizeAcceptable(w, h)) {
        cairo_surface_destroy(s);
        result.error = TooLarge("PNG picture", w, h);
        return result;
    }
    cairo_surface_flush(s);
    int stride = cairo_image_surface_get_stride(s);
    const uint8_t* src = cairo_image_surface_get_data(s);
    auto fmt = cairo_image_surface_get_format(s);
    result.bitmap.width = w;
    result.bitmap.height = h;
    result.bitmap.pixels.resize(static_cast<size_t>(w) * h);
    for (int y = 0; y < h; ++y) {
        auto* line = reinterpret_cast<const uint32_t*>(src + static_cast<size_t>(y) * stride);
        for (int x = 0; x < w; ++x) {
            uint32_t p = line[x];
            if (fmt == CAIRO_FORMAT_RGB24) p |= 0xFF000000u;
            result.bitmap.pixels[static_cast<size_t>(y) * w + x] = p;
        }
    }
    cairo_surface_destroy(s);
    return result;
}

// GIF (first image only, as movies embed still pictures): LZW-coded palette
// indices; the transparent index of a graphic control block gives alpha 0.
BitmapDecodeResult DecodeGif(std::span<const uint8_t> d) {
    BitmapDecodeResult result;
    auto fail = [&](std::string why) {
        result = {};
        result.error = std::move(why);
        return result;
    };
    if (d.size() < 13) return fail("GIF data is truncated");
    int sw = d[6] | (d[7] << 8), sh = d[8] | (d[9] << 8);
    if (!SizeAcceptable(sw, sh)) return fail(sw > 0 && sh > 0 ? TooLarge("GIF picture", sw, sh) : "GIF picture size is invalid");
    size_t pos = 13;
    std::vector<uint32_t> globalTable;
    auto readTable = [&](int packed, std::vector<uint32_t>& table) -> bool {
        size_t n = size_t(1) << ((packed & 7) + 1);
        if (d.size() - pos < 3 * n) return false;
        table.resize(n);
        for (size_t i = 0; i < n; ++i, pos += 3) table[i] = Pack(255, d[pos], d[pos + 1], d[pos + 2]);
        return true;
    };
    if ((d[10] & 0x80) && !readTable(d[10], globalTable)) return fail("GIF data is truncated");
    int transparent = -1;
    auto skipSubBlocks = [&]() {
        while (pos < d.size() && d[pos] != 0) pos += size_t(d[pos]) + 1;
        ++pos;
    };
    while (pos < d.size()) {
        uint8_t block = d[pos++];
        if (block == 0x3B) break;
        if (block == 0x21) {
            if (pos >= d.size()) break;
            uint8_t label = d[pos++];
            if (label == 0xF9 && pos + 5 <= d.size() && d[pos] >= 4) {
                if (d[pos + 1] & 1) transparent = d[pos + 4];
            }
            skipSubBlocks();
            continue;
        }
        if (block != 0x2C) return fail("GIF data is damaged");
        if (d.size() - pos < 10) return fail("GIF data is truncated");
        int ix = d[pos] | (d[pos + 1] << 8), iy = d[pos + 2] | (d[pos + 3] << 8);
        int iw = d[pos + 4] | (d[pos + 5] << 8), ih = d[pos + 6] | (d[pos + 7] << 8);
        int packed = d[pos + 8];
        pos += 9;
        std::vector<uint32_t> localTable;
        if ((packed & 0x80) && !readTable(packed, localTable)) return fail("GIF data is truncated");
        const std::vector<uint32_t>& table = localTable.empty() ? globalTable : localTable;
        if (pos >= d.size()) return fail("GIF data is truncated");
        int minCode = d[pos++];
        if (minCode < 2 || minCode > 11) return fail("GIF data is damaged");
        // Gather the coded bytes from their sub-blocks.
        std::vector<uint8_t> coded;
        while (pos < d.size() && d[pos] != 0) {
            size_t n = d[pos++];
            n = std::min(n, d.size() - pos);
            coded.insert(coded.end(), d.begin() + pos, d.begin() + pos + n);
            pos += n;
        }
        std::vector<uint8_t> indices;
        size_t want = size_t(std::max(0, iw)) * std::max(0, ih);
        indices.reserve(want);
        std::vector<uint16_t> prefix(4096);
        std::vector<uint8_t> suffix(4096), stack;
        int clear = 1 << minCode, eoi = clear + 1, next = eoi + 1, codeSize = minCode + 1, prev = -1;
        uint8_t first = 0;
        size_t bit = 0;
        for (int i = 0; i < clear; ++i) suffix[i] = uint8_t(i);
        while (indices.size() < want && bit + codeSize <= coded.size() * 8) {
            int code = 0;
            for (int b = 0; b < codeSize; ++b, ++bit) code |= ((coded[bit >> 3] >> (bit & 7)) & 1) << b;
            if (code == clear) {
                codeSize = minCode + 1;
                next = eoi + 1;
                prev = -1;
                continue;
            }
            if (code == eoi) break;
            int c = code;
            stack.clear();
            if (prev < 0) {
                if (code >= clear) break;
                indices.push_back(uint8_t(code));
                first = uint8_t(code);
                prev = code;
                continue;
            }
            if (code > next || (code == next && next >= 4096)) break;
            if (code == next) {
                stack.push_back(first);
                c = prev;
            }
            while (c >= clear) {
                stack.push_back(suffix[c]);
                c = prefix[c];
            }
            stack.push_back(uint8_t(c));
            first = uint8_t(c);
            for (auto it = stack.rbegin(); it != stack.rend(); ++it) indices.push_back(*it);
            if (next < 4096) {
                prefix[next] = uint16_t(prev);
                suffix[next] = first;
                ++next;
                if (next == (1 << codeSize) && codeSize < 12) ++codeSize;
            }
            prev = code;
        }
        indices.resize(want, 0);
        DecodedBitmap& bm = result.bitmap;
        bm.width = sw;
        bm.height = sh;
        bm.pixels.assign(size_t(sw) * sh, 0);
        // Interlaced pictures store rows in four passes.
        std::vector<int> rows;
        if (packed & 0x40) {
            for (int start : {0, 4, 2, 1})
                for (int r = start; r < ih; r += (start == 0 ? 8 : start == 4 ? 8 : start == 2 ? 4 : 2)) rows.push_back(r);
        } else {
            for (int r = 0; r < ih; ++r) rows.push_back(r);
        }
        for (int k = 0; k < ih; ++k) {
            int y = iy + rows[k];
            if (y < 0 || y >= sh) continue;
            for (int x = 0; x < iw; ++x) {
                int px = ix + x;
                if (px < 0 || px >= sw) continue;
                uint8_t index = indices[size_t(k) * iw + x];
                if (index == transparent || index >= table.size()) continue;
                bm.pixels[size_t(y) * sw + px] = table[index];
            }
        }
        return result;
    }
    return fail("GIF data holds no picture");
}

uint16_t ReadU16(std::span<const uint8_t> b, size_t at) { return static_cast<uint16_t>(b[at] | (b[at + 1] << 8)); }
uint32_t ReadU32(std::span<const uint8_t> b, size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}

}  // namespace

std::vector<uint8_t> StripErroneousJpegMarkers(std::span<const uint8_t> data) {
    std::vector<uint8_t> out;
    out.reserve(data.size());
    size_t i = 0;
    while (i < data.size()) {
        if (i + 3 < data.size() && data[i] == 0xFF && data[i + 1] == 0xD9 && data[i + 2] == 0xFF &&
            data[i + 3] == 0xD8) {
            i += 4;
            continue;
        }
        out.push_back(data[i++]);
    }
    return out;
}

BitmapDecodeResult DecodeJpeg(std::span<const uint8_t> data, std::span<const uint8_t> tables) {
    std::vector<uint8_t> joined;
    // Tables end with EOI and the picture starts with SOI: once joined, that
    // seam is one more of the pairs that are removed.
    joined.reserve(tables.size() + data.size());
    joined.insert(joined.end(), tables.begin(), tables.end());
    joined.insert(joined.end(), data.begin(), data.end());
    std::vector<uint8_t> clean = StripErroneousJpegMarkers(joined);
    BitmapDecodeResult result;
    if (clean.size() < 4) {
        result.error = "JPEG data is missing";
        return result;
    }
    DecodeJpegStream(clean.data(), clean.size(), result.bitmap, result.error);
    return result;
}

BitmapDecodeResult DecodeEmbeddedImage(std::span<const uint8_t> data, std::span<const uint8_t> tables) {
    static const uint8_t kPng[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    static const uint8_t kGif[6] = {'G', 'I', 'F', '8', '9', 'a'};
    if (data.size() >= 8 && std::memcmp(data.data(), kPng, 8) == 0) return DecodePng(data);
    if (data.size() >= 6 && std::memcmp(data.data(), kGif, 6) == 0) return DecodeGif(data);
    return DecodeJpeg(data, tables);
}

bool ApplyAlphaPlane(DecodedBitmap& bitmap, std::span<const uint8_t> zlibAlpha) {
    if (bitmap.empty() || zlibAlpha.empty()) return false;
    size_t n = static_cast<size_t>(bitmap.width) * bitmap.height;
    std::vector<uint8_t> alpha(n, 255);
    if (Inflate(zlibAlpha, alpha.data(), n) < 0) return false;
    for (size_t i = 0; i < n; ++i) {
        uint32_t p = bitmap.pixels[i];
        bitmap.pixels[i] = Premultiply(alpha[i], (p >> 16) & 255, (p >> 8) & 255, p & 255);
    }
    return true;
}

BitmapDecodeResult DecodeLossless(int format, int width, int height, int colorTableSize,
                                  std::span<const uint8_t> zlibData, bool withAlpha) {
    BitmapDecodeResult result;
    if (!SizeAcceptable(width, height)) {
        result.error = width > 0 && height > 0 ? TooLarge("bitmap", width, height) : "bitmap size is invalid";
        return result;
    }
    size_t w = static_cast<size_t>(width), h = static_cast<size_t>(height);
    size_t tableEntries = 0, tableBytes = 0, stride = 0;
    int entryBytes = withAlpha ? 4 : 3;
    switch (format) {
        case 3:
            tableEntries = static_cast<size_t>(colorTableSize) + 1;
            tableBytes = tableEntries * entryBytes;
            stride = (w + 3) & ~size_t{3};
            break;
        case 4:
            if (withAlpha) {
                result.error = "bitmap format 4 has no alpha variant";
                return result;
            }
            stride = (2 * w + 3) & ~size_t{3};
            break;
        case 5:
            stride = 4 * w;
            break;
        default:
            result.error = "bitmap format " + std::to_string(format) + " is unknown";
            return result;
    }
    size_t expected = tableBytes + stride * h;
    std::vector<uint8_t> raw(expected, 0);
    int64_t got = Inflate(zlibData, raw.data(), expected);
    if (got < 0 || static_cast<size_t>(got) < tableBytes) {
        result.error = "bitmap data is damaged";
        return result;
    }
    DecodedBitmap& bm = result.bitmap;
    bm.width = width;
    bm.height = height;
    bm.pixels.assign(w * h, 0);
    if (format == 3) {
        std::vector<uint32_t> palette(256, withAlpha ? 0u : 0xFF000000u);
        for (size_t i = 0; i < tableEntries && i < 256; ++i) {
            const uint8_t* e = raw.data() + i * entryBytes;
            // The palette of the alpha variant is taken as straight alpha.
            palette[i] = withAlpha ? Premultiply(e[3], e[0], e[1], e[2]) : Pack(255, e[0], e[1], e[2]);
        }
        for (size_t y = 0; y < h; ++y) {
            const uint8_t* src = raw.data() + tableBytes + y * stride;
            for (size_t x = 0; x < w; ++x) {
                uint8_t index = src[x];
                bm.pixels[y * w + x] = index < tableEntries ? palette[index] : (withAlpha ? 0u : 0xFF000000u);
            }
        }
    } else if (format == 4) {
        for (size_t y = 0; y < h; ++y) {
            const uint8_t* src = raw.data() + y * stride;
            for (size_t x = 0; x < w; ++x) {
                uint32_t v = (src[2 * x] << 8) | src[2 * x + 1];
                uint32_t r = (v >> 10) & 31, g = (v >> 5) & 31, b = v & 31;
                bm.pixels[y * w + x] = Pack(255, (r << 3) | (r >> 2), (g << 3) | (g >> 2), (b << 3) | (b >> 2));
            }
        }
    } else {
        for (size_t i = 0; i < w * h; ++i) {
            const uint8_t* p = raw.data() + 4 * i;
            if (withAlpha) {
                uint32_t a = p[0];
                // Stored premultiplied; clamp colours that exceed their alpha.
                bm.pixels[i] = Pack(a, std::min<uint32_t>(p[1], a), std::min<uint32_t>(p[2], a),
                                    std::min<uint32_t>(p[3], a));
            } else {
                bm.pixels[i] = Pack(255, p[1], p[2], p[3]);
            }
        }
    }
    return result;
}

BitmapDecodeResult DecodeBitmapTag(int tagCode, std::span<const uint8_t> body,
                                   std::span<const uint8_t> jpegTables) {
    BitmapDecodeResult result;
    switch (tagCode) {
        case 6:
            return DecodeJpeg(body, jpegTables);
        case 21:
            return DecodeEmbeddedImage(body);
        case 35:
        case 90: {
            size_t header = tagCode == 35 ? 4 : 6;
            if (body.size() < header) {
                result.error = "bitmap tag is truncated";
                return result;
            }
            size_t imageSize = ReadU32(body, 0);
            if (imageSize > body.size() - header) imageSize = body.size() - header;
            auto image = body.subspan(header, imageSize);
            auto alpha = body.subspan(header + imageSize);
            // Deblocking of the fourth JPEG kind is not applied.
            result = DecodeEmbeddedImage(image);
            bool isJpeg = image.size() >= 2 && !(image[0] == 0x89 && image[1] == 'P') && image[0] != 'G';
            if (result.ok() && isJpeg && !alpha.empty()) ApplyAlphaPlane(result.bitmap, alpha);
            return result;
        }
        case 20:
        case 36: {
            if (body.size() < 5) {
                result.error = "bitmap tag is truncated";
                return result;
            }
            int format = body[0];
            int width = ReadU16(body, 1), height = ReadU16(body, 3);
            size_t at = 5;
            int tableSize = 0;
            if (format == 3) {
                if (body.size() < 6) {
                    result.error = "bitmap tag is truncated";
                    return result;
                }
                tableSize = body[5];
                at = 6;
            }
            return DecodeLossless(format, width, height, tableSize, body.subspan(at), tagCode == 36);
        }
        default:
            result.error = "tag " + std::to_string(tagCode) + " is not a bitmap";
            return result;
    }
}

SurfacePtr MakeSurface(const DecodedBitmap& bitmap) {
    if (bitmap.empty()) return SurfacePtr(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1, 1));
    SurfacePtr s(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, bitmap.width, bitmap.height));
    cairo_surface_flush(s.get());
    uint8_t* dst = cairo_image_surface_get_data(s.get());
    int stride = cairo_image_surface_get_stride(s.get());
    for (int y = 0; y < bitmap.height; ++y)
        std::memcpy(dst + static_cast<size_t>(y) * stride, bitmap.pixels.data() + static_cast<size_t>(y) * bitmap.width,
                    static_cast<size_t>(bitmap.width) * 4);
    cairo_surface_mark_dirty(s.get());
    return s;
}

SurfacePtr TransformedSurface(cairo_surface_t* source, const ColorTransform& cx) {
    cairo_surface_flush(source);
    int w = cairo_image_surface_get_width(source), h = cairo_image_surface_get_height(source);
    int sstride = cairo_image_surface_get_stride(source);
    const uint8_t* src = cairo_image_surface_get_data(source);
    SurfacePtr out(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h));
    cairo_surface_flush(out.get());
    uint8_t* dst = cairo_image_surface_get_data(out.get());
    int dstride = cairo_image_surface_get_stride(out.get());
    for (int y = 0; y < h; ++y) {
        auto* s = reinterpret_cast<const uint32_t*>(src + static_cast<size_t>(y) * sstride);
        auto* d = reinterpret_cast<uint32_t*>(dst + static_cast<size_t>(y) * dstride);
        for (int x = 0; x < w; ++x) {
            uint32_t p = s[x];
            uint32_t a = p >> 24;
            Rgba c;
            c.a = static_cast<uint8_t>(a);
            if (a) {
                c.r = static_cast<uint8_t>(std::min<uint32_t>(255, (((p >> 16) & 255) * 255 + a / 2) / a));
                c.g = static_cast<uint8_t>(std::min<uint32_t>(255, (((p >> 8) & 255) * 255 + a / 2) / a));
                c.b = static_cast<uint8_t>(std::min<uint32_t>(255, ((p & 255) * 255 + a / 2) / a));
            } else {
                c.r = c.g = c.b = 0;
            }
            Rgba t = cx.apply(c);
            d[x] = Premultiply(t.a, t.r, t.g, t.b);
        }
    }
    cairo_surface_mark_dirty(out.get());
    return out;
}

}  // namespace qm::flash::render
