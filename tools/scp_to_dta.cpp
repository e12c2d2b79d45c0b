// Converts a super-check-partial call list (one call per line, such as the
// MASTER.SCP of Debian's hamradio-files package) into the callsign database
// "MASTER.DTA" that the callsign validator reads.
//
//   scp_to_dta [INPUT.SCP] OUTPUT.DTA
//
// INPUT defaults to /usr/share/hamradio-files/MASTER.SCP. OUTPUT must be a
// new name or a regular file (a symbolic link is followed to its regular
// target), never INPUT itself; an existing file is replaced only once the new
// one is complete. Lines that cannot be callsigns are skipped and counted.
// Exit status 2 on a bad command line, 1 when nothing was written.
#include <cstdio>
#include <exception>
#include <string>

#include "callsigns/master_dta.h"

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: %s [INPUT.SCP] OUTPUT.DTA\n", argv[0]);
    return 2;
  }
  const std::string input = argc == 3 ? argv[1] : brenvo::kDebianMasterScpPath;
  const std::string output = argv[argc - 1];
  try {
    const brenvo::TScpConversion n = brenvo::ConvertScpToDta(input, output);
    std::printf("%zu calls written to %s", n.Written, output.c_str());
    if (n.Skipped > 0) std::printf(" (%zu entries skipped: no callsigns)", n.Skipped);
    std::printf("\n");
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "scp_to_dta: %s\n", e.what());
    return 1;
  }
}
