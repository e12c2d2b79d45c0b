#include "links/xmmt_interface.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <QByteArray>
#include <QDeadlineTimer>
#include <QFile>
#include <QObject>
#include <QProcess>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <QThread>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <exception>
#include <filesystem>

#include "decoder/baudot_table.h"
#include "decoder/utc_clock.h"
#include "receiver/char_batch.h"

namespace brenvo {

namespace {

// Bytes waiting in the pipe; 0 also when that cannot be asked.
int PendingBytes(int Fd) {
  int n = 0;
  if (Fd < 0 || ::ioctl(Fd, FIONREAD, &n) != 0) return 0;
  return n;
}

// Some process of the group still exists (a zombie too).
bool GroupAlive(int64_t group) { return group > 0 && ::kill(-static_cast<pid_t>(group), 0) == 0; }

// Why a program could not be started, in words the user can act on; Fallback
// when the file looks fine.
std::string WhyNotStarted(const std::string& exe, const std::string& fallback) {
  // Found as exec finds it: a name without a slash along PATH.
  const std::string path = exe.find('/') != std::string::npos
                               ? exe
                               : QStandardPaths::findExecutable(QFile::decodeName(exe.c_str())).toStdString();
  std::error_code ec;
  if (path.empty() || !std::filesystem::exists(path, ec)) return "not found";
  if (std::filesystem::is_directory(path, ec)) return "is a folder";
  if (::access(path.c_str(), X_OK) != 0) return "not executable";
  return fallback;
}

}  // namespace

TXmmtInterface::TXmmtInterface(IMessageView* TxtFrm) : FTxtFrm(TxtFrm) {}

TXmmtInterface::~TXmmtInterface() { StopEngine(); }

void TXmmtInterface::Reset() {
  FMs.Clear();
  FMc.Reset();
  FFigs = false;
}

void TXmmtInterface::SetConnected(bool v) {
  // One engine at a time: a second start must not leave the first one running.
  StopEngine();
  // Flag and reset before the start, so that a start that fails at once is
  // not overwritten by them.
  FConnected = v;
  Reset();
  if (v) StartEngine();
}

int64_t TXmmtInterface::EnginePid() const {
  if (!FProcess || FProcess->state() == QProcess::NotRunning) return 0;
  return FProcess->processId();
}

std::string TXmmtInterface::EngineCaption(const std::string& ExternalExe) {
  // "\\" too: settings files carried over from Windows name such paths.
  const std::size_t slash = ExternalExe.find_last_of("/\\");
  std::string name = slash == std::string::npos ? ExternalExe : ExternalExe.substr(slash + 1);
  const std::size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name.resize(dot);
  return name;
}

void TXmmtInterface::StartEngine() {
  FEngineEnded = false;
  FLinkError.clear();
  FStartError.clear();

  // The engine writes into a pipe of ours rather than QProcess's, which would
  // read (and buffer) all it gets: ours is read a chunk per turn, and a full
  // pipe makes a flooding engine wait.
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    FLinkError = std::string("Cannot create a pipe: ") + std::strerror(errno);
    EngineEnded(kStatusFailedToStart);
    return;
  }
  const int writeFd = fds[1];
  FReadFd = fds[0];
  ::fcntl(FReadFd, F_SETFL, ::fcntl(FReadFd, F_GETFL) | O_NONBLOCK);
  FNotifier = std::make_unique<QSocketNotifier>(FReadFd, QSocketNotifier::Read);
  QObject::connect(FNotifier.get(), &QSocketNotifier::activated, FNotifier.get(),
                   [this] { ReadEngineOutput(); });

  FProcess = std::make_unique<QProcess>();
  QProcess* p = FProcess.get();
  p->setProgram(QFile::decodeName(QByteArray::fromStdString(FExternalExe)));
  p->setArguments(QStringList{QStringLiteral("-r")});
  // Standard error goes where ours goes (not read as text); no input.
  p->setProcessChannelMode(QProcess::ForwardedChannels);
  p->setStandardInputFile(QProcess::nullDevice());
  const pid_t parent = ::getpid();
  p->setChildProcessModifier([writeFd, parent] {
    // In the child, just before exec: only async-signal-safe calls.
    if (writeFd == STDOUT_FILENO)
      ::fcntl(writeFd, F_SETFD, 0);
    else
      ::dup2(writeFd, STDOUT_FILENO);  // the copy is not close-on-exec
    // A process group of its own, which the stop ends whole: what the engine
    // starts goes with it.
    ::setpgid(0, 0);
    // An engine must not outlive a program that dies without closing it.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent) ::_exit(127);
  });
  QObject::connect(p, &QProcess::started, p, [this] { XmmrConnected(); });
  QObject::connect(p, &QProcess::finished, p, [this](int code, QProcess::ExitStatus st) {
    EngineEnded(st == QProcess::NormalExit ? code : kStatusCrashed);
  });
  QObject::connect(p, &QProcess::errorOccurred, p, [this, p](QProcess::ProcessError e) {
    if (e != QProcess::FailedToStart) return;
    FStartError = p->errorString().toStdString();
    EngineEnded(kStatusFailedToStart);
  });
  p->start();
  FGroup = p->processId();
  // Also from here, so that a stop right after the start finds the group
  // (after its exec the engine has made it itself, and this fails).
  if (FGroup > 0) ::setpgid(static_cast<pid_t>(FGroup), static_cast<pid_t>(FGroup));
  ::close(writeFd);  // the engine holds the only writing end now
}

void TXmmtInterface::StopEngine() {
  CloseOutput();
  FNotifier.reset();
  if (!FProcess) return;
  // No callbacks from here on: this runs from the owner's code and from the
  // destructor, when the view may already be gone.
  QObject::disconnect(FProcess.get(), nullptr, nullptr, nullptr);
  // The whole group, also what an engine that has ended left behind; only a
  // child that left the group on purpose (setsid) stays.
  if (GroupAlive(FGroup)) {
    ::kill(-static_cast<pid_t>(FGroup), SIGTERM);
    const QDeadlineTimer grace(kTerminateGraceMs);
    if (FProcess->state() != QProcess::NotRunning) FProcess->waitForFinished(int(grace.remainingTime()));
    while (GroupAlive(FGroup) && !grace.hasExpired()) QThread::msleep(10);
    if (GroupAlive(FGroup)) ::kill(-static_cast<pid_t>(FGroup), SIGKILL);
  }
  if (FProcess->state() != QProcess::NotRunning) FProcess->waitForFinished(kKillWaitMs);
  FProcess.reset();
  FGroup = 0;
  FEngineEnded = false;
}

void TXmmtInterface::CloseOutput() {
  // The notifier itself is kept until the next stop or start: this may run
  // inside its own activation.
  if (FNotifier) FNotifier->setEnabled(false);
  if (FReadFd >= 0) ::close(FReadFd);
  FReadFd = -1;
}

void TXmmtInterface::ReadEngineOutput() {
  uint8_t buf[kReadChunk];
  ssize_t n;
  do {
    n = ::read(FReadFd, buf, sizeof buf);
  } while (n < 0 && errno == EINTR);

  if (n > 0) {
    try {
      for (ssize_t i = 0; i < n; ++i) XmmrCharRcvd(buf[i]);
    } catch (const std::exception& e) {
      // Nothing may escape into the event loop: end the link instead.
      FLinkError = e.what();
      CloseOutput();
      if (FEngineEnded)
        FinishDisconnect();
      else
        FProcess->kill();  // its end then reports the disconnection
      return;
    }
    if (FEngineEnded && PendingBytes(FReadFd) == 0) FinishDisconnect();
    return;
  }
  if (n < 0 && errno == EAGAIN) {
    if (FEngineEnded) FinishDisconnect();
    return;
  }
  // End of the output (or a read error): the engine may still run.
  CloseOutput();
  if (FEngineEnded) FinishDisconnect();
}

void TXmmtInterface::EngineEnded(int Status) {
  if (FEngineEnded) return;
  FEngineEnded = true;
  FEndStatus = Status;
  // Everything the engine wrote is in the pipe now; what is left there is
  // shown first, turn by turn, before the link reports its end.
  if (PendingBytes(FReadFd) == 0) FinishDisconnect();
}

void TXmmtInterface::FinishDisconnect() {
  CloseOutput();
  FConnected = false;
  FDisconnectStatus = FLinkError.empty() ? FEndStatus : kStatusLinkError;
  ShowStatus(NotConnectedText());
}

std::string TXmmtInterface::NotConnectedText() const {
  std::string why;
  switch (FDisconnectStatus) {
    case kStatusLinkError:
      return std::string(kNotConnected) + ": " + FLinkError;
    case kStatusFailedToStart:
      why = ": " + WhyNotStarted(FExternalExe, FStartError);
      break;
    case kStatusCrashed:
      why = " ended by a signal";
      break;
    default:
      why = " exited with status " + std::to_string(FDisconnectStatus);
  }
  return std::string(kNotConnected) + ": " + FExternalExe + why;
}

bool TXmmtInterface::ShowStatus(const std::string& Text) {
  if (!OnShowStatus) return true;
  // Called from the process's and the pipe's signals: nothing may escape
  // into the event loop.
  try {
    OnShowStatus(Text);
    return true;
  } catch (const std::exception& e) {
    if (FLinkError.empty()) FLinkError = e.what();
    return false;
  }
}

void TXmmtInterface::XmmrConnected() {
  FConnected = true;
  SetWindowVisible(false);
  // The engine's end then reports the failure.
  if (!ShowStatus(std::string()) && FProcess) FProcess->kill();
}

void TXmmtInterface::XmmrCharRcvd(int16_t bChar) {
  uint8_t ch = static_cast<uint8_t>(bChar & 0xFF);
  if (ch == 10)
    ch = kChLineFeed;
  else if (ch == 13)
    ch = kChCarriageReturn;
  else if (ch == 32)
    ch = kChSpace;

  if (ch == kChSpace || ch == kChLineFeed || ch == kChCarriageReturn)
    FFigs = false;
  else if ((ch >= 'A' && ch <= 'Z') == FFigs)
    FFigs = !FFigs;

  // CodeTable covers every byte; one in neither row gives kNoCode, whose low
  // five bits make a letters shift of well-formed bits.
  PutRecord(MakeXmmtCharInfo(CodeTable[FFigs ? kChFigures : kChLetters]));
  PutRecord(MakeXmmtCharInfo(CodeTable[ch]));
}

TCharInfo TXmmtInterface::MakeXmmtCharInfo(uint8_t Code) const {
  TCharInfo r;
  r.Utc = UtcNow();
  r.RawCh = BaudotTable[FFigs ? 1 : 0][Code % 32];
  for (int i = 0; i < TBitProbArray::kCount; ++i) r.BitProbs.Set(i, (Code >> i) & 1 ? 0.999999f : 1e-6f);
  return r;
}

void TXmmtInterface::PutRecord(const TCharInfo& Rec) {
  FMs.PutRawChar(Rec);
  FMc.ProcessChar(Rec);
  FMs.PutCorrChars(FMc.Msg());
  if (!FTxtFrm) return;

  GetCharBatch(FMs, FNewChars, FOldChars);
  if (FNewChars.empty()) return;
  // In this view a character that the corrector changed shows as weak.
  for (TCharInfo& r : FNewChars)
    if (r.CorrCh != r.RawCh) r.CorrFlags.Include(cfWeak);
  FTxtFrm->PutText(FNewChars, FOldChars);
}

}  // namespace brenvo
