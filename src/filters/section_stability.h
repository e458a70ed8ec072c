// Rounding guard shared by the filter designs.
//
// Poles that a design places within about 1e-7 of z = -1 or z = +1 (a centre or cut-off a few
// hertz from half the rate) are closer to the unit circle than single precision resolves: rounding
// the feedback terms can land a pole on the circle or just outside it, and the section then lets
// rounding noise build up without bound. The guard moves -a1 towards zero by the fewest float
// steps that make the stored section strictly stable, which is the same as designing a hair
// further from the edge. Sections that are strictly stable as rounded come back unchanged.
#pragma once

namespace tessil {

// negatedA1 and negatedA2 are the stored feedback terms -a1 and -a2 of one section (-a2 = 0 for a
// first-order section). Returns -a1 for which |a1| < 1 + a2 holds, given |a2| < 1.
float StrictlyStableNegatedA1(float negatedA1, float negatedA2);

}  // namespace tessil
