// Stand-in for the animation slots' part of CImageEx::Exit until the slot tables exist: with no
// slots and no timer there is nothing to free or stop. The file that brings the slot tables
// defines AnimationImageExit itself and removes this one.
#include "imageex_internal.h"

void AnimationImageExit(CImageEx* /*pImage*/) {}
