// varoctl picture: image files to raw device pictures and back, for operators who prepare
// pictures in batches.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/Strings.h"
#include "cli/Varoctl.h"
#include "pictures/CPicture.h"
#include "pictures/LoadingOptions.h"
#include "pictures/PictureConvert.h"

namespace {
constexpr int kExitDataErr = 65;      // the input is not a usable image or raw picture
constexpr int kExitUnavailable = 69;  // the format needs support this build lacks

bool ParseInt(const std::string& s, int lo, int hi, int& v) {
    if (s.empty()) return false;
    char* end = nullptr;
    errno = 0;
    long long x = std::strtoll(s.c_str(), &end, 0);
    if (errno || !end || *end || x < lo || x > hi) return false;
    v = int(x);
    return true;
}

struct Args {
    std::vector<std::string> positional;
    int format = -1, width = 0, height = 0, lineSize = 0, saturation = 100, mode = CPicture::kLoadNone;
    bool hdtv = false, dither = false, vfilter = false, lumaKey = false;
    LumaKeyOptions luma;
};

int Usage(const char* msg, const std::string& what = {}) {
    std::fprintf(stderr, "varoctl picture: %s%s\n", msg, what.c_str());
    std::fprintf(stderr,
                 "usage: varoctl picture to-device IMAGE OUT --format N --width W --height H [--linesize L] [--hdtv]\n"
                 "         [--saturation S] [--mode none|resize|crop|clip|fit|aspect] [--dither] [--vfilter]\n"
                 "         [--lumakey T,TYPE,SIZE,COLOR]\n"
                 "       varoctl picture from-device RAW OUT.png --format N --width W --height H [--linesize L] [--hdtv]\n");
    return kExitUsage;
}

// false: a usage message has been printed.
bool Parse(const std::vector<std::string>& a, bool toDevice, Args& out, int& rc) {
    static const char* kModes[] = {"none", "resize", "crop", "clip", "fit", "aspect"};
    for (size_t i = 1; i < a.size(); ++i) {
        const std::string& o = a[i];
        auto value = [&](std::string& v) {
            if (i + 1 >= a.size()) return false;
            v = a[++i];
            return true;
        };
        std::string v;
        bool ok = true;
        if (o == "--format") ok = value(v) && ParseInt(v, 0, 255, out.format);
        else if (o == "--width") ok = value(v) && ParseInt(v, 1, 65535, out.width);
        else if (o == "--height") ok = value(v) && ParseInt(v, 1, 65535, out.height);
        else if (o == "--linesize") ok = value(v) && ParseInt(v, 1, 65535, out.lineSize);
        else if (o == "--hdtv") out.hdtv = true;
        else if (toDevice && o == "--saturation") ok = value(v) && ParseInt(v, -1000000, 1000000, out.saturation);
        else if (toDevice && o == "--dither") out.dither = true;
        else if (toDevice && o == "--vfilter") out.vfilter = true;
        else if (toDevice && o == "--mode") {
            ok = value(v);
            int m = -1;
            for (int k = 0; ok && k < 6; ++k)
                if (v == kModes[k]) m = k;
            ok = ok && m >= 0;
            out.mode = m;
        } else if (toDevice && o == "--lumakey") {
            ok = value(v);
            int parts[4], n = 0;
            size_t start = 0;
            static const int kMax[4] = {9, 4, 4, 2};
            while (ok && n < 4) {
                size_t comma = v.find(',', start);
                std::string p = v.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
                ok = ParseInt(p, 0, kMax[n], parts[n]);
                ++n;
                if (comma == std::string::npos) break;
                start = comma + 1;
            }
            ok = ok && n == 4 && v.find(',', start) == std::string::npos;
            out.lumaKey = ok;
            out.luma = {parts[0], parts[1], parts[2], parts[3]};
        } else if (!o.empty() && o[0] == '-') {
            rc = Usage("unknown option ", o);
            return false;
        } else {
            out.positional.push_back(o);
        }
        if (!ok) {
            rc = Usage("bad or missing value for ", o);
            return false;
        }
    }
    if (out.positional.size() != 2) {
        rc = Usage("expected two file names");
        return false;
    }
    if (out.format < 0 || out.width <= 0 || out.height <= 0) {
        rc = Usage("--format, --width and --height are required");
        return false;
    }
    if (out.lineSize == 0) out.lineSize = out.width;
    if (out.lineSize < out.width) {
        rc = Usage("--linesize must not be below --width");
        return false;
    }
    if (IsCompressedPictureFormat(out.format) && !CompressedPictureCodec()) {
        std::fprintf(stderr, "varoctl picture: format %d is a compressed picture format, not available in this build\n",
                     out.format);
        rc = kExitUnavailable;
        return false;
    }
    return true;
}

size_t BufferSize(const Args& a) {
    return std::max(DeviceBufferSize(a.format, a.lineSize, a.height), RawPictureFileSize(a.format, a.lineSize, a.height));
}

int ToDevice(const std::vector<std::string>& args) {
    Args a;
    int rc = 0;
    if (!Parse(args, true, a, rc)) return rc;
    const std::string &image = a.positional[0], &out = a.positional[1];
    CPicture pic;
    int r = pic.Load(image, true, a.mode, a.width, a.height);
    if (r != CPicture::kLoadOk) {
        // 21301 and 21303: the image loader's own messages.
        std::fprintf(stderr, "%s\n", FormatMessage(kStrImageError + r, {image}).c_str());
        return r == CPicture::kLoadCannotOpen ? kExitNoInput : kExitDataErr;
    }
    CDitherRandom rng(1);  // the same file gives the same bytes on every run
    ApplyLoadingOptions(pic, a.dither, a.vfilter, rng);
    if (a.lumaKey) LumaKey(pic, a.luma);
    // The device takes exactly width x height: a picture of another size (mode none, clip,
    // fit) goes to the top left of a transparent one.
    if (pic.Width() != a.width || pic.Height() != a.height) {
        CPicture placed(a.width, a.height);
        placed.Fill(0xFF000000u);
        placed.CopyRect(pic, 0, 0, 0, 0, pic.Width(), pic.Height());
        pic = std::move(placed);
    }
    std::vector<uint8_t> buf(BufferSize(a), 0);
    if (!PictureToDevice(pic, a.hdtv, a.format, a.saturation, buf.data(), buf.size(), a.lineSize)) {
        std::fprintf(stderr, "varoctl picture: the picture could not be converted to format %d\n", a.format);
        return kExitDataErr;
    }
    if (WriteRawPictureFile(a.format, out, buf.data(), buf.size(), a.lineSize, a.height) != 0) {
        std::fprintf(stderr, "varoctl picture: cannot write %s\n", out.c_str());
        return kExitCantCreate;
    }
    std::printf("%s: %zu bytes, format %d, %dx%d, line %d\n", out.c_str(),
                RawPictureFileSize(a.format, a.lineSize, a.height), a.format, a.width, a.height, a.lineSize);
    return 0;
}

int FromDevice(const std::vector<std::string>& args) {
    Args a;
    int rc = 0;
    if (!Parse(args, false, a, rc)) return rc;
    const std::string &raw = a.positional[0], &out = a.positional[1];
    std::vector<uint8_t> buf(BufferSize(a), 0);
    int r = ReadRawPictureFile(a.format, raw, buf.data(), buf.size(), a.lineSize, a.height);
    if (r == 1) {
        std::fprintf(stderr, "varoctl picture: cannot open %s\n", raw.c_str());
        return kExitNoInput;
    }
    if (r != 0) {
        std::fprintf(stderr, "varoctl picture: %s is shorter than %zu bytes\n", raw.c_str(),
                     RawPictureFileSize(a.format, a.lineSize, a.height));
        return kExitDataErr;
    }
    CPicture pic(a.width, a.height);
    if (!DeviceToPicture(pic, a.lineSize, buf.data(), buf.size(), a.hdtv, a.format)) {
        std::fprintf(stderr, "varoctl picture: the raw picture could not be converted from format %d\n", a.format);
        return kExitDataErr;
    }
    if (pic.SavePNG(out) != 0) {
        std::fprintf(stderr, "varoctl picture: cannot write %s\n", out.c_str());
        return kExitCantCreate;
    }
    std::printf("%s: %dx%d\n", out.c_str(), a.width, a.height);
    return 0;
}

int RunPicture(const VaroctlOptions&, const std::vector<std::string>& args) {
    if (args.empty()) return Usage("missing sub-command");
    if (args[0] == "to-device") return ToDevice(args);
    if (args[0] == "from-device") return FromDevice(args);
    return Usage("unknown sub-command ", args[0]);
}

// One entry per form, so the help lists each on its own line.
VaroctlRegistrar regTo{{"picture",
                        "picture to-device IMAGE OUT --format N --width W --height H [--linesize L] [--hdtv] "
                        "[--saturation S] [--mode none|resize|crop|clip|fit|aspect] [--dither] [--vfilter] "
                        "[--lumakey T,TYPE,SIZE,COLOR]",
                        &RunPicture}};
VaroctlRegistrar regFrom{{"picture",
                          "picture from-device RAW OUT.png --format N --width W --height H [--linesize L] [--hdtv]",
                          &RunPicture}};
}  // namespace
