#pragma once

#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <array>

namespace vek {

// The connection button's two glyphs, 51 x 51 pixels.
inline constexpr int kUsbGlyphSize = 51;
inline constexpr int kUsbGlyphOpen = 0;    // a USB plug with a green tick
inline constexpr int kUsbGlyphClosed = 1;  // a USB plug with a red cross

// Image `index` of the glyph list; a null pixmap for an index the list does not hold.
QPixmap usbGlyph(int index);

// The application icon: a box with a speedometer dial, drawn for each of these sizes.
inline constexpr std::array<int, 6> kApplicationIconSizes{16, 24, 32, 48, 64, 256};
QImage applicationIconImage(int size);
QIcon applicationIcon();

}  // namespace vek
