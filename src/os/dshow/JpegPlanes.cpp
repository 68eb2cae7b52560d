#include "os/dshow/JpegPlanes.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <vector>

#include <jpeglib.h>
#include <turbojpeg.h>

namespace os::dshow {

namespace {

// libjpeg reports a fatal error by calling error_exit, which must not
// return: it jumps back into Decode. Warnings (corrupt data that libjpeg
// decodes around) are noted; nothing is printed.
struct SErrorManager {
    jpeg_error_mgr pub;
    jmp_buf jump;
    bool warned;
};

void ErrorExit(j_common_ptr info) {
    std::longjmp(reinterpret_cast<SErrorManager*>(info->err)->jump, 1);
}

void EmitMessage(j_common_ptr info, int level) {
    if (level < 0)
        reinterpret_cast<SErrorManager*>(info->err)->warned = true;
}

void OutputMessage(j_common_ptr) {}

// The luma sampling factors of libjpeg-turbo's subsampling codes (the
// chroma components sample 1 x 1).
bool LumaFactors(int subsampling, int* h, int* v) {
    switch (subsampling) {
    case TJSAMP_444:
        *h = 1, *v = 1;
        return true;
    case TJSAMP_422:
        *h = 2, *v = 1;
        return true;
    case TJSAMP_420:
        *h = 2, *v = 2;
        return true;
    case TJSAMP_440:
        *h = 1, *v = 2;
        return true;
    case TJSAMP_411:
        *h = 4, *v = 1;
        return true;
    default:
        return false;
    }
}

// libjpeg-turbo's subsampling code of a header, or -1 for none.
int SubsamplingOf(const jpeg_decompress_struct& info) {
    if (info.num_components == 1 && info.jpeg_color_space == JCS_GRAYSCALE)
        return TJSAMP_GRAY;
    if (info.num_components != 3 || info.jpeg_color_space != JCS_YCbCr)
        return -1;
    const jpeg_component_info* c = info.comp_info;
    if (c[1].h_samp_factor != 1 || c[1].v_samp_factor != 1 || c[2].h_samp_factor != 1 ||
        c[2].v_samp_factor != 1)
        return -1;
    for (int code : {TJSAMP_444, TJSAMP_422, TJSAMP_420, TJSAMP_440, TJSAMP_411}) {
        int h = 0, v = 0;
        if (LumaFactors(code, &h, &v) && c[0].h_samp_factor == h && c[0].v_samp_factor == v)
            return code;
    }
    return -1;
}

// Whether the header is a picture of the size, sampling and colours asked for.
bool Matches(const jpeg_decompress_struct& info, int width, int height, int subsampling) {
    return static_cast<int>(info.image_width) == width && static_cast<int>(info.image_height) == height &&
           SubsamplingOf(info) == subsampling;
}

} // namespace

struct CJpegPlanes::Impl {
    jpeg_decompress_struct info{};
    SErrorManager errors{};
    // Rows of planes too narrow for a whole MCU row, then the sink for the
    // rows below the picture.
    std::vector<JSAMPLE> scratch;
    // The bytes whose header ReadHeader left read (info is then in the
    // state after jpeg_read_header), or null.
    const uint8_t* headerOf = nullptr;
    size_t headerSize = 0;

    // Reads the header of jpeg: 1 read, 0 no header libjpeg takes, -1 the
    // data broke libjpeg off (state aborted in both failures).
    int Read(const uint8_t* jpeg, size_t size) {
        if (setjmp(errors.jump) != 0) {
            jpeg_abort_decompress(&info);
            return -1;
        }
        jpeg_mem_src(&info, jpeg, static_cast<unsigned long>(size));
        if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK) {
            jpeg_abort_decompress(&info);
            return 0;
        }
        return 1;
    }

    // Forgets a header ReadHeader read, so that the next picture starts afresh.
    void DropHeader() {
        if (headerOf != nullptr)
            jpeg_abort_decompress(&info);
        headerOf = nullptr;
        headerSize = 0;
    }

    Impl() {
        info.err = jpeg_std_error(&errors.pub);
        errors.pub.error_exit = ErrorExit;
        errors.pub.emit_message = EmitMessage;
        errors.pub.output_message = OutputMessage;
        jpeg_create_decompress(&info);
    }
    ~Impl() { jpeg_destroy_decompress(&info); }
};

CJpegPlanes::CJpegPlanes() : mpImpl(std::make_unique<Impl>()) {}

CJpegPlanes::~CJpegPlanes() = default;

bool CJpegPlanes::ReadHeader(const uint8_t* jpeg, size_t size, int* width, int* height, int* subsampling) {
    mpImpl->DropHeader();
    if (jpeg == nullptr || size == 0 || size > 0xFFFFFFFFu)
        return false;
    jpeg_decompress_struct& info = mpImpl->info;
    mpImpl->errors.warned = false;
    if (mpImpl->Read(jpeg, size) != 1)
        return false;
    const int code = SubsamplingOf(info);
    if (code < 0 || info.image_width > 0x7FFFFFFFu || info.image_height > 0x7FFFFFFFu) {
        jpeg_abort_decompress(&info);
        return false;
    }
    *width = static_cast<int>(info.image_width);
    *height = static_cast<int>(info.image_height);
    *subsampling = code;
    mpImpl->headerOf = jpeg;
    mpImpl->headerSize = size;
    return true;
}

CJpegPlanes::EResult CJpegPlanes::Decode(const uint8_t* jpeg, size_t size, int width, int height,
                                         int subsampling, uint8_t* const planes[3], const int strides[3]) {
    const bool headerRead = jpeg != nullptr && mpImpl->headerOf == jpeg && mpImpl->headerSize == size;
    if (!headerRead)
        mpImpl->DropHeader();
    mpImpl->headerOf = nullptr;
    jpeg_decompress_struct& info = mpImpl->info;
    if (jpeg == nullptr || size == 0 || size > 0xFFFFFFFFu || width <= 0 || height <= 0) {
        if (headerRead)
            jpeg_abort_decompress(&info);
        return EResult::NotMine;
    }
    // A warning while ReadHeader read the header still counts.
    if (!headerRead) {
        mpImpl->errors.warned = false;
        const int read = mpImpl->Read(jpeg, size);
        if (read != 1)
            return read == 0 ? EResult::NotMine : EResult::Broken;
    }
    // Everything the jump may come back to lives outside this frame's
    // registers: the locals below are set before setjmp or not read after.
    if (setjmp(mpImpl->errors.jump) != 0) {
        jpeg_abort_decompress(&info);
        return EResult::Broken;
    }
    if (!Matches(info, width, height, subsampling)) {
        jpeg_abort_decompress(&info);
        return EResult::NotMine;
    }
    const int components = info.num_components;
    // Each plane's rows and how wide a decoded row is (whole blocks).
    int rowsOf[3] = {0, 0, 0};
    size_t blockWidth[3] = {0, 0, 0};
    bool throughScratch[3] = {false, false, false};
    size_t scratchBytes = 0, widest = 0;
    // The planes of libjpeg-turbo's YUV format: luma padded to whole chroma
    // samples (an odd 4:2:0 picture has a luma row and column more), filled
    // from the decoded blocks as tjDecompressToYUVPlanes fills them.
    size_t planeWidth[3] = {0, 0, 0};
    for (int i = 0; i < components; ++i) {
        const jpeg_component_info& c = info.comp_info[i];
        const int w = tjPlaneWidth(i, width, subsampling);
        if (planes[i] == nullptr || w <= 0 || strides[i] < w) {
            jpeg_abort_decompress(&info);
            return EResult::NotMine;
        }
        planeWidth[i] = static_cast<size_t>(w);
        rowsOf[i] = tjPlaneHeight(i, height, subsampling);
        blockWidth[i] = static_cast<size_t>(c.width_in_blocks) * DCTSIZE;
        widest = std::max(widest, blockWidth[i]);
        throughScratch[i] = static_cast<size_t>(strides[i]) < blockWidth[i];
        if (throughScratch[i])
            scratchBytes += blockWidth[i] * static_cast<size_t>(c.v_samp_factor) * DCTSIZE;
    }
    mpImpl->scratch.resize(scratchBytes + widest);
    JSAMPLE* const sink = mpImpl->scratch.data() + scratchBytes;

    info.raw_data_out = TRUE;
    info.dct_method = JDCT_IFAST;
    info.do_fancy_upsampling = FALSE;
    jpeg_start_decompress(&info);

    JSAMPROW rows[3][4 * DCTSIZE];
    JSAMPARRAY arrays[3] = {rows[0], rows[1], rows[2]};
    const int linesPerCall = info.max_v_samp_factor * DCTSIZE;
    for (int mcuRow = 0; info.output_scanline < info.output_height; ++mcuRow) {
        JSAMPLE* scratch = mpImpl->scratch.data();
        for (int i = 0; i < components; ++i) {
            const int perCall = info.comp_info[i].v_samp_factor * DCTSIZE;
            for (int k = 0; k < perCall; ++k) {
                const int row = mcuRow * perCall + k;
                if (throughScratch[i])
                    rows[i][k] = row < rowsOf[i] ? scratch + static_cast<size_t>(k) * blockWidth[i] : sink;
                else
                    rows[i][k] = row < rowsOf[i] ? planes[i] + static_cast<size_t>(row) * strides[i] : sink;
            }
            if (throughScratch[i])
                scratch += static_cast<size_t>(perCall) * blockWidth[i];
        }
        if (jpeg_read_raw_data(&info, arrays, static_cast<JDIMENSION>(linesPerCall)) == 0)
            break; // no more data: cannot happen with the whole picture in memory
        for (int i = 0; i < components; ++i) {
            if (!throughScratch[i])
                continue;
            const int perCall = info.comp_info[i].v_samp_factor * DCTSIZE;
            const size_t bytes = planeWidth[i];
            for (int k = 0; k < perCall && mcuRow * perCall + k < rowsOf[i]; ++k)
                std::memcpy(planes[i] + static_cast<size_t>(mcuRow * perCall + k) * strides[i], rows[i][k],
                            bytes);
        }
    }
    const bool whole = info.output_scanline >= info.output_height;
    // The rest of the file (trailing markers) is of no interest.
    jpeg_abort_decompress(&info);
    return whole && !mpImpl->errors.warned ? EResult::Decoded : EResult::Broken;
}

} // namespace os::dshow
