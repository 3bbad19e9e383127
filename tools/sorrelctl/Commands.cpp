#include "Commands.h"

#include "BoardSession.h"

namespace sorrelctl {

const std::vector<OptionSpec>& CompensationOptions() {
  static const std::vector<OptionSpec> OPTIONS = {
      {"--compensation", 2, "SLM.bmp SYS.bmp",
       "add these two compensation images (bitmap or Zernike files) to every frame"},
      {"--no-compensation", 0, "", "compose without compensation images"},
  };
  return OPTIONS;
}

namespace {

std::vector<OptionSpec> Joined(std::vector<OptionSpec> a, const std::vector<OptionSpec>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

}  // namespace

const std::vector<Command>& Commands() {
  static const std::vector<Command> COMMANDS = {
      {"cards", "cards", "what is on the PCI bus, and which backend serves",
       "Lists the backend that serves this process (real cards through vfio-pci, or the simulated bus), every card "
       "with the bridge's ids and what stands in the way of each, as 'Sorrel --list-cards' does. Opens no card.",
       {}, CardsCommand},
      {"compose", "compose SEQUENCE.sif --out DIR [options]",
       "compose every entry as Sorrel downloads it, without a card",
       "Composes every entry of the sequence exactly as Sorrel would download it to the board and writes one 8-bit "
       "PGM per entry, frame-NNNN.pgm (NNNN the entry's position, which is its frame buffer). The board model and "
       "the compensation default to the settings store's (BoardType, ApplyCorrection and the two compensation "
       "files).",
       Joined({{"--out", 1, "DIR", "the folder the frames go to (made when missing)"},
               {"--board", 1, "kite|wren", "the board model whose frames to compose (stored: BoardType)"},
               {"--raw", 0, "", "also write frame-NNNN.raw: the bytes the board stores, in its reordered byte order"}},
              CompensationOptions()),
       ComposeCommand},
      {"download", "download SEQUENCE.sif [options]", "compose every entry and write it to the board",
       "Composes every entry as Sorrel does and writes entry i into the board's frame buffer i, with a progress "
       "line on a terminal. The compensation defaults to the settings store's.",
       WithBoardOptions(Joined(CompensationOptions(), {ServiceOption()})), DownloadCommand},
      {"run", "run [options]", "download a sequence and run it on the board",
       "Downloads the sequence (the stored one unless --sequence names another) and runs it on the board at the "
       "frame rate, laser duty and gains given (the stored ones by default), once or looped, showing the current "
       "entry on a terminal, until it ends, --seconds pass, or Ctrl+C.",
       WithBoardOptions(Joined({{"--sequence", 1, "SEQUENCE.sif", "the sequence to run (stored: SequenceFile)"},
                                {"--rate", 1, "N", "frames per second (stored: FrameRate)"},
                                {"--duty", 1, "D", "laser duty in percent, 0 to 100 (stored: LaserDuty)"},
                                {"--gain-a", 1, "A", "laser A gain, 0 to 255 (stored: LaserAGain)"},
                                {"--gain-b", 1, "B", "laser B gain, 0 to 255 (stored: LaserBGain)"},
                                {"--loop", 0, "", "start over after the last entry"},
                                {"--seconds", 1, "S", "stop after S seconds"},
                                ServiceOption()},
                               CompensationOptions())),
       RunCommand},
      {"select", "select N [options]", "show frame buffer N",
       "Selects frame buffer N for display, as selecting an entry in Sorrel does.",
       WithBoardOptions({{"--seconds", 1, "S", "hold it for S seconds before the end"}, ServiceOption()}),
       SelectCommand},
      {"power", "power on|off [options]", "switch the SLM power",
       "Switches the SLM power on or off. The end switches it off again unless --keep-power is given.",
       WithBoardOptions({{"--seconds", 1, "S", "hold it for S seconds before the end"}, ServiceOption()}),
       PowerCommand},
      {"status", "status [options]", "what the board reports",
       "Opens the board and prints its description, the SLM power, the run state and the run settings it was "
       "opened with.",
       WithBoardOptions({ServiceOption()}), StatusCommand},
      {"watch", "watch [options]", "follow the board a service holds, frame by frame",
       "Prints one line per update of the board service's status stream: the frames shown so far and since the line "
       "before, the frame buffer selected (during a run the next one shown), the run's entry and state, the frame rate measured over the last second, the "
       "SLM power and both gains. During a run a line comes for every frame shown (or every N-th), otherwise when "
       "something changes; until --count lines, Ctrl+C or the service's end. Needs a board service (see serve).",
       {{"--every", 1, "N", "a line every N-th frame shown during a run"},
        {"--per-second", 1, "N", "at most N lines a second"},
        {"--count", 1, "N", "stop after N lines"},
        ServiceOption()},
       WatchCommand},
      {"serve", "serve [options]", "hold the board for other commands and programs",
       "Opens the board and serves it on a Unix domain socket until Ctrl+C, SIGTERM or SIGHUP, then ends it safely "
       "and removes the socket. Only processes of the same user are served: the socket is owner-only and every call "
       "is checked. While it serves, the board commands go through it, so their changes last from one command to the "
       "next; the board's end is then the service's.",
       WithBoardOptions({{"--socket", 1, "PATH", "the socket to serve on (default: $XDG_RUNTIME_DIR/sorrel/board.sock)"},
                         {"--max-clients", 1, "N", "serve at most N clients at once, 1 to 1000 (default: 8)"},
                         {"--max-rate", 1, "N",
                          "take at most N calls a second from one client, 1 to 1000000 (default: 10000)"}}),
       ServeCommand},
  };
  return COMMANDS;
}

}  // namespace sorrelctl
