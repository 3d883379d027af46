// The program's pictures: the application icon and the four port-state icons
// of the port list.
#pragma once

#include "tools/make_icons/canvas.h"

namespace make_icons {

enum class PortKind { Input, Output };

// A synthesizer keyboard with a downward arrow: new firmware going into the
// instrument. `size` is 32 or 16; other sizes are drawn like 32.
Canvas DrawApplicationIcon(int size);

// 16 x 16: a black circular MIDI socket above a gray plate labelled "In" or
// "Out"; a disabled port has the socket covered by a red prohibition sign.
Canvas DrawPortIcon(PortKind kind, bool enabled);

}  // namespace make_icons
