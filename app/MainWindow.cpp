#include "app/MainWindow.h"

#include <algorithm>
#include <functional>
#include <new>

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QCursor>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFont>
#include <QFontDatabase>
#include <QFrame>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSplitter>
#include <QSqlError>
#include <QSqlTableModel>
#include <QTableView>
#include <QVBoxLayout>

#include "app/FileChooser.h"
#include "app/GridDelegate.h"
#include "app/ImportLayout.h"
#include "convert/Smallfun.h"
#include "db/Database.h"
#include "platform/DateTime.h"
#include "platform/Exception.h"

TForm1* Form1 = nullptr;

namespace {

constexpr const char* kSettingsSection = "Saved values";
constexpr const char* kSettingsKey = "LastXlsFile";
constexpr const char* kProjectKey = "Project";
constexpr const char* kLppKey = "LPP";

QString Q(const std::string& s) { return QString::fromStdString(s); }
std::string Std(const QString& s) { return s.toUtf8().toStdString(); }

// A font of the family at a pixel height, or the fallback at that height when the family
// is not installed.
QFont FontOrFallback(const char* family, int pixels, QFont fallback) {
  QFont font = QFontDatabase::hasFamily(family) ? QFont(family) : fallback;
  font.setPixelSize(pixels);
  return font;
}

QFrame* Panel(const char* name, QWidget* parent) {
  auto* panel = new QFrame(parent);
  panel->setObjectName(name);
  panel->setFrameShape(QFrame::StyledPanel);
  panel->setFrameShadow(QFrame::Raised);
  return panel;
}

}  // namespace

// Messages of the spreadsheet bridge reach the user through the window.
class TForm1::MessageRelay : public platform::MessageSink {
 public:
  explicit MessageRelay(TForm1& form) : form_(form) {}
  void ShowMessage(const std::string& text) override { form_.ShowMessage(text); }

 private:
  TForm1& form_;
};

TForm1::TForm1(app::WindowOptions options, QWidget* parent)
    : QMainWindow(parent), options_(std::move(options)), sincePump_(new QElapsedTimer) {
  BuildComponents();

  // The database, as the window's design-time settings connect it.
  const std::string connectionString = options_.connectionString.empty()
                                           ? std::string(db::DesignTimeConnectionString)
                                           : options_.connectionString;
  ADOConnection1 = std::make_unique<db::Connection>(connectionString);
  ADOConnection1->Open();
  ADOQuery1 = std::make_unique<db::Query>(*ADOConnection1);
  ADOQuery1->SetSQL("Select * From Stability_Elements");
  ADOTable1 = std::make_unique<db::Table>(*ADOConnection1);
  DataSource1 = new QSqlTableModel(this, ADOConnection1->Database());
  DataSource1->setObjectName("DataSource1");
  DataSource1->setEditStrategy(QSqlTableModel::OnFieldChange);
  DBGrid1->setModel(DataSource1);
  DBGrid1->setItemDelegate(
      new app::GridDelegate([this](const std::string& text) { ShowMessage(text); }, DBGrid1));
  // A new row is written when the user leaves it (edits of stored rows go at once).
  connect(DBGrid1->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this](const QModelIndex&, const QModelIndex& previous) {
            if (!previous.isValid() || !DataSource1->isDirty()) return;
            if (!DataSource1->submitAll()) ShowError(Std(DataSource1->lastError().text()));
          });
  ADOTable1->SetControlsListener([this](bool) { RefreshGrid(); });
  ADOTable1->SetTableName("Stability_Elements");
  ADOTable1->Open();
  RefreshGrid();

  DefaultDataBaseTypeName = "ACCESS";

  programDirectory_ = options_.programDirectory;
  if (programDirectory_.empty()) {
    programDirectory_ = QCoreApplication::applicationDirPath().toStdString();
  }
  if (programDirectory_.back() != '/') programDirectory_ += '/';
  const std::string iniPath =
      options_.iniPath.empty()
          ? app::IniPathForExecutable(QCoreApplication::applicationFilePath().toStdString())
          : options_.iniPath;
  FIniFile = std::make_unique<TIniFile>(iniPath);
  FLastXlsFile = programDirectory_ + "*.xls";
  FLastXlsFile = FIniFile->ReadString(kSettingsSection, kSettingsKey, FLastXlsFile);
  // Absent keys leave the layout's constants and are not written back.
  if (FIniFile->ValueExists(kSettingsSection, kProjectKey) &&
      !app::ReadProjectName(FIniFile->ReadString(kSettingsSection, kProjectKey, ""),
                            projectValues_.project)) {
    settingsProblem_ = "Файл настроек <" + iniPath +
                       ">: ключ Project должен задавать имя проекта (непустое, без табуляций)";
  }
  if (FIniFile->ValueExists(kSettingsSection, kLppKey)) {
    const std::string lpp = FIniFile->ReadString(kSettingsSection, kLppKey, "");
    if (!app::ReadLpp(lpp, projectValues_.lpp) && settingsProblem_.empty()) {
      settingsProblem_ = "Файл настроек <" + iniPath +
                         ">: ключ LPP должен быть целым числом больше нуля, а не «" + lpp + "»";
    }
  }
  Lb_Project->setText(settingsProblem_.empty()
                          ? QString("Проект: %1   LPP: %2")
                                .arg(Q(projectValues_.project), QString::number(projectValues_.lpp))
                          : Q(settingsProblem_));

  relay_ = std::make_unique<MessageRelay>(*this);
  previousSink_ = platform::SetMessageSink(relay_.get());
  Screen->SetCursorListener([this](TCursor cursor) {
    const bool wait = cursor == crHourGlass;
    if (wait == waitCursorShown_) return;
    waitCursorShown_ = wait;
    if (wait) {
      QApplication::setOverrideCursor(Qt::WaitCursor);
    } else {
      QApplication::restoreOverrideCursor();
    }
  });
  if (Form1 == nullptr) Form1 = this;
  DBGrid1->setFocus();
}

TForm1::~TForm1() {
  try {
    FIniFile->WriteString(kSettingsSection, kSettingsKey, FLastXlsFile);
  } catch (const std::exception& e) {
    // Reported once; the window still closes.
    if (options_.showMessage) {
      options_.showMessage(e.what());
    } else {
      QMessageBox::warning(nullptr, QCoreApplication::applicationName(), Q(e.what()));
    }
  }
  Screen->SetCursorListener(nullptr);
  if (waitCursorShown_) QApplication::restoreOverrideCursor();
  platform::SetMessageSink(previousSink_);
  if (Form1 == this) Form1 = nullptr;
  // The grid's model reads through the connection: release it first.
  if (ADOTable1) ADOTable1->SetControlsListener(nullptr);
  DBGrid1->setModel(nullptr);
  delete DataSource1;
  DataSource1 = nullptr;
  ADOTable1.reset();
  ADOQuery1.reset();
  ADOConnection1.reset();
}

void TForm1::BuildComponents() {
  setObjectName("Form1");
  setWindowTitle("Form1");
  setGeometry(314, 116, 734, 717);
  setFont(FontOrFallback("MS Sans Serif", 13, QApplication::font()));

  auto* client = new QWidget(this);
  auto* column = new QVBoxLayout(client);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  setCentralWidget(client);

  Panel_Top = Panel("Panel_Top", client);
  Panel_Top->setFixedHeight(37);
  Bt_FromXls = new QPushButton("From Excel", Panel_Top);
  Bt_FromXls->setObjectName("Bt_FromXls");
  Bt_FromXls->setGeometry(4, 4, 93, 25);
  Bt_FromTxt = new QPushButton("From Text", Panel_Top);
  Bt_FromTxt->setObjectName("Bt_FromTxt");
  Bt_FromTxt->setGeometry(100, 4, 75, 25);
  CkB_ThroughTtable = new QCheckBox("Вставлять записи через таблицу (пусто - SQL)", Panel_Top);
  CkB_ThroughTtable->setObjectName("CkB_ThroughTtable");
  CkB_ThroughTtable->setGeometry(180, 4, 461, 24);
  CkB_ThroughTtable->setChecked(false);

  Panel_Work = Panel("Panel_Work", client);
  Panel_Work->setFrameShape(QFrame::NoFrame);
  auto* work = new QVBoxLayout(Panel_Work);
  work->setContentsMargins(0, 0, 0, 0);
  Splitter1 = new QSplitter(Qt::Vertical, Panel_Work);
  Splitter1->setObjectName("Splitter1");
  Splitter1->setHandleWidth(3);
  Splitter1->setChildrenCollapsible(false);
  work->addWidget(Splitter1);

  Panel1 = Panel("Panel1", Splitter1);
  auto* logArea = new QVBoxLayout(Panel1);
  logArea->setContentsMargins(0, 0, 0, 0);
  Memo1 = new QPlainTextEdit(Panel1);
  Memo1->setObjectName("Memo1");
  Memo1->setReadOnly(true);
  Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
  Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo1->setFont(
      FontOrFallback("Courier New", 15, QFontDatabase::systemFont(QFontDatabase::FixedFont)));
  Memo1->setPlainText("Memo1");
  logArea->addWidget(Memo1);

  DBGrid1 = new QTableView(Splitter1);
  DBGrid1->setObjectName("DBGrid1");
  DBGrid1->setSelectionMode(QAbstractItemView::ExtendedSelection);
  DBGrid1->setSelectionBehavior(QAbstractItemView::SelectItems);
  DBGrid1->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                           QAbstractItemView::AnyKeyPressed);
  DBGrid1->setTabKeyNavigation(true);
  DBGrid1->installEventFilter(this);
  DBGrid1->horizontalHeader()->setFont(FontOrFallback("MS Sans Serif", 13, QApplication::font()));
  Splitter1->addWidget(Panel1);
  Splitter1->addWidget(DBGrid1);
  Splitter1->setStretchFactor(0, 0);
  Splitter1->setStretchFactor(1, 1);
  Splitter1->setSizes({252, 717 - 37 - 41 - 252 - 3});
  Splitter1->handle(1)->setCursor(Qt::SplitVCursor);

  Panel_Bottom = Panel("Panel_Bottom", client);
  Panel_Bottom->setFixedHeight(41);
  Lb_Progress = new QLabel(Panel_Bottom);
  Lb_Progress->setObjectName("Lb_Progress");
  Lb_Progress->setGeometry(8, 8, 500, 25);
  reportSummary = new QLabel(Panel_Bottom);
  reportSummary->setObjectName("reportSummary");
  // Where the progress shows during a run: the summary is empty then, the progress after.
  reportSummary->setGeometry(276, 8, 450, 25);
  Lb_Project = new QLabel(Panel_Bottom);
  Lb_Project->setObjectName("Lb_Project");
  Lb_Project->setGeometry(8, 8, 260, 25);

  column->addWidget(Panel_Top);
  column->addWidget(Panel_Work, 1);
  column->addWidget(Panel_Bottom);

  Dlg_Open = new QFileDialog(this);
  Dlg_Open->setObjectName("Dlg_Open");
  Dlg_Open->setFileMode(QFileDialog::ExistingFile);
  Dlg_Open->setAcceptMode(QFileDialog::AcceptOpen);
  Dlg_Open->setNameFilters({"*.txt", "Все файлы (*)"});

  QWidget::setTabOrder(Bt_FromXls, CkB_ThroughTtable);
  QWidget::setTabOrder(CkB_ThroughTtable, Bt_FromTxt);
  QWidget::setTabOrder(Bt_FromTxt, Memo1);
  QWidget::setTabOrder(Memo1, DBGrid1);

  connect(Bt_FromXls, &QPushButton::clicked, this, &TForm1::Bt_FromXlsClick);
  connect(Bt_FromTxt, &QPushButton::clicked, this, &TForm1::Bt_FromTxtClick);
}

void TForm1::Bt_FromXlsClick() {
  RunCommand([this] {
    if (CkB_ThroughTtable->isChecked()) {
      ImportThroughTable(false);
    } else {
      ImportBySQL(false);
    }
  });
}

void TForm1::Bt_FromTxtClick() {
  RunCommand([this] {
    if (CkB_ThroughTtable->isChecked()) {
      ImportThroughTable(true);
    } else {
      ImportBySQL(true);
    }
  });
}

void TForm1::RunCommand(const std::function<void()>& command) {
  if (running_) return;
  running_ = true;
  Lb_Project->hide();
  Bt_FromXls->setEnabled(false);
  Bt_FromTxt->setEnabled(false);
  CkB_ThroughTtable->setEnabled(false);
  sincePump_->start();
  try {
    command();
  } catch (const std::bad_alloc&) {
    // The runs name the file they were reading; this is what happens outside them.
    ShowError("Недостаточно памяти");
  } catch (const std::exception& e) {
    ShowError(e.what());
  }
  // Input that arrived during the run reaches disabled commands and is dropped.
  QCoreApplication::processEvents();
  Lb_Progress->clear();
  Bt_FromXls->setEnabled(true);
  Bt_FromTxt->setEnabled(true);
  CkB_ThroughTtable->setEnabled(true);
  Lb_Project->show();
  running_ = false;
}

app::ImportTarget TForm1::Target() {
  return {*ADOConnection1, *ADOQuery1, *ADOTable1, FFileLines,
          FLastXlsFile,    {},         {},         projectValues_};
}

void TForm1::ImportBySQL(bool FromText) { RunImport(app::ImportBySQL, FromText); }

void TForm1::ImportThroughTable(bool FromText) { RunImport(app::ImportThroughTable, FromText); }

void TForm1::RunImport(app::RunEnd (*run)(app::ImportHost&, app::ImportTarget&, bool),
                       bool fromText) {
  if (!settingsProblem_.empty()) {
    ShowMessage(settingsProblem_);
    return;
  }
  app::ImportTarget target = Target();
  target.report = &report_;
  reportSummary->clear();
  if (run(*this, target, fromText) == app::RunEnd::Completed) ShowReportSummary();
}

void TForm1::ShowReportSummary() {
  const std::string summary = report_.Summary();
  reportSummary->setText(Q(summary));
  reportSummary->setToolTip(Q(summary));
}

void TForm1::PrepareImportRecord(TZnFFSRecord* record) {
  app::PrepareImportRecord(record, Now(), projectValues_);
}

bool TForm1::SelectFile(std::string& path, const std::string& filter) {
  const app::ChooserStart start = app::SplitChooserPath(path);
  Dlg_Open->setDirectory(Q(start.directory));
  QStringList filters;
  for (const std::string& f : app::DialogFilters(filter + "|Все файлы|*.*")) filters << Q(f);
  Dlg_Open->setNameFilters(filters);
  Dlg_Open->selectFile(Q(start.fileName));
  const bool accepted =
      options_.execDialog ? options_.execDialog(*Dlg_Open) : Dlg_Open->exec() == QDialog::Accepted;
  if (!accepted) return false;
  const QStringList chosen = Dlg_Open->selectedFiles();
  if (chosen.isEmpty()) return false;
  path = chosen.first().toStdString();
  return true;
}

void TForm1::ClearLog() { Memo1->clear(); }

void TForm1::Log(const std::string& text) { Memo1->appendPlainText(Q(text)); }

void TForm1::ShowMessage(const std::string& text) {
  if (options_.showMessage) {
    options_.showMessage(text);
    return;
  }
  QMessageBox box(QMessageBox::NoIcon, QCoreApplication::applicationName(), Q(text),
                  QMessageBox::Ok, this);
  box.exec();
}

void TForm1::ShowError(const std::string& text) {
  if (options_.showMessage) {
    options_.showMessage(text);
    return;
  }
  QMessageBox::critical(this, QCoreApplication::applicationName(), Q(text));
}

void TForm1::Progress(int done, int total) {
  Lb_Progress->setText(
      QString("Обработано строк: %1 из %2").arg(QString::number(done), QString::number(total)));
  // Repaint now and then; user input waits until the run returns.
  if (done >= total || sincePump_->elapsed() >= 100) {
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    sincePump_->restart();
  }
}

std::string TForm1::ProgramDirectory() const { return programDirectory_; }

TDateTime TForm1::Now() { return options_.clock ? options_.clock() : platform::Now(); }

void TForm1::RefreshGrid() {
  if (DataSource1 == nullptr || !ADOTable1) return;
  if (!ADOTable1->Active()) {
    DataSource1->clear();
    return;
  }
  if (ADOTable1->ControlsDisabled()) return;
  DataSource1->setTable(Q(ADOTable1->TableName()));
  DataSource1->select();
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
  if (watched == DBGrid1 && event->type() == QEvent::KeyPress && !running_) {
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Insert && key->modifiers() == Qt::NoModifier) {
      InsertGridRow();
      return true;
    }
    if (key->key() == Qt::Key_Delete && key->modifiers() == Qt::ControlModifier) {
      DeleteGridRows();
      return true;
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

void TForm1::InsertGridRow() {
  if (DataSource1 == nullptr || DataSource1->tableName().isEmpty()) return;
  const QModelIndex current = DBGrid1->currentIndex();
  const int row = current.isValid() ? current.row() : 0;
  if (!DataSource1->insertRow(row)) {
    ShowError(Std(DataSource1->lastError().text()));
    return;
  }
  DBGrid1->setCurrentIndex(DataSource1->index(row, current.isValid() ? current.column() : 0));
}

void TForm1::DeleteGridRows() {
  if (DataSource1 == nullptr) return;
  QList<int> rows;
  for (const QModelIndex& index : DBGrid1->selectionModel()->selectedIndexes()) {
    if (!rows.contains(index.row())) rows << index.row();
  }
  if (rows.isEmpty() && DBGrid1->currentIndex().isValid()) rows << DBGrid1->currentIndex().row();
  if (rows.isEmpty()) return;
  const std::string question = rows.size() == 1 ? "Удалить запись?" : "Удалить выбранные записи?";
  const bool agreed = options_.confirm
                          ? options_.confirm(question)
                          : QMessageBox::question(this, QCoreApplication::applicationName(),
                                                  Q(question)) == QMessageBox::Yes;
  if (!agreed) return;
  std::sort(rows.begin(), rows.end(), std::greater<int>());
  for (int row : rows) {
    if (!DataSource1->removeRow(row)) {
      ShowError(Std(DataSource1->lastError().text()));
      break;
    }
  }
  DataSource1->select();
}

void TForm1::closeEvent(QCloseEvent* event) {
  if (running_) {
    event->ignore();
    return;
  }
  QMainWindow::closeEvent(event);
}
