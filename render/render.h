// The render action, as the dispatcher calls it.
#ifndef VANTOREL_RENDER_H
#define VANTOREL_RENDER_H

#include "ofx_abi.h"

// Draws the render window of one frame into the output image.
OfxStatus render(OfxImageEffectHandle instance, OfxPropertySetHandle inArgs,
                 OfxPropertySetHandle outArgs);

#endif
