// Process-wide state of the dithering engine, in one place. The sorted palette, its red index
// and the lookup cache are built by the first dither of the process and then shared by every
// CDitherDib for as long as the process runs: the palette and the lookup file in force are
// those of the first dither, whatever the later ones ask for.
#include <DitherDib.h>

CDitherDib::imgPal CDitherDib::s_sortedPal[256];
int CDitherDib::s_redIndex[256];
int CDitherDib::s_bSortedPal = 0;

// The lookup cache lives in ordinary static memory rather than a movable global block: it is
// kept until the process ends anyway, cannot fail to allocate, and does not show up as a live
// global block in the leak counts of the code that calls us.
WORD CDitherDib::s_lookUp[32768];
int CDitherDib::s_bLookUpLoaded = 0;
