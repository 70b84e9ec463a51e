// The two description actions, as the dispatcher calls them.
#ifndef VANTOREL_DESCRIBE_H
#define VANTOREL_DESCRIBE_H

#include "ofx_abi.h"

// The effect's listing: label, grouping, depths, contexts, no tiles.
OfxStatus describe(OfxImageEffectHandle descriptor);
// The "Output" and "Source" clips, then the parameters.
OfxStatus describeInContext(OfxImageEffectHandle descriptor,
                            OfxPropertySetHandle inArgs);

#endif
