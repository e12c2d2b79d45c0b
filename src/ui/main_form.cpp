#include "ui/main_form.h"

#include <QActionGroup>
#include <QApplication>
#include <QClipboard>
#include <QAbstractEventDispatcher>
#include <QCloseEvent>
#include <QEvent>
#include <QFileInfo>
#include <QFont>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPainter>
#include <QScopeGuard>
#include <QSplitter>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdio>
#include <functional>

#include "audio/mme_audio_stream.h"
#include "audio/wav_ring_buf_recorder.h"
#include "decoder/message_hmm.h"
#include "decoder/message_statistics.h"
#include "dsp/errors.h"
#include "files/data_folders.h"
#include "files/ini_file.h"
#include "links/json_server.h"
#include "links/xmmt_interface.h"
#include "receiver/decoding_road.h"
#include "ui/about_dialog.h"
#include "ui/calls_frame.h"
#include "ui/chars_dialog.h"
#include "ui/hist2d_dialog.h"
#include "ui/image_list.h"
#include "ui/main_commands.h"
#include "ui/marker_strip.h"
#include "ui/message_text_frame.h"
#include "ui/meter_frame.h"
#include "ui/plot_dialog.h"
#include "ui/qt_audio_dispatcher.h"
#include "ui/quick_waterfall.h"
#include "ui/settings.h"
#include "ui/shell_open.h"
#include "ui/spectrum_dialog.h"
#include "ui/user_prompts.h"
#include "ui/window_geometry.h"

namespace brenvo {

namespace {

constexpr int kButtonWidth = 25;
constexpr int kWideButtonWidth = 38;  // the drop-down buttons and "clear"
constexpr int kToolPanelHeight = 29;
constexpr int kPanelBorder = 4;
constexpr int kPaintBoxWidth = 100;
constexpr int kMinTextHeight = TMessageTextFrame::kLeastHeight;
constexpr int32_t kClickDist = 17;  // bins from a waterfall click to a channel
const char* const kTagProperty = "tag";

// A surface whose painting and clicks the window does.
class TPaintBox final : public QWidget {
 public:
  using QWidget::QWidget;
  std::function<void()> OnPaint;
  // A left button pressed and released over the box.
  std::function<void(Qt::KeyboardModifiers)> OnClick;

 protected:
  void paintEvent(QPaintEvent*) override {
    if (OnPaint) OnPaint();
  }
  void mouseReleaseEvent(QMouseEvent* e) override {
    if (e->button() == Qt::LeftButton && rect().contains(e->position().toPoint()) && OnClick) OnClick(e->modifiers());
  }
};

// The raw name an item was made from.
std::string ItemName(const QAction* item) { return item->data().toByteArray().toStdString(); }
// Whether it was made from Name, without a copy of a name that may be long:
// this runs whenever the event queue runs empty.
bool ItemIs(const QAction* item, const std::string& name) {
  return item->data().toByteArray() == QByteArrayView(name.data(), static_cast<qsizetype>(name.size()));
}
int32_t ItemTag(const QAction* item) { return item->property(kTagProperty).toInt(); }

// A panel with a lowered bevel and a border inside it; returns its layout.
template <class TLayout>
TLayout* LoweredPanel(QFrame*& panel, const char* name) {
  panel = new QFrame;
  panel->setObjectName(name);
  panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  panel->setLineWidth(1);
  auto* l = new TLayout(panel);
  l->setContentsMargins(kPanelBorder, kPanelBorder, kPanelBorder, kPanelBorder);
  l->setSpacing(0);
  return l;
}

QWidget* PlainPanel(const char* name, QWidget* content) {
  auto* w = new QWidget;
  w->setObjectName(name);
  auto* l = new QVBoxLayout(w);
  l->setContentsMargins(0, 0, 0, 0);
  l->addWidget(content);
  return w;
}

}  // namespace

// The road's waterfall: counts the columns on their way to the control.
class TMainForm::TWaterfallLink final : public IWaterfall {
 public:
  explicit TWaterfallLink(TMainForm& form) : Form(form) {}
  void PushSpectrum(const TSingleArray& column) override {
    ++Form.FColumnsPushed;
    Form.Waterfall->PushSpectrum(column);
  }

 private:
  TMainForm& Form;
};

class TMainForm::TRecorderLink final : public IBlockRecorder {
 public:
  explicit TRecorderLink(TWavRingBufRecorder& rec) : Rec(rec) {}
  void AddToRingBuf(const TSingleArray& block) override { Rec.AddToRingBuf(block); }

 private:
  TWavRingBufRecorder& Rec;
};

TMainForm::TMainForm(const TMainFormOptions& options, QWidget* parent)
    : QWidget(parent),
      FDebugMode(options.DebugMode),
      FExpertMode(options.ExpertMode),
      FExternalExe(options.ExternalExe),
      FAlsaConfig(options.AlsaConfig),
      FSettingsFile(options.SettingsFile),
      FParams(options.Params),
      FContestFile(options.ContestFile.empty() ? GetContestsIniFileName() : options.ContestFile) {
  setWindowTitle(kAppTitle);
  if (options.Prompts) {
    FPrompts = options.Prompts;
  } else {
    FOwnPrompts = std::make_unique<TQtUserPrompts>(this);
    FPrompts = FOwnPrompts.get();
  }
  FDispatcher = std::make_unique<TQtAudioDispatcher>([this](std::exception_ptr e) { ReportException(e); });
  QFont font(QStringLiteral("Tahoma"));
  font.setPixelSize(11);
  font.setStyleHint(QFont::SansSerif);
  setFont(font);
  FormCreate();
  CreateDialogs();
  // Buttons and menu marks follow the state whenever the event queue runs
  // empty: once after a run of audio blocks, not after each one.
  connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, this,
          [this] { Guarded([this] { ApplicationIdle(); }); });
}

TMainForm::~TMainForm() { FormDestroy(); }

IAudioDispatcher& TMainForm::Dispatcher() { return *FDispatcher; }

QWidget* TMainForm::RawSplitter() const { return FSplitter->handle(FSplitter->indexOf(RawPanel)); }
QWidget* TMainForm::WaterfallSplitter() const { return FSplitter->handle(FSplitter->indexOf(MainPanel)); }
QWidget* TMainForm::EngineSplitter() const { return FSplitter->handle(FSplitter->indexOf(EnginePanel)); }

void TMainForm::FormCreate() {
  // The processor check runs in main(), before anything is created.
  FMme = std::make_unique<TMmeAudioStream>(*FDispatcher);
  FMme->SetDirections(ddCapture);
  TDeviceSettings& in = FMme->InputDevice();
  in.Channels = 2;
  in.SamplingRate = 6000;
  in.BitsPerSample = 16;
  in.SamplesPerBuf = TDecodingRoad::kBlockFrames;
  if (!FAlsaConfig.empty()) FMme->SetAlsaConfig(FAlsaConfig);
  const TDataEvent onData = [this](const void*, const TDataBufferI&, const TDataBufferF& inBuffer, TDataBufferF&) {
    AudioDataArrived(inBuffer);
  };
  FMme->SetOnData(onData);

  // Converter, spectrum engine and channel list (lower sideband, AFC on).
  FRoad = std::make_unique<TDecodingRoad>();
  FRec = std::make_unique<TWavRingBufRecorder>(*FPrompts);
  FRec->SetOnData(onData);
  FRecLink = std::make_unique<TRecorderLink>(*FRec);
  FWaterfallLink = std::make_unique<TWaterfallLink>(*this);

  BuildToolBar();
  BuildPanels();

  MainView->SetShowSquelched(false);
  MainView->SetShowCtrlChars(false);
  MainView->SetShowCorrected(true);
  RawView->SetShowSquelched(true);
  RawView->SetShowCtrlChars(true);
  RawView->SetShowCorrected(false);
  EngineView->SetShowSquelched(true);
  EngineView->SetShowCtrlChars(false);
  EngineView->SetShowCorrected(true);

  BuildSoundcardMenu();
  BuildContestMenu();

  TRoadLinks& links = FRoad->Links;
  links.Recorder = FRecLink.get();
  links.MainView = MainView;
  links.RawView = RawView;
  links.Waterfall = FWaterfallLink.get();
  links.Meter = Meter;
  links.Calls = CallsList;
  // The spectrum dialog and the JSON server link in here when they exist.
  FRoad->OnScaleChanged = [this] { MarkerStrip->update(); };

  Meter->ShowMeter(true);
  FSrv = std::make_unique<TJsonServer>();
  FSrv->OnGetSettings = [this] { return CurrentSettings(); };
  links.Server = FSrv.get();
  // The frames outlive the server at close: nothing is posted then.
  Meter->OnPostSMeter = [this](float db) {
    if (FSrv) FSrv->PostSMeter(db);
  };
  CallsList->OnPostCallStack = [this](const TCallExtractor& cx, bool emptyToo) {
    if (FSrv) FSrv->PostCallStack(cx, emptyToo);
  };
  CallsList->OnUserClick = [this](const std::string& word, Qt::KeyboardModifiers m, Qt::MouseButtons b,
                                  bool dbl, int32_t pos, TStateType kind) {
    Guarded([&] {
      if (FSrv) FSrv->PostUserClick(word, ShiftStateOf(m, b, dbl), pos, kind);
    });
  };
  FXmmt = std::make_unique<TXmmtInterface>(EngineView);
  FXmmt->OnShowStatus = [this](const std::string& text) { EngineView->ShowStatus(text); };

  LoadSettings();
  FRoad->DebugMode = FDebugMode;
  SaveAudioButton->setVisible(FExpertMode);
  PlayBackButton->setVisible(FExpertMode);

  // The road selected the default channel when it was built; the settings
  // may have moved the default tones since, both or only one of them. The
  // new selection takes the road's character handler with it.
  TRttyChannels& chans = FRoad->Chans;
  const TRttyChannel* sel = chans.Selected();
  if (!sel || sel->MarkBin() != chans.DefaultMarkBin() || sel->Rx.Afc.BinS != chans.DefaultSpaceBin())
    chans.SelectDefault();

  FXmmt->SetExternalExe(FExternalExe);
  FSrv->SetPort(ApplyPortParam(FParams, FSrv->Port()));
  FSrv->Start();
  StartSoundcard();
  // No box at start; one line tells a user who started us from a terminal
  // why there is no audio.
  if (!FMme->IsRunning() && !FMme->ErrorMessage().empty())
    std::fprintf(stderr, "brenvo: %s\n", FMme->ErrorMessage().c_str());
  LayOutBottomPanels();
  const QString caption = QString::fromStdString(TXmmtInterface::EngineCaption(FExternalExe));
  EngineNameLabel->setText(caption);
  EngineNameLabel->setToolTip(caption);
  EngineNameLabel->adjustSize();
  // The engine's status starts below its name.
  EngineView->SetStatusTopMargin(EngineNameLabel->height());
  WireCommands();
  ApplicationIdle();
}

void TMainForm::CreateDialogs() {
  TRttyChannels& chans = FRoad->Chans;
  PlotDialog = new TPlotDialog(this);
  PlotDialog->SetChannels(&chans);
  Hist2dDialog = new THist2dDialog(FDebugMode, this);
  Hist2dDialog->OnError = [this](const QString& text) { FPrompts->ShowError(kAppTitle, text.toStdString()); };
  chans.SetHist2d(Hist2dDialog);
  if (!Hist2dDialog->LoadError().empty()) FPrompts->ShowError(kAppTitle, Hist2dDialog->LoadError());
  // Gives the window its caption: the title and the major.minor version.
  AboutDialog = new TAboutDialog(this, QString::fromLatin1(kAppTitle), this);
  AboutDialog->OpenGuide = [this] { OpenHelpFile(); };
  CharsDialog = new TCharsDialog(this);
  CharsDialog->SetChannels(&chans);
  SpectrumDialog = new TSpectrumDialog(this);
  FRoad->Links.SpectrumDialog = SpectrumDialog;
}

void TMainForm::BuildToolBar() {
  ToolBarPanel = new QWidget;
  ToolBarPanel->setObjectName("ToolBarPanel");
  ToolBarPanel->setFixedHeight(kToolPanelHeight);
  ToolBar = new QWidget(ToolBarPanel);
  ToolBar->setObjectName("ToolBar");
  auto* outer = new QHBoxLayout(ToolBarPanel);
  outer->setContentsMargins(0, 0, 0, 0);
  outer->addWidget(ToolBar);
  auto* bar = new QHBoxLayout(ToolBar);
  bar->setContentsMargins(2, 0, 2, 0);
  bar->setSpacing(0);

  SoundcardsMenu = new QMenu(this);
  ContestsMenu = new QMenu(this);
  HelpMenu = new QMenu(this);
  BuildMenus();

  auto add = [&](const char* name, int32_t image, const char* hint, bool checkable, QMenu* menu) {
    auto* b = new QToolButton(ToolBar);
    b->setObjectName(name);
    b->setIcon(TImageList::ToolImage(image));
    b->setIconSize(QSize(TImageList::kToolImageSize, TImageList::kToolImageSize));
    b->setToolTip(hint);
    b->setAutoRaise(true);
    b->setCheckable(checkable);
    b->setFixedWidth(kButtonWidth);
    if (menu) {
      b->setMenu(menu);
      b->setPopupMode(QToolButton::MenuButtonPopup);
    }
    bar->addWidget(b);
    return b;
  };
  auto separator = [&] {
    auto* s = new QFrame(ToolBar);
    s->setFrameStyle(QFrame::VLine | QFrame::Sunken);
    s->setFixedWidth(8);
    bar->addWidget(s);
  };
  SoundcardButton =
      add("SoundcardButton", tiSoundcard, "Select And Start/Stop Soundcard", true, SoundcardsMenu);
  separator();
  SidebandButton = add("SidebandButton", tiLowerSideband, "Upper / Lower Sideband", true, nullptr);
  AfcButton = add("AfcButton", tiAfc, "AFC (Automatic Frequency Control)", true, nullptr);
  AutoQsxButton = add("AutoQsxButton", tiAutomaticQsx, "Automatic QSX", true, nullptr);
  SmartDecodingButton = add("SmartDecodingButton", tiSmartDecoding, "Smart Decoding Mode", true, nullptr);
  separator();
  ContestButton = add("ContestButton", tiContest, "Contest Mode", true, ContestsMenu);
  ClearButton = add("ClearButton", tiClear, "Clear Received Text", false, nullptr);
  separator();
  HelpButton = add("HelpButton", tiHelp, "", false, HelpMenu);
  SaveAudioButton = add("SaveAudioButton", tiSave, "Save Last 60 Seconds of Audio", false, nullptr);
  PlayBackButton = add("PlayBackButton", tiPlayBack, "Play Back Audio Recording", false, nullptr);
  for (QToolButton* b : {SoundcardButton, ContestButton, ClearButton, HelpButton})
    b->setFixedWidth(kWideButtonWidth);
  bar->addStretch(1);
}

void TMainForm::BuildPanels() {
  // Waterfall panel: the waterfall and its marker strip in a lowered frame,
  // the meter and the callsign list in another.
  WaterfallPanel = new QWidget;
  WaterfallPanel->setObjectName("WaterfallPanel");
  auto* p1 = new QHBoxLayout(WaterfallPanel);
  p1->setContentsMargins(0, 0, 0, 0);
  p1->setSpacing(0);

  auto* p2 = LoweredPanel<QHBoxLayout>(WaterfallFrame, "WaterfallFrame");
  WaterfallViewport = new QWidget;
  WaterfallViewport->setObjectName("WaterfallViewport");
  WaterfallViewport->installEventFilter(this);
  Waterfall = new TQuickWaterFall(WaterfallViewport);
  Waterfall->setObjectName("Waterfall");
  Waterfall->SetFirstColor(QColor(0xFF, 0xFF, 0xFF));
  Waterfall->SetLastColor(QColor(0x80, 0x00, 0x80));
  Waterfall->SetGamma(1.0f);
  Waterfall->SetContrast(20.0f);
  Waterfall->SetBrightness(-15.0f);
  Waterfall->SetHistoryLength(3000);
  Waterfall->SetHistoryHeight(256);
  Waterfall->SetDragAllowed(false);
  Waterfall->SetPseudoColors(true);
  Waterfall->setCursor(Qt::CrossCursor);
  Waterfall->setGeometry(0, 0, WaterfallViewport->width(), kWaterfallHeight);
  auto* box = new TPaintBox;
  box->setObjectName("MarkerStrip");
  box->setFixedWidth(kPaintBoxWidth);
  box->setAttribute(Qt::WA_OpaquePaintEvent);
  box->OnPaint = [this] { Guarded([this] { MarkerStripPaint(); }); };
  MarkerStrip = box;
  p2->addWidget(WaterfallViewport, 1);
  p2->addWidget(MarkerStrip);

  auto* p4 = LoweredPanel<QVBoxLayout>(MeterAndCallsPanel, "MeterAndCallsPanel");
  Meter = new TMeterFrame;
  Meter->setObjectName("Meter");
  CallsList = new TCallsFrame;
  CallsList->setObjectName("CallsList");
  p4->addWidget(Meter);
  p4->addWidget(CallsList, 1);
  p1->addWidget(WaterfallFrame, 1);
  p1->addWidget(MeterAndCallsPanel);

  // The whole waterfall fits when the panel is at its tallest.
  const int frameSpace = 2 * (WaterfallFrame->frameWidth() + kPanelBorder);
  const int height = kWaterfallHeight + frameSpace;
  // At its least the panel keeps the design's height or, when taller, the
  // meter's and a few calls' (its layout adds them up).
  WaterfallFrame->setMinimumHeight(kWaterfallPanelMinHeight);
  WaterfallPanel->setMaximumHeight(height);
  FWaterfallHeight = height;
  // Wide enough for the meter's dial with 12 pixels to spare beside it.
  MeterAndCallsPanel->setFixedWidth(2 * (MeterAndCallsPanel->frameWidth() + kPanelBorder) +
                                    TMeterFrame::kOpenWidth);

  MainView = new TMessageTextFrame;
  MainView->setObjectName("MainView");
  RawView = new TMessageTextFrame;
  RawView->setObjectName("RawView");
  EngineView = new TMessageTextFrame;
  EngineView->setObjectName("EngineView");
  MainPanel = PlainPanel("MainPanel", MainView);
  RawPanel = PlainPanel("RawPanel", RawView);
  EnginePanel = PlainPanel("EnginePanel", EngineView);
  EngineNameLabel = new QLabel(EnginePanel);
  EngineNameLabel->setObjectName("EngineNameLabel");
  EngineNameLabel->setMinimumSize(42, 19);
  EngineNameLabel->setFrameStyle(QFrame::Panel | QFrame::Raised);
  EngineNameLabel->setAlignment(Qt::AlignCenter);
  EngineNameLabel->setAutoFillBackground(true);
  EngineNameLabel->move(0, 0);
  EngineNameLabel->raise();

  // From top to bottom: waterfall panel, WaterfallSplitter, main text,
  // RawSplitter and raw text, EngineSplitter and the engine's text.
  FSplitter = new QSplitter(Qt::Vertical);
  FSplitter->setObjectName("Splitters");
  FSplitter->setHandleWidth(kSplitterHeight);
  FSplitter->setChildrenCollapsible(false);
  for (QWidget* w : {WaterfallPanel, MainPanel, RawPanel, EnginePanel}) FSplitter->addWidget(w);
  FSplitter->setStretchFactor(FSplitter->indexOf(MainPanel), 1);
  for (QWidget* w : {WaterfallPanel, RawPanel, EnginePanel})
    FSplitter->setStretchFactor(FSplitter->indexOf(w), 0);

  auto* top = new QVBoxLayout(this);
  top->setContentsMargins(0, 0, 0, 0);
  top->setSpacing(0);
  top->addWidget(ToolBarPanel);
  top->addWidget(FSplitter, 1);
  // No narrower than the whole tool bar, expert buttons included; the
  // layout makes it no lower than its panels at their least.
  setMinimumWidth(std::max(ToolBarPanel->sizeHint().width(), TSettingsLimits().MinWidth));
  resize(kClientWidth, kClientHeight);
}

void TMainForm::LoadSettings() {
  // After the engine objects, the layout and the meter exist, before the
  // default channel is selected. Without a file the options stand.
  if (FSettingsFile.empty()) return;
  TRttyChannels& chans = FRoad->Chans;
  TSettings cur;
  cur.WaterfallHeight = WaterfallPanel->maximumHeight();
  cur.FontSize = MainView->FontSize();
  cur.DebugMode = FDebugMode;
  cur.ExpertMode = FExpertMode;
  cur.ExternalExe = FExternalExe;
  TSettingsLimits lim;
  lim.MinWidth = minimumWidth();
  lim.MaxWaterfallHeight = WaterfallPanel->maximumHeight();
  lim.MinPanelHeight = kMinTextHeight;
  lim.DeviceCount = static_cast<int32_t>(std::max<std::size_t>(WaveInDeviceNames.size(), 1));
  lim.FftSize = chans.FftSize();
  lim.Screens = ScreenRects();
  TSettings s;
  try {
    s = brenvo::LoadSettings(FSettingsFile, cur, lim);
  } catch (const EFileError& e) {
    // Its contents are unknown: never written over.
    FSettingsSaved = true;
    FPrompts->ShowError(kAppTitle, std::string(e.what()) +
                                       ". The program starts with its default settings and leaves the "
                                       "file as it is.");
    return;
  }
  FLoadedSettings = s;

  ApplyWindowGeometry(*this, s);
  Meter->ShowMeter(s.MeterVisible);
  FWaterfallHeight = s.WaterfallHeight;
  FRawPanelHeight = s.RawPanelHeight;
  FEnginePanelHeight = s.EnginePanelHeight;
  for (TMessageTextFrame* v : {MainView, RawView, EngineView}) v->SetFontSize(s.FontSize);
  chans.SetUsb(s.Usb);
  chans.SetAfcEnabled(s.AfcEnabled);
  FRoad->HoppingEnabled = s.HoppingEnabled;
  // A saved contest the contest file cannot give is reported, and the
  // program starts without one: contest mode with empty contest lists would
  // only correct worse.
  Guarded([&] {
    if (s.Contest.empty() || s.Contest == "DX" || TIniFile(FContestFile).SectionExists(s.Contest)) {
      SetContest(s.Contest);
    } else {
      SetContest("DX");
      throw EBrenvoError("The contest file " + FContestFile + " has no contest \"" + s.Contest +
                         "\": contest mode is off. Choose a contest from the contest button's menu.");
    }
  });
  chans.DefaultHighTone = s.DefaultHighTone;
  FExternalExe = s.ExternalExe;
  FMme->InputDevice().Index = s.DeviceIndex;
  FRoad->RightChannel = s.RightChannel;
  FSrv->SetPort(s.Port);
  FDebugMode = s.DebugMode;
  FExpertMode = s.ExpertMode;
}

void TMainForm::SaveSettings() {
  if (FSettingsFile.empty() || FSettingsSaved || !FRoad) return;
  FSettingsSaved = true;
  const TRttyChannels& chans = FRoad->Chans;
  TSettings s;
  StoreWindowGeometry(*this, s);
  s.MeterVisible = Meter->IsMeterShowing();
  const QList<int> sizes = FSplitter->sizes();
  s.WaterfallHeight = sizes[FSplitter->indexOf(WaterfallPanel)];
  // A hidden panel keeps the height it had when it was last shown.
  s.RawPanelHeight = RawPanel->isVisible() ? sizes[FSplitter->indexOf(RawPanel)] : FRawPanelHeight;
  s.EnginePanelHeight =
      EnginePanel->isVisible() ? sizes[FSplitter->indexOf(EnginePanel)] : FEnginePanelHeight;
  s.FontSize = MainView->FontSize();
  s.Usb = chans.Usb();
  s.AfcEnabled = chans.AfcEnabled();
  s.HoppingEnabled = FRoad->HoppingEnabled;
  s.Contest = MessageStatistics()->ContestName;
  s.DefaultHighTone = chans.DefaultHighTone;
  s.DeviceIndex = FMme ? FMme->InputDevice().Index : 0;
  s.RightChannel = FRoad->RightChannel;
  s.Port = FSrv ? FSrv->Port() : TJsonServer::kDefaultPort;
  try {
    brenvo::SaveSettings(FSettingsFile, s, &FLoadedSettings);
  } catch (...) {
    FPrompts->ShowError(kAppTitle, ExceptionText(std::current_exception()));
  }
}

void TMainForm::LayOutBottomPanels() {
  const bool engine = !FExternalExe.empty();
  EnginePanel->setVisible(engine);
  RawPanel->setVisible(FDebugMode);
  const int waterfall =
      std::clamp(FWaterfallHeight, WaterfallPanel->minimumSizeHint().height(), WaterfallPanel->maximumHeight());
  int rest = height() - kToolPanelHeight - waterfall - kSplitterHeight;
  if (FDebugMode) rest -= FRawPanelHeight + kSplitterHeight;
  if (engine) rest -= FEnginePanelHeight + kSplitterHeight;
  FSplitter->setSizes({waterfall, std::max(rest, MainPanel->minimumSizeHint().height()), FRawPanelHeight,
                       FEnginePanelHeight});
}

void TMainForm::StartSoundcard() {
  FRec->ClearRingBuf();
  try {
    FMme->Open();
  } catch (...) {
    // No message at start or from a device choice: the soundcard button
    // shows the stream as stopped.
  }
}

void TMainForm::AudioDataArrived(const TDataBufferF& inBuffer) {
  // The buttons follow when the event queue next runs empty, or, after a
  // play-back, when its command ends.
  FRoad->AudioDataArrived(inBuffer);
  // Logging programs follow a play-back as it runs; nothing else of the
  // event loop may (no click inside this one).
  if (FPlayBackServed.isValid() && FPlayBackServed.hasExpired(kServeDuringPlayBackMs)) {
    FPlayBackServed.start();
    if (FSrv) FSrv->ServeWithoutEventLoop();
  }
}

void TMainForm::ApplicationIdle() {
  if (!FRoad) return;
  const TRttyChannel* sel = FRoad->Chans.Selected();
  const bool usb = sel && sel->Rx.Afc.IsUsb();
  SoundcardButton->setChecked(FMme && FMme->IsRunning());
  AutoQsxButton->setChecked(FRoad->HoppingEnabled);
  SidebandButton->setChecked(usb);
  if (usb != FShowsUsbImage) {
    FShowsUsbImage = usb;
    SidebandButton->setIcon(TImageList::ToolImage(usb ? tiUpperSideband : tiLowerSideband));
  }
  SmartDecodingButton->setChecked(MainView->ShowCorrected());
  AfcButton->setChecked(FRoad->Chans.AfcEnabled());
  ContestButton->setChecked(MessageStatistics()->ContestName != "DX");
  LeftChannelMNU->setChecked(!FRoad->RightChannel);
  RightChannelMNU->setChecked(FRoad->RightChannel);
  DisableAudioMNU->setChecked(!SoundcardButton->isChecked());
  for (QAction* a : FDeviceItems->actions()) a->setChecked(FMme && ItemTag(a) == FMme->InputDevice().Index);
  DisableContestMNU->setChecked(!ContestButton->isChecked());
  const auto stats = MessageStatistics();
  for (QAction* a : FContestItems->actions()) a->setChecked(ItemIs(a, stats->ContestName));
  // The clients hear of every change of the settings line, whatever made
  // it, once: the commands run this right after they act.
  if (const TServerSettings now = CurrentSettings(); FSrv && now != FPostedSettings) {
    FPostedSettings = now;
    FSrv->PostSettings();
  }
}

TServerSettings TMainForm::CurrentSettings() const {
  return TServerSettings{FRoad->Chans.Usb(), FRoad->Chans.AfcEnabled(), FRoad->HoppingEnabled,
                         MessageStatistics()->ContestName};
}

void TMainForm::WaterfallViewportResize() {
  if (!FRoad) return;
  const TRttyChannels& chans = FRoad->Chans;
  const int32_t centre = (chans.DefaultMarkBin() + chans.DefaultSpaceBin()) / 2;
  const int32_t row = FRoad->Dsp.FftSize() - 17 - centre;
  const int height = WaterfallViewport->height();
  // Never a gap below the waterfall, never one above it.
  int top = height / 2 - row;
  top = std::max(top, height - kWaterfallHeight);
  top = std::min(top, 0);
  Waterfall->setGeometry(0, top, WaterfallViewport->width(), kWaterfallHeight);
  MarkerStrip->update();
}

void TMainForm::MarkerStripPaint() {
  if (!FRoad) return;
  QPainter p(MarkerStrip);
  TMarkerStrip strip;
  // The waterfall's top in the strip's rows, wherever the layout put them.
  strip.WaterfallTop = Waterfall->mapTo(WaterfallFrame, QPoint(0, 0)).y() - MarkerStrip->y();
  strip.FftSize = FRoad->Dsp.FftSize();
  strip.DefaultMarkBin = FRoad->Chans.DefaultMarkBin();
  strip.DefaultSpaceBin = FRoad->Chans.DefaultSpaceBin();
  strip.PeakData = FRoad->Dsp.PeakData();
  strip.Chans = &FRoad->Chans;
  strip.ExpertMode = FExpertMode;
  strip.DebugMode = FDebugMode;
  strip.Paint(p, MarkerStrip->size(), MarkerStrip->palette());
}

void TMainForm::ReportException(std::exception_ptr e) {
  if (FErrorPending) return;
  FErrorPending = true;
  FErrorText = ExceptionText(e);
  // Shown from the event loop, never from inside a paint or the road.
  QTimer::singleShot(0, this, [this] { ShowPendingError(); });
}

void TMainForm::ShowPendingError() {
  const auto done = qScopeGuard([this] { FErrorPending = false; });
  FPrompts->ShowError(kAppTitle, FErrorText);
}

void TMainForm::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (FShown) return;
  FShown = true;
  Guarded([this] { FormShow(); });
}

void TMainForm::FormShow() {
  setWindowTitle(QString::fromStdString(ApplyCaptionParam(FParams, windowTitle().toStdString())));
  if (!FExternalExe.empty()) FXmmt->SetConnected(true);
  WaterfallViewportResize();
  ApplicationIdle();
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
  if (watched == WaterfallViewport && event->type() == QEvent::Resize)
    Guarded([this] { WaterfallViewportResize(); });
  return QWidget::eventFilter(watched, event);
}

void TMainForm::StopLinks() {
  // Their events must not reach the channel list or the views once those
  // are gone.
  if (FRoad) FRoad->Links.Server = nullptr;
  FSrv.reset();
  FXmmt.reset();
}

void TMainForm::closeEvent(QCloseEvent* event) {
  // Written while the window can still show a message.
  Guarded([this] { SaveSettings(); });
  QWidget::closeEvent(event);
}

void TMainForm::FormDestroy() {
  SaveSettings();
  WaterfallViewport->removeEventFilter(this);
  // First everything that could still reach the decoding objects: the
  // soundcard (its capture thread ends and its queued blocks are withdrawn),
  // then the links to other programs.
  FMme.reset();
  StopLinks();
  // The level histogram is saved (in debug mode) while the receivers still
  // know it; the other dialogs read the channel list when they paint.
  if (FRoad) {
    FRoad->Chans.SetHist2d(nullptr);
    FRoad->Links.SpectrumDialog = nullptr;
  }
  delete Hist2dDialog;
  Hist2dDialog = nullptr;
  delete PlotDialog;
  PlotDialog = nullptr;
  delete CharsDialog;
  CharsDialog = nullptr;
  // Then the decoding objects and the recorder.
  FRoad.reset();
  FRecLink.reset();
  FRec.reset();
  FWaterfallLink.reset();
  FDispatcher.reset();
}

// Menus ------------------------------------------------------------------

void TMainForm::BuildMenus() {
  DisableAudioMNU = SoundcardsMenu->addAction("Stop Soundcard");
  DisableAudioMNU->setCheckable(true);
  SoundcardsMenu->setDefaultAction(DisableAudioMNU);
  SoundcardsMenu->addSeparator();
  auto* channels = new QActionGroup(SoundcardsMenu);
  LeftChannelMNU = channels->addAction("Left Channel");
  RightChannelMNU = channels->addAction("Right Channel");
  for (QAction* a : {LeftChannelMNU, RightChannelMNU}) {
    a->setCheckable(true);
    SoundcardsMenu->addAction(a);
  }
  SoundcardsMenu->addSeparator();
  FDeviceItems = new QActionGroup(SoundcardsMenu);
  FDeviceItems->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);

  DisableContestMNU = ContestsMenu->addAction("Disable Contest Mode");
  DisableContestMNU->setCheckable(true);
  ContestsMenu->setDefaultAction(DisableContestMNU);
  ContestsMenu->addSeparator();
  FContestItems = new QActionGroup(ContestsMenu);
  FContestItems->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);

  HelpFileMNU = HelpMenu->addAction("Help File...");
  DataFolderMNU = HelpMenu->addAction("Data Folder...");
  HelpMenu->addSeparator();
  AboutMNU = HelpMenu->addAction("About...");
}

void TMainForm::BuildSoundcardMenu() {
  for (std::size_t i = 0; i < WaveInDeviceNames.size(); ++i)
    AddRadioMenuItem(WaveInDeviceNames[i], static_cast<int32_t>(i), SoundcardsMenu, &TMainForm::SoundcardItemClick);
}

void TMainForm::BuildContestMenu() {
  // Said once, here: the contest loader reads a refused file as a missing one.
  const TIniFile contests(FContestFile);
  if (!contests.ReadError().empty())
    FPrompts->ShowError(kAppTitle, "Cannot read the contest file " + FContestFile + ": " + contests.ReadError() +
                                       ". The program runs without contests.");
  // Two names more than the menu lists: one may be "DX", and one more shows
  // that there are more than it lists.
  std::vector<TContestMenuEntry> entries = ContestMenuEntries(contests.ReadSectionNames(kMaxContestMenuItems + 2));
  if (entries.size() > kMaxContestMenuItems) {
    entries.resize(kMaxContestMenuItems);
    const std::string limit = std::to_string(kMaxContestMenuItems);
    FPrompts->ShowError(kAppTitle, "The contest file " + FContestFile + " has more than " + limit +
                                       " contests: the contest menu lists the first " + limit + ".");
  }
  for (const TContestMenuEntry& e : entries) AddRadioMenuItem(e.Name, e.Tag, ContestsMenu, &TMainForm::ContestItemClick);
}

void TMainForm::AddRadioMenuItem(const std::string& name, int32_t tag, QMenu* menu,
                                 void (TMainForm::*click)(QAction*)) {
  QActionGroup* group = menu == SoundcardsMenu ? FDeviceItems : FContestItems;
  // Qt would take "&" for a shortcut mark: the caption reads as the name.
  auto* item = new QAction(QString::fromStdString(MenuCaptionText(name)), menu);
  item->setData(QByteArray::fromStdString(name));
  item->setProperty(kTagProperty, tag);
  item->setCheckable(true);
  group->addAction(item);
  connect(item, &QAction::triggered, this, [this, item, click] {
    Guarded([&] { (this->*click)(item); });
    ApplicationIdle();
  });
  menu->addAction(item);
}

// Every control's command, each behind Guarded; the state shown follows at
// once, not only when the event queue next runs empty.
void TMainForm::WireCommands() {
  auto on = [this](auto* sender, auto signal, auto handler) {
    connect(sender, signal, this, [this, handler] {
      Guarded(handler);
      ApplicationIdle();
    });
  };
  on(SoundcardButton, &QToolButton::clicked, [this] { SoundcardButtonClick(); });
  on(SidebandButton, &QToolButton::clicked, [this] { SidebandButtonClick(); });
  on(AfcButton, &QToolButton::clicked, [this] { AfcButtonClick(); });
  on(AutoQsxButton, &QToolButton::clicked, [this] { AutoQsxButtonClick(); });
  on(SmartDecodingButton, &QToolButton::clicked, [this] { SmartDecodingButtonClick(); });
  on(ContestButton, &QToolButton::clicked, [this] { ContestButtonClick(); });
  on(ClearButton, &QToolButton::clicked, [this] { ClearButtonClick(); });
  on(HelpButton, &QToolButton::clicked, [this] { HelpButtonClick(); });
  on(SaveAudioButton, &QToolButton::clicked, [this] { SaveAudioButtonClick(); });
  on(PlayBackButton, &QToolButton::clicked,
     [this] { PlayBackButtonClick(QGuiApplication::keyboardModifiers()); });
  on(DisableAudioMNU, &QAction::triggered, [this] { SoundcardButtonClick(); });
  on(LeftChannelMNU, &QAction::triggered, [this] { FRoad->RightChannel = false; });
  on(RightChannelMNU, &QAction::triggered, [this] { FRoad->RightChannel = true; });
  on(DisableContestMNU, &QAction::triggered, [this] { SetContest("DX"); });
  on(HelpFileMNU, &QAction::triggered, [this] { OpenHelpFile(); });
  on(DataFolderMNU, &QAction::triggered,
     [this] { OpenOrReport(GetSettingsFolder(), "the data folder", "in a file manager"); });
  on(AboutMNU, &QAction::triggered, [this] { AboutDialog->exec(); });

  Waterfall->OnMouseDown = [this](QMouseEvent* e) {
    Guarded([&] { WaterfallMouseDown(static_cast<int>(e->position().y())); });
  };
  const std::pair<TMessageTextFrame*, void (TMainForm::*)(const QMouseEvent&)> views[] = {
      {MainView, &TMainForm::MainViewMouseDown},
      {RawView, &TMainForm::RawViewMouseDown},
      {EngineView, &TMainForm::EngineViewMouseDown}};
  for (const auto& [view, handler] : views) {
    view->OnMouseDown = [this, handler](const QMouseEvent& e) { Guarded([&] { (this->*handler)(e); }); };
    view->OnBeep = [this] { FPrompts->Beep(); };
  }
  static_cast<TPaintBox*>(MarkerStrip)->OnClick = [this](Qt::KeyboardModifiers m) {
    Guarded([&] { MarkerStripClick(m); });
    ApplicationIdle();
  };
}

// Commands ---------------------------------------------------------------

std::string TMainForm::HelpFileName() { return UserGuidePath().toStdString(); }

void TMainForm::OpenOrReport(const std::string& path, const char* what, const char* how) {
  // A click that opens nothing must say so: the user can still open it.
  const QString p = QString::fromStdString(path);
  if (QFileInfo::exists(p) && ShellOpen(p, ShellOpener)) return;
  FPrompts->ShowError(kAppTitle,
                      std::string("Cannot open ") + what + " \"" + path + "\". Open it by hand " + how + ".");
}

void TMainForm::OpenHelpFile() { OpenOrReport(HelpFileName(), "the user guide", "in a web browser"); }

void TMainForm::SetContest(const std::string& name) {
  // Loaded and the model rebuilt in one step: a file that cannot be used
  // leaves the contest in force as it was, and the message says so.
  try {
    SetMessageContestFromFile(name, FContestFile);
  } catch (const std::exception& e) {
    throw EBrenvoError(std::string(e.what()) + ". \"" + MessageStatistics()->ContestName +
                       "\" stays in force: correct the file, then choose the contest again.");
  }
  FRoad->Chans.Reset();
  ClearViews();
}

void TMainForm::ClearViews() {
  MainView->Clear();
  RawView->Clear();
  EngineView->Clear();
  // Its lines were the reset receivers' calls.
  ClearCalls();
  FXmmt->Reset();
  FRoad->ViewsCleared();
}

void TMainForm::ClearCalls() {
  CallsList->Clear();
  // The clients drop the calls too.
  FSrv->PostCallStack(std::vector<const TCallEstimate*>{}, true);
}

void TMainForm::SaveMessagesAsHtml(const std::string& fileName) {
  brenvo::SaveMessagesAsHtml(fileName, MainView->Model(), UtcNow());
}

void TMainForm::SoundcardButtonClick() {
  if (FMme->IsRunning()) {
    FMme->Close();
  } else {
    FRec->ClearRingBuf();
    FMme->Open();
  }
}

void TMainForm::SoundcardItemClick(QAction* item) {
  FMme->Close();
  // The stream drops what the closed run still had queued.
  FMme->InputDevice().Index = DeviceIndexOfCaption(WaveInDeviceNames, ItemName(item));
  StartSoundcard();
}

void TMainForm::SidebandButtonClick() {
  FRoad->Chans.SetUsb(!FRoad->Chans.Usb());
  MarkerStrip->update();
}

void TMainForm::AfcButtonClick() {
  FRoad->Chans.SetAfcEnabled(!FRoad->Chans.AfcEnabled());
}

void TMainForm::AutoQsxButtonClick() {
  FRoad->HoppingEnabled = !FRoad->HoppingEnabled;
}

void TMainForm::SmartDecodingButtonClick() {
  MainView->Clear();
  MainView->SetShowCorrected(!MainView->ShowCorrected());
  const TRttyChannel* sel = FRoad->Chans.Selected();
  if (!sel) return;
  const TMessageStorage& ms = sel->Rx.Ms;
  const TCharInfoArray all(ms.Chars().begin(), ms.Chars().begin() + (ms.HiChar() + 1));
  MainView->PutText(all, {});
}

void TMainForm::ContestButtonClick() {
  if (MessageStatistics()->ContestName == "DX") {
    ContestsMenu->popup(ContestButton->mapToGlobal(QPoint(0, ContestButton->height())));
  } else {
    SetContest("DX");
  }
}

void TMainForm::ContestItemClick(QAction* item) { SetContest(ItemName(item)); }

void TMainForm::ClearButtonClick() {
  if (TRttyChannel* sel = FRoad->Chans.Selected()) sel->Rx.Reset();
  ClearViews();
}

void TMainForm::HelpButtonClick() {
  if (FDebugMode) {
    SpectrumDialog->show();
  } else {
    OpenHelpFile();
  }
}

void TMainForm::SaveAudioButtonClick() {
  if (FRec->SaveRingBuf()) SaveMessagesAsHtml(HtmlLogFileName(FRec->LastFileName()));
}

void TMainForm::PlayBackButtonClick(Qt::KeyboardModifiers modifiers) {
  FMme->Close();
  MainView->Clear();
  RawView->Clear();
  ClearCalls();
  FRoad->ViewsCleared();
  RefreshCursor(this, Qt::WaitCursor);
  QWidget* suspended[] = {MainView, RawView, CallsList->ListEdit()};
  for (QWidget* w : suspended) w->setUpdatesEnabled(false);
  // Whatever the play-back does, the cursor and the views come back.
  FPlayBackServed.start();
  const auto restore = qScopeGuard([&] {
    FPlayBackServed.invalidate();
    RefreshCursor(this, Qt::ArrowCursor);
    for (QWidget* w : suspended) w->setUpdatesEnabled(true);
  });
  FRec->PlayBack(!(modifiers & Qt::ControlModifier));
}

void TMainForm::WaterfallMouseDown(int y) {
  const TRttyChannels& chans = FRoad->Chans;
  FRoad->SelectChannel(
      WaterfallClickBin(Waterfall->height(), y, chans.DefaultMarkBin(), chans.DefaultSpaceBin()),
      kClickDist);
}

void TMainForm::MarkerStripClick(Qt::KeyboardModifiers modifiers) {
  FRoad->SelectDefault();
  if (modifiers & Qt::ControlModifier) {
    FRoad->HoppingEnabled = false;
    FRoad->Chans.SetAfcEnabled(true);
  }
  MarkerStrip->update();
}

void TMainForm::WordClicked(TMessageTextFrame& view, const QMouseEvent& e) {
  // Asked in this order, as the view expects: the word (which beeps when
  // there is none), its kind, the click's place in it.
  const std::string word = view.WordUnderMouse();
  const TStateType kind = view.WordTypeUnderMouse();
  const int32_t pos = view.WordClickPos();
  if (word.empty()) return;
  QGuiApplication::clipboard()->setText(QString::fromStdString(Cp1252ToUtf8(word)));
  FSrv->PostUserClick(word, ShiftStateOf(e.modifiers(), e.buttons(), e.type() == QEvent::MouseButtonDblClick), pos,
                      kind);
}

void TMainForm::MainViewMouseDown(const QMouseEvent& e) { WordClicked(*MainView, e); }

void TMainForm::RawViewMouseDown(const QMouseEvent&) {
  const int32_t n = RawView->SampleNoUnderMouse();
  // The channel-change bar has no spectra to plot.
  if (n == -1 || n == TMessageTextModel::kBarSampleNo) return;
  PlotDialog->show();
  PlotDialog->PlotAround(n);
}

void TMainForm::EngineViewMouseDown(const QMouseEvent& e) {
  if (e.modifiers().testFlags(Qt::ControlModifier | Qt::ShiftModifier)) {
    FXmmt->SetWindowVisible(!FXmmt->WindowVisible());
  } else {
    WordClicked(*EngineView, e);
  }
}

}  // namespace brenvo
