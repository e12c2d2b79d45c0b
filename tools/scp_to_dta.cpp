// Converts a super-check-partial call list (one call per line, such as the
// MASTER.SCP of Debian's hamradio-files package) into the callsign database
// "MASTER.DTA" that the callsign validator reads.
//
//   scp_to_dta [INPUT.SCP] OUTPUT.DTA
//
// INPUT defaults to /usr/share/hamradio-files/MASTER.SCP. An existing OUTPUT is
// replaced only once the new file is complete.
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
    const std::size_t n = brenvo::ConvertScpToDta(input, output);
    std::printf("%zu calls written to %s\n", n, output.c_str());
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "scp_to_dta: %s\n", e.what());
    return 1;
  }
}
