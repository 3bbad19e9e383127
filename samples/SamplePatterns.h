#pragma once
// The pictures of the sample working folder, computed as phase: one wave is 256 grey levels.

#include "SampleFiles.h"

// A blazed grating: the phase ramps one wave per period pixels along the direction.
SamplePicture BlazedGrating(int side, double period, double degrees);
// An optical vortex: the phase turns charge waves around the centre.
SamplePicture Vortex(int side, int charge);
// A Fresnel lens: the phase grows with the square of the radius, one wave per ring area.
SamplePicture FresnelLens(int side, double firstRingRadius);
// Squares of half a wave against none.
SamplePicture Checkerboard(int side, int square);
// A gentle low-order aberration, as an SLM's flatness correction looks.
SamplePicture SlmCompensation(int side);
// What the screen image shows while the SLM is off: a dark face with a power sign.
SamplePicture PowerOffPicture(int side);
