#pragma once
// The frame geometry of a board, resolved from its description where the board is known and
// handed down to the readers and composition.

#include "OrvBoard.h"
#include "PatternImage.h"

// A frame of the board: Width x Height, Zernike unit radius 300 when Height is 512 and 150
// otherwise.
PatternGeometry BoardGeometry(const SBoard_Spec& spec);
