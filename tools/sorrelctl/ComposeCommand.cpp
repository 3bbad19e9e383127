// Every entry of a sequence composed exactly as Sorrel downloads it, without a card: one
// 8-bit PGM per entry as the modulator shows it, and with --raw the bytes the board stores.

#include <cerrno>
#include <cstdio>
#include <filesystem>

#include "BoardGeometry.h"
#include "BoardModels.h"
#include "Commands.h"
#include "ScriptBoard.h"
#include "SequenceOptions.h"
#include "Terminal.h"
#include "files/ReplaceFile.h"
#include "files/SafePath.h"

namespace sorrelctl {
namespace {

void WriteWhole(const std::string& path, const std::string& header, const std::vector<uint8_t>& bytes) {
  const std::string_view body(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  if (!ReplaceFile(path, {header, body})) {
    throw scripting::CScriptError("cannot write " + path + ": " + FileErrorText(errno));
  }
}

std::string FrameFile(const std::string& folder, size_t position, const char* extension) {
  char name[32];
  std::snprintf(name, sizeof name, "/frame-%04zu.%s", position, extension);
  return folder + name;
}

}  // namespace

int ComposeCommand(const COptions& options) {
  options.ExpectOperands(1, "SEQUENCE.sif");
  if (!options.Has("--out")) throw CUsageError("compose: --out DIR is required");
  const StoredSettings settings = ReadStoredSettings();
  scripting::EBoardModel model = scripting::BoardModelOfType(settings.BoardType);
  if (options.Has("--board")) {
    const std::string& name = options.Values("--board")[0];
    const auto named = scripting::BoardModelNamed(name);
    if (!named) throw CUsageError("compose: --board takes kite or wren, not '" + name + "'");
    model = *named;
  }
  const SBoard_Spec spec = scripting::ModelSpec(model);
  const PatternGeometry geometry = BoardGeometry(spec);
  const scripting::Compensation compensation = ChosenCompensation(options, settings, geometry);
  ImageList list = ReadEntries(options.Operands()[0]);

  const std::string folder = options.Values("--out")[0];
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (error) throw scripting::CScriptError("cannot make the folder " + folder + ": " + error.message());

  const std::string header =
      "P5\n" + std::to_string(spec.Width) + " " + std::to_string(spec.Height) + "\n255\n";
  const size_t count = std::min<size_t>(list.size(), spec.MaxFrames);
  std::vector<uint8_t> frame(geometry.Pixels()), stored(geometry.Pixels());
  std::vector<size_t> invalid;
  for (size_t p = 0; p < count; ++p) {
    if (!scripting::ComposeEntry(*list[p], frame.data(), geometry, compensation)) invalid.push_back(p);
    SayMessages();
    WriteWhole(FrameFile(folder, p, "pgm"), header, frame);
    if (options.Has("--raw")) {
      scripting::ToStoredOrder(model, frame.data(), stored.data());
      WriteWhole(FrameFile(folder, p, "raw"), {}, stored);
    }
  }
  Result("%zu frames of %s (%u x %u) in %s\n", count, spec.BoardName, spec.Width, spec.Height, folder.c_str());
  bool failed = false;
  if (list.size() > count) {
    Say(std::to_string(list.size() - count) + " entries from position " + std::to_string(count) +
        " on have no frame buffer on the board (" + std::to_string(spec.MaxFrames) + ") and were not composed");
    failed = true;
  }
  if (!invalid.empty()) {
    Say(InvalidEntriesText(invalid));
    failed = true;
  }
  return failed ? 1 : 0;
}

}  // namespace sorrelctl
