#pragma once
// Everything of the graphics module at once.

#include "platform/gdi/Bitmap.h"
#include "platform/gdi/Canvas.h"
#include "platform/gdi/GdiTypes.h"
#include "platform/gdi/Graphic.h"
#include "platform/gdi/JPEGImage.h"
#include "platform/gdi/Picture.h"
