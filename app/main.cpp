// The program's entry: without a command it opens the window; with one it runs on the
// command line (see app/CommandLine.h).

#include <unistd.h>

#include <iostream>
#include <memory>

#include <QApplication>
#include <QCoreApplication>
#include <QMessageBox>

#include "app/CommandLine.h"
#include "app/MainWindow.h"
#include "platform/FormatSettings.h"
#include "sheet/Engine.h"

int main(int argc, char* argv[]) {
  QStringList arguments;
  for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
  const app::Command command = app::ParseCommandLine(arguments);

  FormatSettings = platform::FormatSettingsFromLocale("");
  sheet::RegisterNativeEngine();

  if (command.kind != app::Command::Kind::Window) {
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName("tankload");
    app::CommandEnvironment environment;
    environment.programDirectory = QCoreApplication::applicationDirPath().toStdString() + "/";
    environment.progressOnTerminal = isatty(STDERR_FILENO) != 0;
    return app::RunCommand(command, environment, std::cout, std::cerr);
  }

  QApplication application(argc, argv);
  QApplication::setApplicationName("tankload");
  if (command.decimalSeparator) FormatSettings.DecimalSeparator = *command.decimalSeparator;
  std::unique_ptr<TForm1> window;
  try {
    app::WindowOptions options;
    options.connectionString = command.connectionString;
    window = std::make_unique<TForm1>(options);
  } catch (const std::exception& e) {
    QMessageBox::critical(nullptr, QApplication::applicationName(),
                          QString::fromStdString(e.what()));
    return 1;
  }
  window->show();
  return QApplication::exec();
}
