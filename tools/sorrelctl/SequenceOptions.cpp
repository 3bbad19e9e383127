#include "SequenceOptions.h"

#include "ScriptBoard.h"
#include "ScriptMessages.h"

namespace sorrelctl {

scripting::Compensation ChosenCompensation(const COptions& options, const StoredSettings& settings,
                                           const PatternGeometry& geometry) {
  if (options.Has("--compensation") && options.Has("--no-compensation")) {
    throw CUsageError("--compensation and --no-compensation exclude each other");
  }
  if (options.Has("--compensation")) {
    const std::vector<std::string>& files = options.Values("--compensation");
    return scripting::GivenCompensation(files[0], files[1], geometry);
  }
  if (options.Has("--no-compensation")) return {};
  return scripting::StoredCompensation(settings, geometry);
}

ImageList ReadEntries(const std::string& path) {
  ImageList list = scripting::ReadSequence(path);
  if (list.empty()) throw scripting::CScriptError(scripting::JoinedTexts(scripting::TakeMessages(), "Empty SIF") + ": " + path);
  return list;
}

std::string InvalidEntriesText(const std::vector<size_t>& positions) {
  if (positions.empty()) return {};
  std::string list;
  for (size_t p : positions) list += (list.empty() ? "" : ", ") + std::to_string(p);
  return std::to_string(positions.size()) + (positions.size() == 1 ? " entry" : " entries") +
         " could not be read whole (the pattern or the LUT), marked ! as Sorrel marks them: " + list;
}

}  // namespace sorrelctl
