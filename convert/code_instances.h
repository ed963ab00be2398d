#pragma once

// The converter instances of the code table (kCodes, convert/codes.cpp), for
// the parts of the engine that run a codec's scan with its type known at
// compile time: the fused paths. The table and these names are one set of
// objects, all constant-initialised.

#include "japanese/eucjp.h"
#include "japanese/iso2022jp.h"
#include "japanese/jis.h"
#include "japanese/shift_jis.h"
#include "japanese/wide_codes.h"
#include "unicode/utf16.h"
#include "unicode/utf32.h"
#include "unicode/utf8.h"

namespace mek {

extern const SjisDecoder kSjisDecoder;
extern const SjisEncoder kSjisEncoder;
extern const EucjpDecoder kEucjpDecoder;
extern const EucjpEncoder kEucjpEncoder;
extern const JisDecoder kJisDecoder;
extern const JisEncoder kJisEncoder;
extern const Iso2022jpEncoder kIso2022jpEncoder;
extern const Cp932Decoder kCp932Decoder;
extern const Cp932Encoder kCp932Encoder;
extern const Sjis2004Decoder kSjis2004Decoder;
extern const Sjis2004Encoder kSjis2004Encoder;
extern const Eucjis2004Decoder kEucjis2004Decoder;
extern const Eucjis2004Encoder kEucjis2004Encoder;
extern const Iso2022jp2004Decoder kIso2022jp2004Decoder;
extern const Iso2022jp2004Encoder kIso2022jp2004Encoder;
extern const EucjpmsDecoder kEucjpmsDecoder;
extern const EucjpmsEncoder kEucjpmsEncoder;
extern const Cp51932Decoder kCp51932Decoder;
extern const Cp51932Encoder kCp51932Encoder;

extern const UTF8Decoder kUtf8Decoder;
// Reads on after the start of a text, where a mark is an ordinary character
// (findDecoderAfterStart); in no row of the table.
extern const UTF8Decoder kUtf8RestDecoder;
extern const UTF8Encoder kUtf8Encoder;
extern const UTF8Encoder kUtf8MarkEncoder;

extern const UTF16Decoder kUtf16BeDecoder;
extern const UTF16Decoder kUtf16LeDecoder;
extern const UTF16Decoder kUtf16MarkedDecoder;
extern const UTF16Encoder kUtf16BeEncoder;
extern const UTF16Encoder kUtf16LeEncoder;
extern const UTF16Encoder kUtf16BeMarkEncoder;
extern const UTF16Encoder kUtf16LeMarkEncoder;

extern const UTF32Decoder kUtf32BeDecoder;
extern const UTF32Decoder kUtf32LeDecoder;
extern const UTF32Decoder kUtf32MarkedDecoder;
extern const UTF32Encoder kUtf32BeEncoder;
extern const UTF32Encoder kUtf32LeEncoder;
extern const UTF32Encoder kUtf32BeMarkEncoder;
extern const UTF32Encoder kUtf32LeMarkEncoder;

}  // namespace mek
