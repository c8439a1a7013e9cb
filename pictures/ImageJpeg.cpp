// JPEG reading through libjpeg, from memory.
#include <cstdio>
// jpeglib.h needs size_t and FILE declared first.
#include <jerror.h>
#include <jpeglib.h>

#include <csetjmp>
#include <cstring>

#include "pictures/ImageFile.h"

namespace {
struct ErrorMgr {
    jpeg_error_mgr pub;
    jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void ErrorExit(j_common_ptr cinfo) {
    auto* e = reinterpret_cast<ErrorMgr*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, e->message);
    longjmp(e->jump, 1);
}

// A truncated file would otherwise decode "successfully" into grey: refuse it.
void EmitMessage(j_common_ptr cinfo, int level) {
    if (level < 0 && cinfo->err->msg_code == JWRN_JPEG_EOF) ErrorExit(cinfo);
}

// Crafted progressive files can carry thousands of scans; no real picture needs that many.
void Progress(j_common_ptr cinfo) {
    auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
    if (d->input_scan_number > 500) {
        std::strcpy(reinterpret_cast<ErrorMgr*>(cinfo->err)->message, "too many JPEG scans");
        longjmp(reinterpret_cast<ErrorMgr*>(cinfo->err)->jump, 1);
    }
}
}  // namespace

bool DecodeJpeg(const uint8_t* data, size_t size, ImageData& out, std::string* err, int64_t maxPixels) {
    out = ImageData();
    jpeg_decompress_struct cinfo;
    ErrorMgr jerr;
    jpeg_progress_mgr progress;
    std::memset(&jerr, 0, sizeof jerr);
    cinfo.err = jpeg_std_error(&jerr.pub);
    jerr.pub.error_exit = ErrorExit;
    jerr.pub.emit_message = EmitMessage;
    // The row buffer is plain heap memory so nothing with a destructor is skipped by longjmp.
    JSAMPLE* volatile row = nullptr;
    if (setjmp(jerr.jump)) {
        jpeg_destroy_decompress(&cinfo);
        delete[] row;
        out = ImageData();
        if (err) *err = jerr.message;
        return false;
    }
    jpeg_create_decompress(&cinfo);
    progress.progress_monitor = Progress;
    cinfo.progress = &progress;
    jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
    jpeg_read_header(&cinfo, TRUE);
    if (cinfo.image_width > unsigned(kMaxImageSide) || cinfo.image_height > unsigned(kMaxImageSide) ||
        int64_t(cinfo.image_width) * cinfo.image_height > maxPixels) {
        std::strcpy(jerr.message, "JPEG size out of range");
        longjmp(jerr.jump, 1);
    }
    // A sequential Huffman scan of every component spends at least two bits (a DC code and an
    // end of block) on each 8 x 8 block, and whatever the sampling factors the components'
    // blocks together number at least half the picture's 8 x 8 cells: 512 pixels per byte at
    // most. Progressive and arithmetic-coded files have no such bound and keep the absolute one.
    if (!cinfo.progressive_mode && !cinfo.arith_code && cinfo.comps_in_scan == cinfo.num_components &&
        uint64_t(cinfo.image_width) * cinfo.image_height > uint64_t(size) * 512 + 4096) {
        std::strcpy(jerr.message, "JPEG data too short for its size");
        longjmp(jerr.jump, 1);
    }
    bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
    cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_RGB;
    jpeg_start_decompress(&cinfo);
    int w = int(cinfo.output_width), h = int(cinfo.output_height), comps = cinfo.output_components;
    if (comps != (cmyk ? 4 : 3)) {
        std::strcpy(jerr.message, "unexpected JPEG components");
        longjmp(jerr.jump, 1);
    }
    out.Allocate(w, h);
    row = new JSAMPLE[size_t(w) * size_t(comps)];
    while (cinfo.output_scanline < cinfo.output_height) {
        int y = int(cinfo.output_scanline);
        JSAMPROW rows[1] = {row};
        if (jpeg_read_scanlines(&cinfo, rows, 1) != 1) break;
        uint8_t* o = out.Row(y);
        for (int x = 0; x < w; ++x, o += 4) {
            const JSAMPLE* s = row + size_t(x) * size_t(comps);
            if (cmyk) {
                // Adobe writes CMYK inverted: the stored values are already 255 - ink.
                o[0] = uint8_t(s[0] * s[3] / 255);
                o[1] = uint8_t(s[1] * s[3] / 255);
                o[2] = uint8_t(s[2] * s[3] / 255);
            } else {
                o[0] = s[0];
                o[1] = s[1];
                o[2] = s[2];
            }
            o[3] = 255;
        }
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    delete[] row;
    return true;
}
