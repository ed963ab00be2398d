#include "mek/codes.h"

#include "convert/code_instances.h"

namespace mek {
// Every instance is constant-initialised: no code runs at start-up. The
// codecs' instances are declared in convert/code_instances.h.
constinit const SjisDecoder kSjisDecoder;
constinit const SjisEncoder kSjisEncoder;
constinit const EucjpDecoder kEucjpDecoder;
constinit const EucjpEncoder kEucjpEncoder;
constinit const JisDecoder kJisDecoder;
constinit const JisEncoder kJisEncoder;
constinit const Iso2022jpEncoder kIso2022jpEncoder;
constinit const Cp932Decoder kCp932Decoder;
constinit const Cp932Encoder kCp932Encoder;
constinit const Sjis2004Decoder kSjis2004Decoder;
constinit const Sjis2004Encoder kSjis2004Encoder;
constinit const Eucjis2004Decoder kEucjis2004Decoder;
constinit const Eucjis2004Encoder kEucjis2004Encoder;
constinit const Iso2022jp2004Decoder kIso2022jp2004Decoder;
constinit const Iso2022jp2004Encoder kIso2022jp2004Encoder;
constinit const EucjpmsDecoder kEucjpmsDecoder;
constinit const EucjpmsEncoder kEucjpmsEncoder;
constinit const Cp51932Decoder kCp51932Decoder;
constinit const Cp51932Encoder kCp51932Encoder;

// The UTF-8 decoder always drops a leading mark, so one serves both codes.
constinit const UTF8Decoder kUtf8Decoder{UTF8Decoder::kDropMark};
constinit const UTF8Decoder kUtf8RestDecoder{UTF8Decoder::kKeepMark};
constinit const UTF8Encoder kUtf8Encoder{UTF8Encoder::kNoMark};
constinit const UTF8Encoder kUtf8MarkEncoder{UTF8Encoder::kWriteMark};

// One decoder per width reads both marked input codes: the mark, not the
// code's name, decides the byte order.
constinit const UTF16Decoder kUtf16BeDecoder{UTF16Decoder::kBigEndian};
constinit const UTF16Decoder kUtf16LeDecoder{UTF16Decoder::kLittleEndian};
constinit const UTF16Decoder kUtf16MarkedDecoder{UTF16Decoder::kByteOrderFromMark};
constinit const UTF16Encoder kUtf16BeEncoder{UTF16Encoder::kBigEndian};
constinit const UTF16Encoder kUtf16LeEncoder{UTF16Encoder::kLittleEndian};
constinit const UTF16Encoder kUtf16BeMarkEncoder{UTF16Encoder::kBigEndianMarked};
constinit const UTF16Encoder kUtf16LeMarkEncoder{UTF16Encoder::kLittleEndianMarked};

constinit const UTF32Decoder kUtf32BeDecoder{UTF32Decoder::kBigEndian};
constinit const UTF32Decoder kUtf32LeDecoder{UTF32Decoder::kLittleEndian};
constinit const UTF32Decoder kUtf32MarkedDecoder{UTF32Decoder::kByteOrderFromMark};
constinit const UTF32Encoder kUtf32BeEncoder{UTF32Encoder::kBigEndian};
constinit const UTF32Encoder kUtf32LeEncoder{UTF32Encoder::kLittleEndian};
constinit const UTF32Encoder kUtf32BeMarkEncoder{UTF32Encoder::kBigEndianMarked};
constinit const UTF32Encoder kUtf32LeMarkEncoder{UTF32Encoder::kLittleEndianMarked};

namespace {

constinit const EndOfLineConverter kLf{EndOfLineConverter::kLf};
constinit const EndOfLineConverter kCrLf{EndOfLineConverter::kCrLf};
constinit const EndOfLineConverter kCr{EndOfLineConverter::kCr};
constinit const EndOfLineConverter kKeep{EndOfLineConverter::kKeep};

}  // namespace

constinit const CodeDescriptor kCodes[kCodeCount] = {
    {kCodeAuto, "auto", "detect the code from the data (input only)", nullptr, nullptr},
    {kCodeSjis, "sjis", "Shift_JIS, code page 932 repertoire", &kSjisDecoder, &kSjisEncoder},
    {kCodeEucJp, "euc_jp", "EUC-JP with JIS X 0212", &kEucjpDecoder, &kEucjpEncoder},
    {kCodeJis, "jis", "ISO-2022-JP", &kJisDecoder, &kJisEncoder},
    {kCodeUtf8, "utf8", "UTF-8; a leading mark is dropped on input, none is written", &kUtf8Decoder,
     &kUtf8Encoder},
    {kCodeUtf16Be, "utf16_be", "UTF-16 big-endian, no mark", &kUtf16BeDecoder, &kUtf16BeEncoder},
    {kCodeUtf16Le, "utf16_le", "UTF-16 little-endian, no mark", &kUtf16LeDecoder, &kUtf16LeEncoder},
    {kCodeUtf16BeBom, "utf16_be_bom", "UTF-16 big-endian with mark", &kUtf16MarkedDecoder,
     &kUtf16BeMarkEncoder},
    {kCodeUtf16LeBom, "utf16_le_bom", "UTF-16 little-endian with mark", &kUtf16MarkedDecoder,
     &kUtf16LeMarkEncoder},
    {kCodeUtf32Be, "utf32_be", "UTF-32 big-endian, no mark", &kUtf32BeDecoder, &kUtf32BeEncoder},
    {kCodeUtf32Le, "utf32_le", "UTF-32 little-endian, no mark", &kUtf32LeDecoder, &kUtf32LeEncoder},
    {kCodeUtf32BeBom, "utf32_be_bom", "UTF-32 big-endian with mark", &kUtf32MarkedDecoder,
     &kUtf32BeMarkEncoder},
    {kCodeUtf32LeBom, "utf32_le_bom", "UTF-32 little-endian with mark", &kUtf32MarkedDecoder,
     &kUtf32LeMarkEncoder},
    {kCodeCp932, "cp932", "Shift_JIS as Windows reads and writes it", &kCp932Decoder,
     &kCp932Encoder},
    {kCodeUtf8Bom, "utf8_bom", "UTF-8 written with a leading mark; read as utf8", &kUtf8Decoder,
     &kUtf8MarkEncoder},
    {kCodeIso2022jp, "iso2022jp",
     "ISO-2022-JP for mail (RFC 1468): ASCII, JIS X 0201 Roman and JIS X 0208 only, half-width "
     "katakana folded to full width, ends in ASCII; read as jis",
     &kJisDecoder, &kIso2022jpEncoder},
    {kCodeSjis2004, "sjis2004",
     "Shift_JIS-2004: JIS X 0213:2004 planes 1 and 2; bytes 00-7F are ASCII", &kSjis2004Decoder,
     &kSjis2004Encoder},
    {kCodeEucjis2004, "eucjis2004", "EUC-JIS-2004: JIS X 0213:2004, plane 2 after 8F",
     &kEucjis2004Decoder, &kEucjis2004Encoder},
    {kCodeIso2022jp2004, "iso2022jp2004",
     "ISO-2022-JP-2004: written with ESC $ B, ESC $ ( Q and ESC $ ( P, ends in ASCII; also reads "
     "ESC $ ( O and all that jis reads",
     &kIso2022jp2004Decoder, &kIso2022jp2004Encoder},
    {kCodeEucjpms, "eucjpms",
     "eucJP-ms: EUC-JP with JIS X 0212, the NEC and IBM extensions and user-defined areas",
     &kEucjpmsDecoder, &kEucjpmsEncoder},
    {kCodeCp51932, "cp51932",
     "EUC-JP as Windows reads and writes it: cp932's repertoire, no JIS X 0212", &kCp51932Decoder,
     &kCp51932Encoder},
};

constinit const LineEndingDescriptor kLineEndings[kLineEndingCount] = {
    {LineEndingCode{0}, nullptr, nullptr},
    {kLineEndingLf, "LF", &kLf},
    {kLineEndingCrLf, "CR LF", &kCrLf},
    {kLineEndingCr, "CR", &kCr},
    {kLineEndingKeep, "unchanged: each line ending as it stands", &kKeep},
};

const CodeDescriptor* describeCode(int code) {
  return code >= 0 && code < kCodeCount ? &kCodes[code] : nullptr;
}

}  // namespace mek
