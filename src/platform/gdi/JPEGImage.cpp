#include "platform/gdi/JPEGImage.h"

#include "platform/gdi/Picture.h"
#include "platform/runtime/Exceptions.h"
#include "platform/runtime/Streams.h"
#include "platform/runtime/SysUtils.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <string>

#include <jerror.h>
#include <jpeglib.h>

namespace vt {
namespace {

// More scans than any sane progressive file has; a crafted file with thousands of tiny
// scans would otherwise keep the decoder busy for minutes.
constexpr int MaxJpegScans = 1000;
constexpr long MaxJpegWorkMemory = 512L * 1024 * 1024;
constexpr std::int64_t MaxJpegFileSize = std::int64_t{1} << 30;

// libjpeg reports errors through these hooks; they jump back to Decode, which turns the
// text into an exception. Nothing is ever printed.
struct ErrorManager {
    jpeg_error_mgr Base; // first, so libjpeg's pointer is also ours
    std::jmp_buf Jump;
    char Message[JMSG_LENGTH_MAX];
};

[[noreturn]] void FailWith(j_common_ptr cinfo, const char* text) {
    auto* errors = reinterpret_cast<ErrorManager*>(cinfo->err);
    std::snprintf(errors->Message, sizeof errors->Message, "%s", text);
    std::longjmp(errors->Jump, 1);
}

[[noreturn]] void ErrorExit(j_common_ptr cinfo) {
    char text[JMSG_LENGTH_MAX];
    (*cinfo->err->format_message)(cinfo, text);
    FailWith(cinfo, text);
}

void OutputMessage(j_common_ptr) {}

// Warnings that mean damaged picture data end the decode; harmless ones (an unknown
// JFIF revision, a bad ICC marker) and traces are ignored.
void EmitMessage(j_common_ptr cinfo, int level) {
    if (level >= 0) return;
    switch (cinfo->err->msg_code) {
    case JWRN_HIT_MARKER:
    case JWRN_HUFF_BAD_CODE:
    case JWRN_JPEG_EOF:
    case JWRN_MUST_RESYNC:
    case JWRN_NOT_SEQUENTIAL:
    case JWRN_BOGUS_PROGRESSION:
    case JWRN_TOO_MUCH_DATA:
        ErrorExit(cinfo);
    default:
        break;
    }
}

void Progress(j_common_ptr cinfo) {
    if (cinfo->is_decompressor &&
        reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > MaxJpegScans)
        FailWith(cinfo, "Too many scans");
}

// A memory source that treats running out of data as an error (libjpeg's own memory
// source would pad a truncated file and show it half grey).
void InitSource(j_decompress_ptr) {}
boolean FillInputBuffer(j_decompress_ptr cinfo) {
    ERREXIT(cinfo, JERR_INPUT_EOF);
    return FALSE;
}
void SkipInputData(j_decompress_ptr cinfo, long count) {
    if (count <= 0) return;
    jpeg_source_mgr* source = cinfo->src;
    if (static_cast<unsigned long>(count) > source->bytes_in_buffer) ERREXIT(cinfo, JERR_INPUT_EOF);
    source->next_input_byte += count;
    source->bytes_in_buffer -= static_cast<std::size_t>(count);
}
void TermSource(j_decompress_ptr) {}

struct Decompressor {
    jpeg_decompress_struct Info{};
    ErrorManager Errors{};
    jpeg_source_mgr Source{};
    jpeg_progress_mgr ProgressHook{};
    volatile bool Created = false; // set between setjmp and a possible jump back
    ~Decompressor() {
        if (Created) jpeg_destroy_decompress(&Info);
    }
};

// Inverted CMYK as Adobe writes it (and plain CMYK otherwise) to blue, green, red, 0xFF.
void CmykToBgra(const std::uint8_t* cmyk, std::uint8_t* bgra, unsigned width, bool inverted) {
    for (unsigned x = 0; x < width; ++x, cmyk += 4, bgra += 4) {
        const unsigned c = inverted ? cmyk[0] : 255 - cmyk[0];
        const unsigned m = inverted ? cmyk[1] : 255 - cmyk[1];
        const unsigned y = inverted ? cmyk[2] : 255 - cmyk[2];
        const unsigned k = inverted ? cmyk[3] : 255 - cmyk[3];
        bgra[0] = static_cast<std::uint8_t>(y * k / 255);
        bgra[1] = static_cast<std::uint8_t>(m * k / 255);
        bgra[2] = static_cast<std::uint8_t>(c * k / 255);
        bgra[3] = 0xFF;
    }
}

// Decodes data into picture (pfDevice). Returns false with the reason in error.
// Everything that lives across the jump back from libjpeg is set up before setjmp.
bool Decode(const std::vector<std::uint8_t>& data, TBitmap& picture, std::string& error) {
    Decompressor d;
    std::vector<std::uint8_t> cmykRow;
    d.Info.err = jpeg_std_error(&d.Errors.Base);
    d.Errors.Base.error_exit = ErrorExit;
    d.Errors.Base.output_message = OutputMessage;
    d.Errors.Base.emit_message = EmitMessage;
    if (setjmp(d.Errors.Jump)) {
        error = d.Errors.Message;
        return false;
    }
    jpeg_create_decompress(&d.Info);
    d.Created = true;
    d.Info.mem->max_memory_to_use = MaxJpegWorkMemory;
    d.ProgressHook.progress_monitor = Progress;
    d.Info.progress = &d.ProgressHook;
    d.Source.init_source = InitSource;
    d.Source.fill_input_buffer = FillInputBuffer;
    d.Source.skip_input_data = SkipInputData;
    d.Source.resync_to_restart = jpeg_resync_to_restart;
    d.Source.term_source = TermSource;
    d.Source.next_input_byte = data.data();
    d.Source.bytes_in_buffer = data.size();
    d.Info.src = &d.Source;

    jpeg_read_header(&d.Info, TRUE);
    if (static_cast<std::int64_t>(d.Info.image_width) * d.Info.image_height > MaxBitmapPixels ||
        d.Info.image_width > static_cast<unsigned>(MaxBitmapSide) ||
        d.Info.image_height > static_cast<unsigned>(MaxBitmapSide))
        FailWith(reinterpret_cast<j_common_ptr>(&d.Info), "Picture too large");
    const bool cmyk = d.Info.jpeg_color_space == JCS_CMYK || d.Info.jpeg_color_space == JCS_YCCK;
    d.Info.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGRA;
    jpeg_start_decompress(&d.Info);

    picture.SetPixelFormat(pfDevice);
    picture.SetSize(static_cast<int>(d.Info.output_width), static_cast<int>(d.Info.output_height));
    if (cmyk) cmykRow.resize(static_cast<std::size_t>(d.Info.output_width) * 4);
    while (d.Info.output_scanline < d.Info.output_height) {
        auto* row =
            static_cast<std::uint8_t*>(picture.ScanLine(static_cast<int>(d.Info.output_scanline)));
        JSAMPROW target = cmyk ? cmykRow.data() : row;
        if (jpeg_read_scanlines(&d.Info, &target, 1) != 1) ERREXIT(&d.Info, JERR_INPUT_EOF);
        if (cmyk) CmykToBgra(cmykRow.data(), row, d.Info.output_width, d.Info.saw_Adobe_marker);
    }
    jpeg_finish_decompress(&d.Info);
    return true;
}

} // namespace
} // namespace vt

TJPEGImage::TJPEGImage() = default;

TJPEGImage::~TJPEGImage() = default;

void TJPEGImage::Assign(TGraphic* source) {
    if (source == this) return;
    if (!source) {
        FData.clear();
        FBitmap.Assign(nullptr);
        Changed();
        return;
    }
    auto* jpeg = dynamic_cast<TJPEGImage*>(source);
    if (!jpeg) {
        TGraphic::Assign(source);
        return;
    }
    FData = jpeg->FData;
    FBitmap.Assign(&jpeg->FBitmap);
    Changed();
}

void TJPEGImage::Draw(TCanvas* canvas, const TRect& rect) {
    FBitmap.Draw(canvas, rect);
}

void TJPEGImage::SetWidth(int) {}

void TJPEGImage::SetHeight(int) {}

void TJPEGImage::LoadFromStream(TStream* stream) {
    const std::int64_t size = stream->Size() - stream->Position();
    if (size <= 0) throw EInvalidGraphic("JPEG image is not valid (Empty input file)");
    if (size > vt::MaxJpegFileSize)
        throw EInvalidGraphic("JPEG image is not valid (Picture too large)");
    std::vector<std::uint8_t> data(static_cast<std::size_t>(size));
    stream->ReadBuffer(data.data(), static_cast<std::int32_t>(size));

    TBitmap picture;
    std::string error;
    if (!vt::Decode(data, picture, error))
        throw EInvalidGraphic(Format("JPEG image is not valid (%s)", error.c_str()));
    FData = std::move(data);
    FBitmap.Assign(&picture);
    Changed();
}

void TJPEGImage::SaveToStream(TStream* stream) {
    if (FData.empty()) throw EInvalidGraphic("No JPEG data");
    stream->WriteBuffer(FData.data(), static_cast<std::int32_t>(FData.size()));
}

void RegisterJpegFormat() {
    static bool registered = false;
    if (registered) return;
    registered = true;
    TPicture::RegisterFileFormat<TJPEGImage>("jpeg", "JPEG Image File");
    TPicture::RegisterFileFormat<TJPEGImage>("jpg", "JPEG Image File");
}
