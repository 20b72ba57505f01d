// The decorative picture on the left of the main window, drawn at start-up:
// 115 x 229 pixels, 24 bits a pixel.
#pragma once

#include <QImage>

namespace platform {

QImage MakeDecoration();

}  // namespace platform
