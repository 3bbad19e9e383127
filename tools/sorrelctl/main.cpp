// sorrelctl: Sorrel's board, patterns and PCI facility from the command line, for scripts.

#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "Commands.h"
#include "ScriptMessages.h"
#include "Terminal.h"

namespace {

using namespace sorrelctl;

constexpr int USAGE_ERROR = 2;

const char* const ENDING =
    "Every value a board command does not get from its options comes from Sorrel's settings store, which it leaves "
    "as it was unless --save is given. However a board command ends (done, an error, Ctrl+C, SIGTERM), it leaves "
    "both lasers at zero gain and the SLM power off (or as it is, with --keep-power), and says so. A command that "
    "goes through a board service (see serve) leaves the board to the service, which does the same once no client is "
    "connected: the SLM power stays on only when the last command that changed the lasers or the power had "
    "--keep-power.";

// Text wrapped at 78 columns after an indent.
void PrintWrapped(const std::string& text, size_t indent) {
  size_t column = indent;
  std::printf("%*s", static_cast<int>(indent), "");
  size_t i = 0;
  while (i < text.size()) {
    size_t end = text.find(' ', i);
    if (end == std::string::npos) end = text.size();
    const std::string word = text.substr(i, end - i);
    if (column > indent && column + 1 + word.size() > 78) {
      std::printf("\n%*s", static_cast<int>(indent), "");
      column = indent;
    } else if (column > indent) {
      std::putchar(' ');
      ++column;
    }
    std::fputs(word.c_str(), stdout);
    column += word.size();
    i = end + 1;
  }
  std::putchar('\n');
}

void PrintOverview() {
  std::printf("Usage: sorrelctl COMMAND [options]   (sorrelctl COMMAND --help for each)\n\n");
  std::printf("Drives Sorrel's SLM board, and composes its frames, from scripts.\n\nCommands:\n");
  for (const Command& c : Commands()) std::printf("  %-10s %s\n", c.name, c.summary);
  std::printf("\n");
  PrintWrapped(ENDING, 0);
}

void PrintHelp(const Command& command) {
  std::printf("Usage: sorrelctl %s\n\n", command.usage);
  PrintWrapped(command.description, 0);
  if (!command.options.empty()) {
    std::printf("\nOptions:\n");
    for (const OptionSpec& o : command.options) {
      const std::string name = std::string(o.name) + (o.values > 0 ? std::string(" ") + o.metavar : "");
      std::printf("  %-32s %s\n", name.c_str(), o.help);
    }
  }
  std::printf("  %-32s %s\n", "--help", "this text");
  if (command.run != CardsCommand && command.run != ComposeCommand && command.run != CertsCommand &&
      command.run != WatchCommand) {
    std::printf("\n");
    PrintWrapped(ENDING, 0);
  }
}

const Command* Find(const std::string& name) {
  for (const Command& c : Commands()) {
    if (name == c.name) return &c;
  }
  return nullptr;
}

// 0 when what went to standard output arrived, otherwise 1 and why.
int Written() {
  try {
    CheckStandardOutput();
    return 0;
  } catch (const std::exception& e) {
    Say(e.what());
    return 1;
  }
}

}  // namespace

int main(int argc, char** argv) {
  // A reader that went away makes a write fail rather than end the tool where it stands,
  // so a board command still reaches its safe end.
  std::signal(SIGPIPE, SIG_IGN);
  // A result line reaches a script reading the tool while the tool still holds the board.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  scripting::UseScriptHost();
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) {
    Say("no command given (see sorrelctl --help)");
    return USAGE_ERROR;
  }
  if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    PrintOverview();
    return Written();
  }
  const Command* command = Find(args[0]);
  if (command == nullptr) {
    Say("unknown command " + args[0] + " (see sorrelctl --help)");
    return USAGE_ERROR;
  }
  try {
    const COptions options(command->name, std::vector<std::string>(args.begin() + 1, args.end()), command->options);
    const int status = options.HelpAsked() ? (PrintHelp(*command), 0) : command->run(options);
    // A failed command said so already.
    return status == 0 ? Written() : status;
  } catch (const CUsageError& e) {
    Say(std::string(e.what()) + " (see sorrelctl " + command->name + " --help)");
    return USAGE_ERROR;
  } catch (const std::exception& e) {
    SayMessages();
    Say(e.what());
    return 1;
  }
}
