// A started main window over the kit's drives whose mails go to a recording sender; at its end the
// test waits for every mail worker the window started.
#pragma once

#include <QApplication>
#include <QtTest/QtTest>
#include <functional>
#include <memory>

#include "app/MailTestKit.h"
#include "ui/WindowTestKit.h"

namespace dv::testing {

struct MailingWindow {
  // `adjust` changes the context before the window is made (the kit is ready by then).
  using Adjust = std::function<void(MainFormContext&, const WindowTestKit&)>;

  MailingWindow(std::unique_ptr<SimulatedDriveSystem> drives, const QByteArray& settings,
                const Adjust& adjust = {})
      : kit(std::move(drives)) {
    kit.WriteSettings(settings);
    MainFormContext context = kit.Context();
    context.sendReport = sender.Function();
    context.composeReport = composer.Function();
    if (adjust) adjust(context, kit);
    form = std::make_unique<TMainForm>(std::move(context));
    kit.startup = form->FormCreate();
    form->CreateMBRForm();
    sender.DropToken();
  }
  ~MailingWindow() {
    form.reset();
    QTRY_VERIFY(!sender.Alive());
    while (QApplication::overrideCursor() != nullptr) QApplication::restoreOverrideCursor();
  }

  RecordingSender sender;
  RecordingComposer composer;
  WindowTestKit kit;
  std::unique_ptr<TMainForm> form;
};

}  // namespace dv::testing
