#include "BoardStart.h"

#include "CardHolder.h"
#include "OrvFactory.h"
#include "SettingsStore.h"

namespace startup {

uint16_t HeldFrameRate(uint16_t frameRate, const SBoard_Spec& spec) {
  return frameRate > spec.MaxFrameRate ? static_cast<uint16_t>(spec.MaxFrameRate) : frameRate;
}

SBoardStart OpenBoard(uint16_t modulatorType, uint16_t trueFrames, uint16_t frameRate, const BoardTaker& take) {
  SBoardStart start;
  const uint64_t refusals = ClaimRefusalsSoFar();
  start.Board = COrvFactory().BuildBoard(modulatorType, HeldTrueFrames(trueFrames));
  take(start.Board, CardHolderText(refusals));

  const SBoard_Spec& spec = *start.Board->BoardSpec();
  if (spec.Width != 256 && spec.Width != 512) {
    start.Refusal = NOT_256_OR_512;
    return start;
  }
  start.DownloadMode = start.Board->SetDownloadMode(0) != 0;
  start.FrameRate = HeldFrameRate(frameRate, spec);
  return start;
}

}  // namespace startup
