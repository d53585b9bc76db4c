// Captures a window as the user sees it into a JPEG file. Under X11 the screen itself is
// read over the window's frame rectangle (frame and title bar included, and whatever lies
// over the window at that moment). Where the screen cannot be read (the offscreen platform,
// or a grab that yields no image) the window draws itself instead: the picture then shows
// its client area only, without the frame. Encoding goes through libjpeg: baseline, colour,
// the quality given (1 to 100).
//
// Threading: user-interface thread only. Errors: return false with a reason; never throw.
#pragma once

#include <QImage>
#include <string>

class QWidget;

namespace nv::rack {

// The window's picture as described above.
QImage grabWindowImage(QWidget* window);

// The image as a baseline colour JPEG.
bool encodeJpeg(const QImage& image, int quality, std::string& jpeg, std::string& error);

// grabWindowImage, encodeJpeg and a safe save to `path` (an existing file is replaced).
bool captureWindow(QWidget* window, const std::string& path, int quality, std::string& error);

} // namespace nv::rack
