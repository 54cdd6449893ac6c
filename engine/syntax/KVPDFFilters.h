// Stream filters: decoders for the standard PDF stream filters (Flate, LZW, ASCII base-85,
// ASCII hex, run length) and the PNG and TIFF predictors, plus Flate compression.
//
// Pure functions over byte arrays: they do not know the object model, keep no state and may
// be called from any thread at the same time.
//
// Bad input never reads or writes outside the buffers. Each decoder keeps what it decoded before
// the fault (except ASCII base-85 on a bad byte, below), reports the fault in its result and logs
// it (KVPDFInflate leaves the logging to its caller). Flate, LZW and run-length output stops at a
// size cap; the bytes up to the cap are kept.
#pragma once

#include <QByteArray>
#include <QString>

#include <zlib.h>

// Default cap on the output of one decoding step; a stream whose data would grow beyond it is
// treated as hostile (a compression bomb) and cut there.
inline constexpr qsizetype KVPDFMaxDecodedSize = qsizetype(256) * 1024 * 1024;

// What every function here answers. `data` holds the bytes produced, also after a fault: each
// function below says what it keeps.
struct KVPDFFilterResult {
    QByteArray data;       // the bytes produced, or those produced before a fault
    bool complete = true;  // false when the function met a fault, a cap or an unknown name
    QString error;         // the message of the (first) fault; empty when complete
    int zlibStatus = Z_OK; // KVPDFInflate and KVPDFDeflate only: zlib's answer, see there
};

// zlibStatus of KVPDFInflate when the output reached `maxOutput` before the end of the stream.
inline constexpr int KVPDFInflateCapped = 100;

// Inflates zlib-format data (raw deflate data without the two-byte zlib header is accepted too).
// zlibStatus is Z_STREAM_END (1) when the stream ended correctly, and only then is the result
// complete. Otherwise it is the zlib error (Z_DATA_ERROR for corrupt data or a bad Adler-32
// checksum, Z_BUF_ERROR for data that ends before the stream does, Z_NEED_DICT for a preset
// dictionary) or KVPDFInflateCapped. In every case `data` holds the bytes produced, at most
// `maxOutput`. Bytes after the end of the stream are ignored. Does not log: `error` is left for the
// caller to log.
KVPDFFilterResult KVPDFInflate(const QByteArray &in, qsizetype maxOutput = KVPDFMaxDecodedSize);

// Compresses into the zlib format at the given level (Z_DEFAULT_COMPRESSION, or 0 to 9).
// Incomplete (with empty data and zlib's answer in zlibStatus) only when zlib refuses, such as
// for an invalid level. Does not log.
KVPDFFilterResult KVPDFDeflate(const QByteArray &in, int level = Z_DEFAULT_COMPRESSION);

// ASCII85Decode. White space (with backspace and DEL) is skipped; "z" outside a group is four zero
// bytes; "~>" ends the data and a final partial group of k digits gives k - 1 bytes (standard
// base-85: the group is padded with "u"). A leading "<~" is skipped.
// - a "z" inside a group or any other byte: logged, answers empty data, incomplete;
// - "~" not followed by ">": logged, answers the bytes of the complete groups, incomplete;
// - data that ends without "~>" is decoded as if the marker followed.
KVPDFFilterResult KVPDFStreamDecode85(const QByteArray &in);

// ASCIIHexDecode. White space is skipped, ">" ends the data, an odd final digit counts as followed
// by 0. Any other byte is logged and answers the bytes decoded before it, incomplete.
KVPDFFilterResult KVPDFDecodeASCIIHex(const QByteArray &in);

// RunLengthDecode: length byte 0-127 copies the next n + 1 bytes, 129-255 repeats the next byte
// 257 - n times, 128 ends the data. Data cut inside a run is logged and answers what was decoded,
// incomplete; so does output reaching `maxOutput` (cut there).
KVPDFFilterResult KVPDFDecodeRunLength(const QByteArray &in, qsizetype maxOutput = KVPDFMaxDecodedSize);

// LZWDecode with 9- to 12-bit codes, Clear 256 and EOD 257. `earlyChange` 1 (the default) widens
// the codes one entry early as PDF writers do, 0 widens them as TIFF does. A code that is not yet
// in the table is logged, stops decoding and answers the output so far, incomplete; so does
// output reaching `maxOutput` (cut there). Data that ends without EOD is not an error.
KVPDFFilterResult KVPDFDecodeLZW(const QByteArray &in, int earlyChange = 1, qsizetype maxOutput = KVPDFMaxDecodedSize);

// Predictor, Colors, BitsPerComponent and Columns of a Flate or LZW stream's decode parameters.
struct KVPDFPredictorParams {
    int predictor = 1;
    int colors = 1;
    int bitsPerComponent = 8;
    int columns = 1;
};

// Undoes a predictor. Predictor 1 or less: the input unchanged. Predictors 10-15 (PNG): rows of
// one filter-type byte and ceil(colors * bpc * columns / 8) bytes, each row of type None, Sub, Up,
// Average or Paeth with ceil(colors * bpc / 8) bytes per pixel. Predictor 2 (TIFF horizontal
// differencing) for 8 and 16 bits per component. A short final row is decoded as far as it goes.
// - an unknown PNG row type is logged and the row copied as if of type None; incomplete;
// - another predictor, TIFF with 1, 2 or 4 bits, or parameters out of range (colors 1-32, bpc 1,
//   2, 4, 8 or 16, columns at least 1): logged, the input unchanged, incomplete.
KVPDFFilterResult KVPDFApplyPredictor(const QByteArray &in, const KVPDFPredictorParams &p);

// Applies one filter by its name, with or without the leading slash: "FlateDecode"/"Fl",
// "LZWDecode"/"LZW" (both followed by the predictor `p`; `earlyChange` applies to LZW),
// "ASCII85Decode"/"A85", "ASCIIHexDecode"/"AHx", "RunLengthDecode"/"RL". Flate, LZW and run-length
// output stops at `maxOutput`. An unknown name is logged and answers empty data, complete = false.
// The faults are logged here; the caller decides whether to go on with the next filter.
KVPDFFilterResult KVPDFApplyFilter(const QByteArray &filterName, const QByteArray &in, const KVPDFPredictorParams &p,
                                   int earlyChange = 1, qsizetype maxOutput = KVPDFMaxDecodedSize);
