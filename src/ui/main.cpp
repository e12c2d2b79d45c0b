// brenvo: the window program. Checks the processor, builds the process-wide
// decoding objects, creates the main window and runs the event loop until
// the window closes.
#include <sys/resource.h>

#include <QApplication>
#include <clocale>
#include <exception>
#include <string>
#include <vector>

#include "audio/mme_audio_stream.h"
#include "receiver/decoder_startup.h"
#include "ui/image_list.h"
#include "ui/main_form.h"
#include "ui/settings.h"
#include "ui/user_prompts.h"

namespace {

bool ProcessorSupported() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_cpu_init();
  return __builtin_cpu_supports("sse3");
#else
  return true;
#endif
}

// Desktops often set a soft descriptor limit far below the hard one; the
// JSON port's clients, the soundcard and the engine all take descriptors.
void RaiseDescriptorLimit() {
  rlimit r{};
  if (::getrlimit(RLIMIT_NOFILE, &r) != 0 || r.rlim_cur >= r.rlim_max) return;
  r.rlim_cur = r.rlim_max;
  ::setrlimit(RLIMIT_NOFILE, &r);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace brenvo;
  RaiseDescriptorLimit();
  QApplication app(argc, argv);
  QApplication::setApplicationName(QString::fromLatin1(kAppTitle));
  // Every window's icon, and the about box's picture.
  QApplication::setWindowIcon(TImageList::ProgramIcon());
  // Qt takes the user's locale; numbers are read and written with "." here.
  std::setlocale(LC_NUMERIC, "C");
  // Qt has taken its own options out of argv.
  const std::vector<std::string> params(argv + 1, argv + argc);
  TQtUserPrompts prompts;
  if (!ProcessorSupported()) {
    prompts.ShowError(kAppTitle, "Your CPU does not support SSE3 instructions.\nThe program will be terminated.");
    return 1;
  }
  try {
    // Process-wide objects, in this order: device names, then message
    // statistics with the contest "DX", Baudot tables, bit-level model,
    // message-level model and callsign validator. The FFT tables of a size
    // are built by its first transform (the spectrum engine's window design).
    ListWaveDevices();
    try {
      StartDecoderGlobals();
    } catch (...) {
      // A contest file whose "DX" words cannot be used (refused, a bad
      // pattern, beyond a limit): decoding starts without them, and the
      // window names the file, the section and the key when it applies the
      // contest.
      StartDecoderGlobals("");
    }
  } catch (...) {
    prompts.ShowError(kAppTitle, ExceptionText(std::current_exception()));
    return 1;
  }
  TMainFormOptions options;
  options.Params = params;
  options.SettingsFile = ResolveIniFileName(params);
  try {
    TMainForm form(options);
    form.show();
    return app.exec();
  } catch (...) {
    // The window's own handlers report their failures; this is the last
    // resort for one while it is built or torn down.
    prompts.ShowError(kAppTitle, ExceptionText(std::current_exception()));
    return 1;
  }
}
