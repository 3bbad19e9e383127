#pragma once
// The tool's commands: name, usage, what it does, its options, and the code that runs it.

#include <vector>

#include "Options.h"

namespace sorrelctl {

struct Command {
  const char* name;
  const char* usage;    // after "sorrelctl "
  const char* summary;  // one line for the overview
  const char* description;
  std::vector<OptionSpec> options;
  int (*run)(const COptions& options);  // the exit status
};

const std::vector<Command>& Commands();

// The commands' own code, one file each.
int CardsCommand(const COptions& options);
int CertsCommand(const COptions& options);
int ComposeCommand(const COptions& options);
int DownloadCommand(const COptions& options);
int RunCommand(const COptions& options);
int SelectCommand(const COptions& options);
int ServeCommand(const COptions& options);
int PowerCommand(const COptions& options);
int StatusCommand(const COptions& options);
int WatchCommand(const COptions& options);

// The options that choose the compensation every frame is composed with.
const std::vector<OptionSpec>& CompensationOptions();

}  // namespace sorrelctl
