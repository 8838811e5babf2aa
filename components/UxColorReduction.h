// Bitmap colour reduction: a bitmap turned into a complete bitmap file in memory ("BM" file
// header, info header, colour table, pixels) in a chosen pixel format, true colour reduced
// to an 8-bit palette by one of six methods when needed. The GIF image uses it to get 8-bit
// pixels and a palette from any bitmap, the animated cursor to pick a format from a colour
// count. Synchronous; the working memory is allocated per call.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>

#include "framework/Graphics.h"
#include "framework/Streams.h"

// The reduction methods; their order is their value.
enum class TColorReduction { rmHistogram, rmMedianCut, rm784, rm666, rmTriple, rmGrayScale };

// The method BitmapToMemoryStreamByColours and the GIF encoder use (starts at histogram).
extern TColorReduction DefaultColorReduction;

// Colours of a format: 2, 16, 256 for 1, 4, 8 bits; 0 for the others.
int ColorsOfPixelFormat(framework::TPixelFormat format);

// A bitmap file of the bitmap in the given format, positioned at 0. A bitmap without a
// handle raises EInvalidGraphic "Image bitmap incorrecte"; formats other than 1, 4, 8 and 24
// bits raise EUxException. A bitmap already in the format saves itself unchanged, except
// with the grey-scale method.
std::unique_ptr<framework::TMemoryStream> BitmapToMemoryStream(framework::TBitmap& bitmap,
                                                               framework::TPixelFormat format,
                                                               TColorReduction method);
// 1 bit for up to 2 colours, 4 bits up to 16, 24 bits above 256, else 8 bits by the
// default method.
std::unique_ptr<framework::TMemoryStream> BitmapToMemoryStreamByColours(framework::TBitmap& bitmap, int colours);

// Fills Header for the bitmap in the given format: the DIB section's own header when the
// bitmap is one, else a fresh one of its size; the bit count of the format (or the bitmap's
// own for pfDevice/32 bits), image size of the padded rows, every colour used.
void InitializeBitmapInfoHeader(HBITMAP bitmap, BITMAPINFOHEADER& header, framework::TPixelFormat format);
// File header, info header with colour table, and pixels of the bitmap in the format, read
// with GetDIBits through the palette, in a moveable zero-filled global block the caller
// frees. A null handle raises EInvalidGraphic "Image bitmap incorrecte".
HGLOBAL CreatePackedDIB(HBITMAP bitmap, HPALETTE palette, framework::TPixelFormat format);

// Reduces 24-bit bottom-up pixels (BGR, rows padded to 4 bytes) in place to 8-bit indices
// (rows padded to 4 bytes) by the method, filling the 256-entry colour table. Returns the
// important-colours count the header gets (0: all).
uint32_t ReducePixelsTo8Bit(uint8_t* pixels, int width, int height, RGBQUAD (&table)[256], TColorReduction method);
