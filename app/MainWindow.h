#pragma once
// The main window: two import commands and the mode check box on the top bar, the log
// pane above the data grid, a bottom bar that shows the progress of a run. The runs
// themselves live in app/ImportRuns; the window is one of their hosts.

#include <functional>
#include <memory>
#include <string>

#include <QMainWindow>

#include "app/ImportRuns.h"
#include "platform/IniFile.h"
#include "platform/StringList.h"
#include "platform/Ui.h"

class QCheckBox;
class TZnFFSRecord;
class QElapsedTimer;
class QFileDialog;
class QFrame;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QSplitter;
class QSqlTableModel;
class QTableView;

namespace db {
class Connection;
class Query;
class Table;
}  // namespace db

namespace app {

// Where the window finds its database, settings and sample file, and how it talks to
// the user; the defaults serve the program, tests replace them.
struct WindowOptions {
  std::string connectionString;  // empty: the design-time connection string
  std::string iniPath;           // empty: the executable's path with ".ini"
  std::string programDirectory;  // empty: the executable's directory; with a trailing "/"
  // Empty: a modal message box.
  std::function<void(const std::string& text)> showMessage;
  // Empty: a modal question with Yes and No. True when the user agrees.
  std::function<bool(const std::string& question)> confirm;
  // Empty: Dlg_Open runs modally. Otherwise called with the prepared dialog; returns true
  // when a file was chosen (the dialog's selected file).
  std::function<bool(QFileDialog& dialog)> execDialog;
  // Empty: the local date and time.
  std::function<TDateTime()> clock;
};

}  // namespace app

class TForm1 : public QMainWindow, private app::ImportHost {
  Q_OBJECT

 public:
  // Connects to the database and shows "Stability_Elements"; raises when the database
  // cannot be opened.
  explicit TForm1(app::WindowOptions options = {}, QWidget* parent = nullptr);
  // Writes the last workbook path to the settings file.
  ~TForm1() override;

  QFrame* Panel_Top = nullptr;
  QFrame* Panel_Work = nullptr;
  QFrame* Panel_Bottom = nullptr;
  QFileDialog* Dlg_Open = nullptr;
  QSplitter* Splitter1 = nullptr;
  QTableView* DBGrid1 = nullptr;
  QSqlTableModel* DataSource1 = nullptr;
  std::unique_ptr<db::Connection> ADOConnection1;
  std::unique_ptr<db::Query> ADOQuery1;
  std::unique_ptr<db::Table> ADOTable1;
  QPushButton* Bt_FromXls = nullptr;
  QCheckBox* CkB_ThroughTtable = nullptr;
  QFrame* Panel1 = nullptr;
  QPlainTextEdit* Memo1 = nullptr;
  QPushButton* Bt_FromTxt = nullptr;
  QLabel* Lb_Progress = nullptr;  // on Panel_Bottom
  // On Panel_Bottom: one line on what the last completed run found in its file (cells
  // not converted, lines skipped ...); empty after a clean file.
  QLabel* reportSummary = nullptr;
  QLabel* Lb_Project = nullptr;  // on Panel_Bottom: the project and LPP, while idle

  const std::string& LastXlsFile() const { return FLastXlsFile; }
  const std::string& IniFileName() const { return FIniFile->FileName(); }
  bool RunInProgress() const { return running_; }
  // The project and LPP of the runs: the keys "Project" and "LPP" of the settings file
  // when present, else the layout's constants.
  const app::ProjectValues& ProjectValues() const { return projectValues_; }

 public slots:
  void Bt_FromXlsClick();
  void Bt_FromTxtClick();

 private:
  void ImportBySQL(bool FromText);
  void ImportThroughTable(bool FromText);
  // The bottom bar's line on the report of the run just completed.
  void ShowReportSummary();
  void PrepareImportRecord(TZnFFSRecord* record);
  bool SelectFile(std::string& path, const std::string& filter) override;

  // ImportHost
  void ClearLog() override;
  void Log(const std::string& text) override;
  void ShowMessage(const std::string& text) override;
  void Progress(int done, int total) override;
  std::string ProgramDirectory() const override;
  TDateTime Now() override;

  void BuildComponents();
  // Runs a command with the commands disabled; an error becomes a message box.
  void RunCommand(const std::function<void()>& command);
  void ShowError(const std::string& text);
  void RefreshGrid();
  bool eventFilter(QObject* watched, QEvent* event) override;
  // The window stays open until a run has returned.
  void closeEvent(QCloseEvent* event) override;
  // Grid keys: Insert begins a new row, Ctrl+Delete deletes the selected rows after a
  // question.
  void InsertGridRow();
  void DeleteGridRows();
  app::ImportTarget Target();
  // Either run on the window's components, with the report shown afterwards; refused
  // while the settings hold a bad project or LPP.
  void RunImport(app::RunEnd (*run)(app::ImportHost&, app::ImportTarget&, bool), bool fromText);

  class MessageRelay;

  app::WindowOptions options_;
  std::unique_ptr<TIniFile> FIniFile;
  TStringList FFileLines;
  std::string FLastXlsFile;
  std::string programDirectory_;
  std::unique_ptr<MessageRelay> relay_;
  platform::MessageSink* previousSink_ = nullptr;
  std::unique_ptr<QElapsedTimer> sincePump_;
  app::ProjectValues projectValues_;
  // Why the settings' project or LPP cannot be used; the runs refuse to start then.
  std::string settingsProblem_;
  bool running_ = false;
  bool waitCursorShown_ = false;
  app::ImportReport report_;  // of the last run; its block is in the log
};

// The one window of the program, while it exists.
extern TForm1* Form1;
