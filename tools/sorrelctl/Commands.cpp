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
       WithBoardOptions(Joined(CompensationOptions(), {ServiceOption(), TlsOption()})), DownloadCommand},
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
                                ServiceOption(), TlsOption()},
                               CompensationOptions())),
       RunCommand},
      {"select", "select N [options]", "show frame buffer N",
       "Selects frame buffer N for display, as selecting an entry in Sorrel does.",
       WithBoardOptions({{"--seconds", 1, "S", "hold it for S seconds before the end"}, ServiceOption(), TlsOption()}),
       SelectCommand},
      {"power", "power on|off [options]", "switch the SLM power",
       "Switches the SLM power on or off. The end switches it off again unless --keep-power is given.",
       WithBoardOptions({{"--seconds", 1, "S", "hold it for S seconds before the end"}, ServiceOption(), TlsOption()}),
       PowerCommand},
      {"status", "status [options]", "what the board reports",
       "Opens the board and prints its description, the SLM power, the run state and the run settings it was "
       "opened with.",
       WithBoardOptions({ServiceOption(), TlsOption()}), StatusCommand},
      {"watch", "watch [options]", "follow the board a service holds, frame by frame",
       "Prints one line per update of the board service's status stream: the frames shown so far and since the line "
       "before, the frame buffer selected (during a run the next one shown), the run's entry and state, the frame rate measured over the last second, the "
       "SLM power and both gains. During a run a line comes for every frame shown (or every N-th), otherwise when "
       "something changes; until --count lines, Ctrl+C or the service's end. Needs a board service (see serve).",
       {{"--every", 1, "N", "a line every N-th frame shown during a run"},
        {"--per-second", 1, "N", "at most N lines a second"},
        {"--count", 1, "N", "stop after N lines"},
        ServiceOption(), TlsOption()},
       WatchCommand},
      {"serve", "serve [options]", "hold the board for other commands and programs",
       "Opens the board and serves it on a Unix domain socket until Ctrl+C, SIGTERM or SIGHUP, then ends it safely "
       "and removes the socket. Only processes of the same user are served, and with --group the members of that "
       "group: the socket is owner-only (group-only with --group) and every call is checked. With --listen it serves "
       "other machines on a TCP address too, always through mutual TLS: a client must show a certificate of the "
       "authority in --tls-dir (see certs); nothing listens on a network otherwise. While it serves, status, power "
       "and the other board commands go through it, so their changes last from one command to the next; the board's "
       "end is then the service's. Given --card more than once, it serves each card in a process of its own, the "
       "first on the socket and each further one on board-ADDRESS.sock beside it, until the same signals, which it "
       "passes on; a card that cannot be served leaves the others served. A command given --card finds its card's "
       "socket.",
       WithBoardOptions({{"--socket", 1, "PATH", "the socket to serve on (default: $XDG_RUNTIME_DIR/sorrel/board.sock)"},
                         {"--group", 1, "NAME", "serve the members of group NAME too: the socket is theirs, mode 0660"},
                         {"--listen", 1, "HOST:PORT", "serve on this TCP address too (port 0: any free one), with --tls-dir"},
                         {"--tls-dir", 1, "DIR", "the service's TLS files for --listen: ca.pem, server.pem, server.key"},
                         {"--max-clients", 1, "N", "serve at most N clients at once, 1 to 1000 (default: 8)"},
                         {"--max-rate", 1, "N",
                          "take at most N calls a second from one client, 1 to 1000000 (default: 100000)"},
                         {"--card", 1, "ADDRESS|SLOT",
                          "the card to serve: its PCI address or slot number (default: the first); again for another "
                          "card, each then named by its PCI address",
                          true}}),
       ServeCommand},
      {"certs", "certs DIR --server NAME[,NAME...] --client NAME[,NAME...]",
       "make a lab's TLS authority and machine certificates",
       "Makes an authority of the lab's own and the certificates it signs, for the board service over TCP (serve "
       "--listen): DIR/server holds the service's machine's files (ca.pem, server.pem, server.key), DIR/NAME each "
       "client machine's (ca.pem, client.pem, client.key); copy each folder to its machine and keep it there "
       "owner-only. The service's certificate holds every --server name, the host names and IP addresses clients "
       "dial it by. Keys are owner-only; files already there are replaced whole. The authority's own key is not "
       "kept, so adding a machine later means making the lab's files anew. Opens no card.",
       {{"--server", 1, "NAME[,NAME...]", "the service machine's host names and IP addresses"},
        {"--client", 1, "NAME[,NAME...]", "the client machines, one certificate each"}},
       CertsCommand},
  };
  return COMMANDS;
}

}  // namespace sorrelctl
