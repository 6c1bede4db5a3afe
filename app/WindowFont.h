// The font of the main and jumper windows themselves: the face their captions and any control
// without a font of its own are drawn in.
#ifndef M770B_APP_WINDOWFONT_H
#define M770B_APP_WINDOWFONT_H

#include "ui/Layout.h"

inline const FontSpec WindowFont = {.name = L"ＭＳ Ｐゴシック",
                                    .charset = SHIFTJIS_CHARSET,
                                    .height = -12,
                                    .colour = WindowTextColour};

#endif
