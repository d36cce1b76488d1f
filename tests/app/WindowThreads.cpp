// The main window's threads under ThreadSanitizer: the alert sound's worker, the mail workers,
// and suspend and resume arriving from another thread (as the system bus delivers them) while
// monitoring passes and mails run. The window and the sound are the program's own, built with the
// sanitizer; the drives are simulated and slow, the mail server is a stand-in that takes its time.
// A plain program rather than a Qt Test one: Qt Test's watchdog thread lives in the
// uninstrumented library and trips ThreadSanitizer by itself.
#include <sys/prctl.h>

#include <QApplication>
#include <QCheckBox>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <thread>

#include "ui/SMTPUnit.h"
#include "ui/WindowTestKit.h"

using namespace dv;
using namespace dv::testing;
using namespace std::chrono_literals;

namespace {

int failures = 0;

void Check(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "FAIL: %s\n", what);
  ++failures;
}

// Runs the window thread's events until `done` holds or `limit` has passed.
bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit = 10s) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  return true;
}

void RunEventsFor(std::chrono::milliseconds time) {
  const auto end = std::chrono::steady_clock::now() + time;
  WaitFor([end] { return std::chrono::steady_clock::now() > end; }, time + 1s);
}

// A mail server that takes `exchange` over every mail. Counts are atomics: the workers write them.
class SlowServer {
 public:
  explicit SlowServer(std::chrono::milliseconds exchange) : exchange_(exchange) {}
  ReportSender Function() {
    return [this](const MailSettings&, const ReportText&) {
      inExchange_ = true;
      std::this_thread::sleep_for(exchange_);
      inExchange_ = false;
      ++sent_;
      return MailResult{0, "250 OK"};
    };
  }
  bool InExchange() const { return inExchange_; }
  int Sent() const { return sent_; }

 private:
  std::chrono::milliseconds exchange_;
  std::atomic<bool> inExchange_{false};
  std::atomic<int> sent_{0};
};

std::unique_ptr<SimulatedDriveSystem> SlowDrives() {
  std::vector<std::string> drives;
  for (int n = 0; n < 6; ++n) {
    drives.push_back(DriveJson(n, "DRIVE-" + std::to_string(n), n == 2 ? "error" : "ok"));
  }
  auto system = DrivesFromJson(drives);
  for (int n = 0; n < 6; ++n) system->FindDrive(n)->latencyMs = 2;
  return system;
}

// Passes every 20 ms, each a bad one (sound, balloon, warning mail), reports every 30 ms, and a
// thread of its own sending suspend and resume at random moments. After each suspend the timers
// rest and no mail is in its exchange; after each resume monitoring runs again.
void SuspendAndResumeWhilePassesAndMailsRun(AlertSound& sound) {
  WindowTestKit kit(SlowDrives());
  SlowServer server(15ms);
  MainFormContext context = kit.Context();
  context.sound = &sound;
  context.sendReport = server.Function();
  context.mailIdleTimeout = 5s;
  TMainForm form(context);
  PowerEventSource bus;  // the system bus's end, on the window thread like the real one
  Check(form.FormCreate() == StartupResult::Running, "the window starts");
  form.AlertCB->setChecked(true);
  form.BallHCB->setChecked(true);
  form.SMTPForm()->SMTPWarningsCB->setChecked(true);
  form.SMTPForm()->SMTPReportsCB->setChecked(true);
  form.SMARTT->setInterval(20);
  form.SMARTT->start();
  form.SMTPReportsTimer->setInterval(30);
  form.SMTPReportsTimer->start();

  // On the window thread the window takes its steps for each notice, and the state is checked
  // right after them, with no event run in between.
  int suspends = 0;
  int resumes = 0;
  QObject::connect(&bus, &PowerEventSource::suspending, &form, [&] {
    emit kit.power.suspending();
    ++suspends;
    Check(!form.SMARTT->isActive(), "monitoring rests in suspend");
    Check(!form.SMTPReportsTimer->isActive(), "reports rest in suspend");
    Check(!server.InExchange(), "suspend waited for the mail");
  });
  QObject::connect(&bus, &PowerEventSource::resuming, &form, [&] {
    emit kit.power.resuming();
    ++resumes;
    Check(form.SMARTT->isActive(), "monitoring runs after resume");
    Check(form.SMTPReportsTimer->isActive(), "reports run after resume");
  });

  constexpr int kCycles = 12;
  // The bus thread hands its notices over under a lock of ours and the window thread picks them up
  // from a timer of its own: handed over inside Qt's event queue (built without the sanitizer),
  // a notice would look to ThreadSanitizer like a race in Qt itself.
  std::mutex noticesLock;
  std::deque<bool> notices;  // true: suspending, false: resuming
  QTimer pickUp;
  pickUp.setInterval(1);
  QObject::connect(&pickUp, &QTimer::timeout, &form, [&] {
    std::deque<bool> picked;
    {
      const std::lock_guard<std::mutex> held(noticesLock);
      picked.swap(notices);
    }
    for (const bool suspending : picked) {
      if (suspending) {
        emit bus.suspending();
      } else {
        emit bus.resuming();
      }
    }
  });
  pickUp.start();
  std::thread busThread([&] {
    std::mt19937 random(11);
    std::uniform_int_distribution<int> pause(5, 60);
    for (int i = 0; i < 2 * kCycles; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(pause(random)));
      const std::lock_guard<std::mutex> held(noticesLock);
      notices.push_back(i % 2 == 0);
    }
  });
  Check(WaitFor([&] { return resumes == kCycles; }, 30s), "every suspend and resume arrives");
  busThread.join();
  pickUp.stop();
  Check(suspends == kCycles, "every suspend is handled");
  RunEventsFor(100ms);
  Check(server.Sent() > 0, "mails went out");
  Check(!kit.drives->CommandLog().empty(), "passes ran");
  std::fprintf(stderr, "%d suspends and resumes while %d mails went out\n", suspends,
               server.Sent());
  form.SMARTT->stop();
  form.SMTPReportsTimer->stop();
  Check(kit.mailLock.WaitForMailIdle(5s), "the last mail ends");
  RunEventsFor(50ms);
}

// A warning mail still in its exchange, or waiting for its settings, when the window goes.
void WindowGoesWhileMailsRun(AlertSound& sound) {
  WindowTestKit kit(SlowDrives());
  SlowServer server(200ms);
  MainFormContext context = kit.Context();
  context.sound = &sound;
  context.sendReport = server.Function();
  {
    auto form = std::make_unique<TMainForm>(context);
    Check(form->FormCreate() == StartupResult::Running, "the window starts");
    form->AlertCB->setChecked(true);
    form->SMTPForm()->SMTPWarningsCB->setChecked(true);
    form->CheckHDDs();  // a bad pass: sound and warning mail
    Check(WaitFor([&] { return server.InExchange(); }), "the warning mail is in its exchange");
    form->StartMailReport();  // this one waits for its settings
    form.reset();
  }
  Check(kit.mailLock.WaitForMailIdle(5s), "the mail in its exchange ends");
  RunEventsFor(50ms);
  Check(server.Sent() == 1, "the mail without settings is not sent");
  while (QApplication::overrideCursor() != nullptr) QApplication::restoreOverrideCursor();
}

// The sound asked for from several threads at once and going while it plays or is asked for.
void SoundFromManyThreadsAndGoingWhilePlaying() {
  for (int round = 0; round < 20; ++round) {
    auto sound = CreateAlertSound();
    std::vector<std::thread> players;
    for (int t = 0; t < 3; ++t) {
      players.emplace_back([&sound] {
        for (int i = 0; i < 20; ++i) sound->Play();
      });
    }
    for (auto& player : players) player.join();
    if (round % 2 == 1) std::this_thread::sleep_for(1ms);
    sound.reset();  // may be mid-sound: the worker stops and is joined
  }
}

// A sound server of our own (PulseAudio with a null sink on a private socket), when the system has
// one to start, so the sound worker goes through its playing path and not only through "no
// server". Without it the sound stays silent and only that path is run.
class PrivateSoundServer {
 public:
  PrivateSoundServer() {
    const QString program = QStandardPaths::findExecutable("pulseaudio");
    if (program.isEmpty() || !folder_.isValid()) return;
    socket_ = folder_.filePath("native");
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"HOME", "XDG_RUNTIME_DIR", "PULSE_RUNTIME_PATH", "XDG_CONFIG_HOME"}) {
      environment.insert(name, folder_.path());
    }
    server_.setProcessEnvironment(environment);
    // Nothing of the server may outlive this program, not even when the sanitizer ends it: it goes
    // with its parent, or at the latest once it has had no client for a while, and it holds none
    // of the test runner's pipes.
    server_.setStandardOutputFile(QProcess::nullDevice());
    server_.setStandardErrorFile(QProcess::nullDevice());
    server_.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    server_.start(program,
                  {"-n", "--daemonize=no", "--exit-idle-time=10", "--use-pid-file=no",
                   "--disable-shm=yes", "--log-level=error", "-L", "module-null-sink", "-L",
                   "module-native-protocol-unix auth-anonymous=1 socket=" + socket_});
    if (!server_.waitForStarted(5000)) return;
    const auto end = std::chrono::steady_clock::now() + 5s;
    while (!QFileInfo::exists(socket_) && std::chrono::steady_clock::now() < end) {
      std::this_thread::sleep_for(10ms);
    }
    running_ = QFileInfo::exists(socket_);
    if (running_) qputenv("PULSE_SERVER", ("unix:" + socket_).toUtf8());
  }
  ~PrivateSoundServer() {
    qunsetenv("PULSE_SERVER");
    if (server_.state() == QProcess::NotRunning) return;
    server_.terminate();
    if (!server_.waitForFinished(5000)) {
      server_.kill();
      server_.waitForFinished(5000);
    }
  }
  bool Running() const { return running_; }

  // Whether a stream plays on the server now.
  bool Playing() const {
    QProcess pactl;
    pactl.start("pactl", {"-s", "unix:" + socket_, "list", "short", "sink-inputs"});
    if (!pactl.waitForFinished(5000)) return false;
    return !pactl.readAllStandardOutput().trimmed().isEmpty();
  }

 private:
  QTemporaryDir folder_;
  QString socket_;
  QProcess server_;
  bool running_ = false;
};

// With a server: the sound reaches it, and closing the program while it plays ends it without
// playing the run asked for meanwhile (the two would take 5.4 s). The bound is loose: a null sink
// takes a new stream's data in a first block of about 2 s, and a write waits for it.
void SoundPlaysAndStopsMidway(const PrivateSoundServer& server) {
  auto sound = CreateAlertSound();
  sound->Play();
  bool playing = false;
  const auto end = std::chrono::steady_clock::now() + 5s;
  while (!(playing = server.Playing()) && std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(20ms);
  }
  Check(playing, "the sound reaches the server");
  sound->Play();  // asks for one more run while it plays
  const auto start = std::chrono::steady_clock::now();
  sound.reset();
  Check(std::chrono::steady_clock::now() - start < 4s, "closing ends the sound");
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  PrivateSoundServer soundServer;
  std::fprintf(stderr, "sound server: %s\n", soundServer.Running() ? "private PulseAudio" : "none");
  if (soundServer.Running()) SoundPlaysAndStopsMidway(soundServer);
  {
    auto sound = CreateAlertSound();
    SuspendAndResumeWhilePassesAndMailsRun(*sound);
    WindowGoesWhileMailsRun(*sound);
  }
  SoundFromManyThreadsAndGoingWhilePlaying();
  std::fprintf(stderr, "%s\n", failures == 0 ? "PASS" : "FAILED");
  return failures == 0 ? 0 : 1;
}
