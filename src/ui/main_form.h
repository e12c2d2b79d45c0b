// The main window: creates, wires and owns the decoding road, the soundcard
// stream and the ring recorder; lays out the tool bar, the waterfall panel
// with its marker strip, the meter and callsign-list places and the three
// text views; keeps the buttons in step with the state; and at close stops
// everything that could still reach the decoding objects before freeing them.
//
// The soundcard's capture thread hands each 128-frame block to this
// window's thread, where the road runs.
#pragma once

#include <QElapsedTimer>
#include <QWidget>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dsp/types.h"
#include "links/json_server.h"
#include "ui/settings.h"

class QAction;
class QActionGroup;
class QFrame;
class QLabel;
class QMenu;
class QMouseEvent;
class QSplitter;
class QToolButton;
class QUrl;

namespace brenvo {

class IAudioDispatcher;
class IUserPrompts;
class TAboutDialog;
class TCallsFrame;
class TCharsDialog;
class TDecodingRoad;
class THist2dDialog;
class TPlotDialog;
class TSpectrumDialog;
class TXmmtInterface;
class TMessageTextFrame;
class TMeterFrame;
class TMmeAudioStream;
class TQtAudioDispatcher;
class TQuickWaterFall;
class TWavRingBufRecorder;

// What the window is built with. Later the settings file sets the switches
// (it runs before the layout depends on them); tests set them here.
struct TMainFormOptions {
  bool DebugMode = false;   // raw text view shown and fed
  bool ExpertMode = false;  // save and play-back buttons, channel circles
  std::string ExternalExe;  // external decoder engine program; empty: none
  // Message boxes and file dialogs; null: Qt's own. Not owned.
  IUserPrompts* Prompts = nullptr;
  // An ALSA configuration (text) to open the soundcard from instead of the
  // system's; empty: the system's.
  std::string AlsaConfig;
  // The settings file read at creation and written at close; empty: none
  // (the switches above stand).
  std::string SettingsFile;
  // The program's parameters ("PORT=", "CAPTION="), without its name.
  std::vector<std::string> Params;
  // The contest definitions the contest menu and SetContest read; empty:
  // the data folder's (GetContestsIniFileName()).
  std::string ContestFile;
};

class TMainForm : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kClientWidth = 478;
  static constexpr int kClientHeight = 589;
  static constexpr int kWaterfallHeight = 224;  // one row per displayed bin (FftSize - 32)
  static constexpr int kWaterfallPanelMinHeight = 70;
  static constexpr int kRawPanelHeight = 92;
  static constexpr int kEnginePanelHeight = 145;
  static constexpr int kSplitterHeight = 3;
  // A play-back runs without the event loop; the JSON clients are served
  // this often all the same.
  static constexpr int kServeDuringPlayBackMs = 50;

  explicit TMainForm(const TMainFormOptions& Options = {}, QWidget* Parent = nullptr);
  ~TMainForm() override;
  TMainForm(const TMainForm&) = delete;
  TMainForm& operator=(const TMainForm&) = delete;

  // One block of audio (one array of 128 samples per channel), from the
  // soundcard and, later, the play-back. Exceptions go to the caller.
  void AudioDataArrived(const TDataBufferF& InBuffer);
  // Empties the recorder's ring and opens the soundcard; an open that fails
  // leaves the soundcard stopped without a message.
  void StartSoundcard();
  // Buttons (and, with the commands, menu marks) in step with the state, and
  // a settings line to the JSON clients when what it says has changed.
  void ApplicationIdle();
  // Keeps the default tones' row in the middle of a waterfall panel smaller
  // than the waterfall.
  void WaterfallViewportResize();
  // Shows an exception of a handler in a message box titled BRENVO: one box
  // at a time; failures while one is up or pending are dropped.
  void ReportException(std::exception_ptr E);
  // Runs a handler of the window's own; its exception is reported, never
  // passed into Qt's event loop.
  template <class F>
  void Guarded(F&& Handler) {
    try {
      Handler();
    } catch (...) {
      ReportException(std::current_exception());
    }
  }

  // The contest switch: loads the contest (an empty name means "DX") and
  // rebuilds the message model, then resets every receiver and clears the
  // three views, the callsign list and the external engine's text. A contest
  // file that cannot be used raises, with the contest in force unchanged.
  void SetContest(const std::string& Name);
  // The HTML log of the main view's text into FileName.
  void SaveMessagesAsHtml(const std::string& FileName);
  // The user guide beside the program.
  static std::string HelpFileName();

  // Handlers of the controls and menus, each run through Guarded by its
  // control. Modifiers: the keys held at the click.
  void SoundcardButtonClick();  // start or stop the soundcard
  void SidebandButtonClick();
  void AfcButtonClick();
  void AutoQsxButtonClick();
  void SmartDecodingButtonClick();  // the main view re-drawn in the other mode
  void ContestButtonClick();
  void ClearButtonClick();      // the selected channel and the views
  void HelpButtonClick();
  void SaveAudioButtonClick();  // the last 60 s, and the log beside them
  void PlayBackButtonClick(Qt::KeyboardModifiers Modifiers);  // Ctrl: the last recording
  void SoundcardItemClick(QAction* Item);
  void ContestItemClick(QAction* Item);
  // Y in the waterfall's own pixels.
  void WaterfallMouseDown(int Y);
  void MarkerStripClick(Qt::KeyboardModifiers Modifiers);
  void MainViewMouseDown(const QMouseEvent& Event);
  void RawViewMouseDown(const QMouseEvent& Event);
  void EngineViewMouseDown(const QMouseEvent& Event);

  // Opens a help file or folder; null: the desktop (tests replace it).
  std::function<bool(const QUrl&)> ShellOpener;
  // Writes the settings file (when there is one). A failure is shown once.
  void SaveSettings();

  bool DebugMode() const { return FDebugMode; }
  bool ExpertMode() const { return FExpertMode; }

  TDecodingRoad& Road() { return *FRoad; }
  TMmeAudioStream& Mme() { return *FMme; }
  TWavRingBufRecorder& Rec() { return *FRec; }
  TJsonServer& Srv() { return *FSrv; }
  TXmmtInterface& Xmmt() { return *FXmmt; }
  IAudioDispatcher& Dispatcher();
  // Waterfall columns pushed since creation.
  int64_t ColumnsPushed() const { return FColumnsPushed; }

  // The splitters above the text panels and below the waterfall panel.
  QWidget* RawSplitter() const;
  QWidget* WaterfallSplitter() const;
  QWidget* EngineSplitter() const;

  // Controls, by the names the commands and settings use.
  QWidget* ToolBarPanel = nullptr;
  QWidget* ToolBar = nullptr;
  QToolButton* SoundcardButton = nullptr;  // drop-down: SoundcardsMenu
  QToolButton* SidebandButton = nullptr;
  QToolButton* AfcButton = nullptr;
  QToolButton* AutoQsxButton = nullptr;
  QToolButton* SmartDecodingButton = nullptr;
  QToolButton* ContestButton = nullptr;  // drop-down: ContestsMenu
  QToolButton* ClearButton = nullptr;
  QToolButton* HelpButton = nullptr;       // drop-down: HelpMenu
  QToolButton* SaveAudioButton = nullptr;  // expert mode
  QToolButton* PlayBackButton = nullptr;   // expert mode
  QMenu* SoundcardsMenu = nullptr;
  QMenu* ContestsMenu = nullptr;
  QMenu* HelpMenu = nullptr;
  QAction* DisableAudioMNU = nullptr;
  QAction* LeftChannelMNU = nullptr;
  QAction* RightChannelMNU = nullptr;
  QAction* DisableContestMNU = nullptr;
  QAction* HelpFileMNU = nullptr;
  QAction* DataFolderMNU = nullptr;
  QAction* AboutMNU = nullptr;
  // The waterfall panel: the waterfall, clipped by its viewport, and the
  // marker strip in a lowered frame; the meter and the callsign list beside.
  QWidget* WaterfallPanel = nullptr;
  QFrame* WaterfallFrame = nullptr;
  QWidget* WaterfallViewport = nullptr;
  TQuickWaterFall* Waterfall = nullptr;
  QWidget* MarkerStrip = nullptr;
  QFrame* MeterAndCallsPanel = nullptr;
  TMeterFrame* Meter = nullptr;
  TCallsFrame* CallsList = nullptr;
  // The text views, each in a panel of its own.
  QWidget* MainPanel = nullptr;
  QWidget* RawPanel = nullptr;
  QWidget* EnginePanel = nullptr;
  QLabel* EngineNameLabel = nullptr;  // names the engine program, at the top left of its view
  TMessageTextFrame* MainView = nullptr;    // corrected text
  TMessageTextFrame* RawView = nullptr;     // raw text (debug mode)
  TMessageTextFrame* EngineView = nullptr;  // external engine's text

  // The dialogs, made after the window in this order; they live as long as
  // it does.
  TPlotDialog* PlotDialog = nullptr;
  THist2dDialog* Hist2dDialog = nullptr;
  TAboutDialog* AboutDialog = nullptr;
  TCharsDialog* CharsDialog = nullptr;
  TSpectrumDialog* SpectrumDialog = nullptr;

 protected:
  void showEvent(QShowEvent* Event) override;
  void closeEvent(QCloseEvent* Event) override;
  bool eventFilter(QObject* Watched, QEvent* Event) override;

 private:
  class TWaterfallLink;
  class TRecorderLink;

  void FormCreate();
  void CreateDialogs();
  void FormShow();
  void FormDestroy();
  void BuildToolBar();
  void BuildPanels();
  void BuildMenus();
  void BuildSoundcardMenu();
  void BuildContestMenu();
  // A radio item of group 99 at the end of Menu; Name is shown as it
  // stands and kept as the item's data.
  void AddRadioMenuItem(const std::string& Name, int32_t Tag, QMenu* Menu, void (TMainForm::*Click)(QAction*));
  void WireCommands();
  // A word of View clicked: to the clipboard and to the JSON server.
  void WordClicked(TMessageTextFrame& View, const QMouseEvent& Event);
  // Empties the three views, the callsign list and the external engine's text.
  // The callsign list emptied, and an empty list posted.
  void ClearCalls();
  void ClearViews();
  void LoadSettings();
  void StopLinks();
  void LayOutBottomPanels();
  void MarkerStripPaint();
  void ShowPendingError();
  // Opens Path (What: "the user guide") with the desktop; when it does not
  // exist or cannot be opened, a box names it and says How to open it.
  void OpenOrReport(const std::string& Path, const char* What, const char* How);
  void OpenHelpFile();
  // What the JSON server's settings line says now.
  TServerSettings CurrentSettings() const;

  // Declaration order is destruction order only as a last resort:
  // FormDestroy frees these explicitly, in the order that is safe.
  std::unique_ptr<IUserPrompts> FOwnPrompts;
  IUserPrompts* FPrompts = nullptr;
  std::unique_ptr<TQtAudioDispatcher> FDispatcher;
  std::unique_ptr<TDecodingRoad> FRoad;  // Cnv, Dsp, Chans
  std::unique_ptr<TWavRingBufRecorder> FRec;
  std::unique_ptr<TRecorderLink> FRecLink;
  std::unique_ptr<TWaterfallLink> FWaterfallLink;
  std::unique_ptr<TMmeAudioStream> FMme;
  std::unique_ptr<TJsonServer> FSrv;
  std::unique_ptr<TXmmtInterface> FXmmt;

  bool FDebugMode;
  bool FExpertMode;
  std::string FExternalExe;
  std::string FAlsaConfig;
  std::string FSettingsFile;
  std::vector<std::string> FParams;
  TSettings FLoadedSettings;  // what the file gave at start
  bool FSettingsSaved = false;
  int FWaterfallHeight = 0;  // the waterfall panel; its creation height at first
  int FRawPanelHeight = kRawPanelHeight;
  int FEnginePanelHeight = kEnginePanelHeight;
  std::string FContestFile;
  QSplitter* FSplitter = nullptr;
  QActionGroup* FDeviceItems = nullptr;   // the soundcard menu's radio items
  QActionGroup* FContestItems = nullptr;  // the contest menu's radio items
  int64_t FColumnsPushed = 0;
  bool FShown = false;
  bool FShowsUsbImage = false;
  bool FErrorPending = false;  // a box is queued or showing
  QElapsedTimer FPlayBackServed;  // valid while a play-back runs
  std::string FErrorText;
  TServerSettings FPostedSettings;  // as the clients last heard them
};

}  // namespace brenvo
