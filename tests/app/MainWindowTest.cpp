// The main window under the offscreen platform: components, the two commands in both
// modes, the grid, messages, the file chooser and the settings file.

#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QFocusEvent>
#include <QFontInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QStyledItemDelegate>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSplitter>
#include <QSqlRecord>
#include <QSqlTableModel>
#include <QTableView>
#include <QTimer>

#include "AppTestSupport.h"
#include "app/MainWindow.h"
#include "platform/Exception.h"
#include "platform/FormatSettings.h"
#include "sheet/Engine.h"

using namespace apptest;

namespace {

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

int Occurrences(const std::string& text, const std::string& part) {
  int n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++n;
  }
  return n;
}

class Window : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureApplication();
    sheet::RegisterNativeEngine();
    {
      db::Connection c(SqliteString(dir_.File("dunvik.mdb")));
      c.Open(true);
      db::CreateSchema(c);
    }
    std::filesystem::copy_file(SourcePath("examples/svod.txt"), dir_.File("svod.txt"));
    options_.connectionString = SqliteString(dir_.File("dunvik.mdb"));
    options_.iniPath = dir_.File("tankload.ini");
    options_.programDirectory = dir_.Dir();
    options_.showMessage = [this](const std::string& text) { messages_.push_back(text); };
  }

  std::unique_ptr<TForm1> Open() {
    auto form = std::make_unique<TForm1>(options_);
    form->show();
    QApplication::processEvents();
    return form;
  }
  static std::string Log(const TForm1& form) { return Std(form.Memo1->toPlainText()); }
  static void SaveArtifact(QWidget& widget, const std::string& name) {
    const QString dir = TANKLOAD_ARTIFACTS_DIR;
    QDir().mkpath(dir);
    EXPECT_TRUE(widget.grab().save(dir + "/" + QString::fromStdString(name)));
  }

  TempDir dir_;
  app::WindowOptions options_;
  std::vector<std::string> messages_;
};

TEST_F(Window, StartsWithItsDesignTimeSettings) {
  auto form = Open();
  EXPECT_EQ(form->windowTitle(), "Form1");
  EXPECT_EQ(form->size(), QSize(734, 717));
  for (const char* name : {"Panel_Top", "Panel_Work", "Panel_Bottom", "Splitter1", "DBGrid1",
                           "Bt_FromXls", "CkB_ThroughTtable", "Panel1", "Memo1", "Bt_FromTxt"}) {
    EXPECT_NE(form->findChild<QWidget*>(name), nullptr) << name;
  }
  EXPECT_NE(form->findChild<QFileDialog*>("Dlg_Open"), nullptr);
  EXPECT_EQ(form->Bt_FromXls->text(), "From Excel");
  EXPECT_EQ(form->Bt_FromTxt->text(), "From Text");
  EXPECT_EQ(Std(form->CkB_ThroughTtable->text()), "Вставлять записи через таблицу (пусто - SQL)");
  EXPECT_FALSE(form->CkB_ThroughTtable->isChecked());
  EXPECT_EQ(form->Bt_FromXls->geometry(), QRect(4, 4, 93, 25));
  EXPECT_EQ(form->Bt_FromTxt->geometry(), QRect(100, 4, 75, 25));
  EXPECT_EQ(form->Panel_Top->height(), 37);
  EXPECT_EQ(form->Panel_Bottom->height(), 41);
  EXPECT_EQ(form->Panel1->height(), 252);

  EXPECT_EQ(form->Memo1->toPlainText(), "Memo1");
  EXPECT_TRUE(form->Memo1->isReadOnly());
  EXPECT_EQ(form->Memo1->lineWrapMode(), QPlainTextEdit::NoWrap);
  EXPECT_EQ(form->Memo1->font().pixelSize(), 15);
  EXPECT_TRUE(QFontInfo(form->Memo1->font()).fixedPitch())
      << Std(QFontInfo(form->Memo1->font()).family());

  EXPECT_EQ(form->Bt_FromXls->nextInFocusChain(), form->CkB_ThroughTtable);
  EXPECT_EQ(form->CkB_ThroughTtable->nextInFocusChain(), form->Bt_FromTxt);
  EXPECT_EQ(form->DataSource1->tableName().toLower(), "stability_elements");
  EXPECT_EQ(form->DataSource1->editStrategy(), QSqlTableModel::OnFieldChange);
  EXPECT_EQ(form->LastXlsFile(), dir_.Dir() + "*.xls");
}

TEST_F(Window, FromTextInBothModesLogsAndShowsTheTable) {
  auto form = Open();

  form->Bt_FromTxt->click();
  const std::string first = Log(*form);
  EXPECT_EQ(first.rfind("Delete records: 0\n5 ----", 0), 0u) << first;
  EXPECT_EQ(Occurrences(first, "Добавлено записей: 10\n"), 1) << first;
  EXPECT_EQ(form->DataSource1->tableName().toLower(), "fromexcel");
  EXPECT_EQ(form->DataSource1->rowCount(), 10);
  EXPECT_TRUE(messages_.empty());

  // The check box is read at the click: the table run appends below the log.
  form->CkB_ThroughTtable->setChecked(true);
  form->Bt_FromTxt->click();
  const std::string second = Log(*form);
  EXPECT_EQ(second.rfind(first, 0), 0u);
  EXPECT_EQ(Occurrences(second, "Добавлено записей: 10\n"), 2) << second;
  EXPECT_EQ(form->DataSource1->rowCount(), 20);
  EXPECT_TRUE(form->Bt_FromTxt->isEnabled());
  EXPECT_TRUE(form->Lb_Progress->text().isEmpty());
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  SaveArtifact(*form, "window-after-run.png");

  // Back to SQL statements: a fresh log, the project's rows replaced.
  form->CkB_ThroughTtable->setChecked(false);
  form->Bt_FromTxt->click();
  EXPECT_EQ(Log(*form).rfind("Delete records: 20\n", 0), 0u);
  EXPECT_EQ(form->DataSource1->rowCount(), 10);
}

TEST_F(Window, ReportBlockInTheLogAndItsSummaryInTheBottomBar) {
  WriteFile(dir_.File("svod.txt"), Lines({Line({"Танк"}), DataLine("Н-1", "12,5 м3"),
                                          DataLine("Н-2"), Line({"Итого", "всего", "1"})}));
  auto form = Open();
  ASSERT_NE(form->findChild<QLabel*>("reportSummary"), nullptr);
  EXPECT_EQ(form->reportSummary->parentWidget(), form->Panel_Bottom);

  for (bool throughTable : {false, true}) {
    SCOPED_TRACE(throughTable ? "through the table" : "by SQL");
    form->CkB_ThroughTtable->setChecked(throughTable);
    form->Bt_FromTxt->click();
    const std::string log = Log(*form);
    EXPECT_TRUE(Contains(log,
                         " сек\nОтчёт о чтении файла (строки считаются с 1):\n"
                         "Не преобразовано ячеек: 1\n"
                         "  строка 2, столбец F (Volume): «12,5 м3» -> NULL\n"
                         "Пропущено строк с заполненным столбцом B: 1\n"
                         "  строка 4: «Итого»"))
        << log;
    EXPECT_EQ(Std(form->reportSummary->text()),
              "Отчёт: не преобразовано ячеек: 1; пропущено строк со столбцом B: 1");
    EXPECT_TRUE(messages_.empty());
  }
  SaveArtifact(*form, "window-import-report.png");

  // A clean file: the log ends with the summary and the bottom bar has nothing to say.
  WriteFile(dir_.File("svod.txt"), Lines({Line({"Танк"}), DataLine("Н-1")}));
  form->CkB_ThroughTtable->setChecked(false);
  form->Bt_FromTxt->click();
  const std::string log = Log(*form);
  EXPECT_EQ(log.substr(log.rfind('\n') + 1).rfind("Время выполнения:  ", 0), 0u) << log;
  EXPECT_TRUE(form->reportSummary->text().isEmpty());
}

TEST_F(Window, GridEditsRowsInPlace) {
  auto form = Open();
  form->Bt_FromTxt->click();
  QSqlTableModel& model = *form->DataSource1;
  const int column = model.record().indexOf("Designation");
  ASSERT_GE(column, 0);
  const QModelIndex cell = model.index(0, column);
  const QString before = model.data(cell).toString();
  ASSERT_TRUE(model.setData(cell, "ТТ-1а"));

  db::Connection check(options_.connectionString);
  check.Open();
  EXPECT_EQ(Column(check.Database(), "SELECT Designation FROM FromExcel ORDER BY ID LIMIT 1"),
            std::vector<std::string>{"ТТ-1а"});
  EXPECT_EQ(Std(before), "ТТ-1");
}

TEST_F(Window, GridEditsNumbersByTheRegionalSettings) {
  // The process-wide settings decide, not Qt's locale: the C locale stands for Qt's side
  // throughout, and one case is the C locale with "," set as --decimal-separator sets it.
  const QLocale previousLocale;
  QLocale::setDefault(QLocale::c());
  TFormatSettings commaOption = platform::FormatSettingsFromLocale("C");
  commaOption.DecimalSeparator = ',';
  auto form = Open();
  form->Bt_FromTxt->click();
  QSqlTableModel& model = *form->DataSource1;
  const int idColumn = model.record().indexOf("ID");
  ASSERT_GE(idColumn, 0);
  const std::string id = Std(model.data(model.index(0, idColumn)).toString());
  db::Connection check(options_.connectionString);
  check.Open();
  auto stored = [&](const std::string& column) {
    return Column(check.Database(), "SELECT " + column + " || ' ' || typeof(" + column +
                                        ") FROM FromExcel WHERE ID = " + id)
        .at(0);
  };

  struct Case {
    const char* name;
    TFormatSettings settings;
    const char* column;
    const char* typed;
    const char* stored;   // "value type" in the database afterwards; nullptr: refused
    const char* message;  // the message of a refused text
    const char* shown;    // the cell's text in the grid afterwards
  } cases[] = {
      {"comma: decimal comma", platform::RussianFormatSettings(), "Volume", "50,5", "50.5 real",
       nullptr, "50,5"},
      {"comma: point refused", platform::RussianFormatSettings(), "Volume", "60.5", nullptr,
       "Столбец Volume: «60.5» не является числом (десятичный разделитель «,»)", "50,5"},
      {"comma: letters refused", platform::RussianFormatSettings(), "Volume", "abc", nullptr,
       "Столбец Volume: «abc» не является числом (десятичный разделитель «,»)", "50,5"},
      {"point: decimal point", platform::UsFormatSettings(), "Volume", " 7.25 ", "7.25 real",
       nullptr, "7.25"},
      {"point: comma refused, not read as grouping", platform::UsFormatSettings(), "Volume", "50,5",
       nullptr, "Столбец Volume: «50,5» не является числом (десятичный разделитель «.»)", "7.25"},
      {"C locale: decimal point", platform::FormatSettingsFromLocale("C"), "Fperm", "1.5",
       "1.5 real", nullptr, "1.5"},
      {"C locale: comma refused", platform::FormatSettingsFromLocale("C"), "Fperm", "1,5", nullptr,
       "Столбец Fperm: «1,5» не является числом (десятичный разделитель «.»)", "1.5"},
      {"C locale with a comma separator", commaOption, "Fperm", "2,75", "2.75 real", nullptr,
       "2,75"},
      {"blank is NULL", commaOption, "Fperm", "", "<null>", nullptr, ""},
      {"integer", platform::RussianFormatSettings(), "LPP", "12", "12 integer", nullptr, "12"},
      {"integer: fraction refused", platform::RussianFormatSettings(), "LPP", "12,5", nullptr,
       "Столбец LPP: «12,5» не является целым числом", "12"},
      {"integer: letters refused", platform::UsFormatSettings(), "LPP", "z1", nullptr,
       "Столбец LPP: «z1» не является целым числом", "12"},
      {"large value: exponent without plus sign", platform::UsFormatSettings(), "Volume", "1e20",
       "1.0e+20 real", nullptr, "1E20"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    platform::ScopedFormatSettings settings(c.settings);
    messages_.clear();
    const QModelIndex cell = model.index(0, model.record().indexOf(c.column));
    ASSERT_TRUE(cell.isValid());
    const std::string before = stored(c.column);
    form->DBGrid1->setCurrentIndex(cell);
    form->DBGrid1->edit(cell);
    auto* editor = qobject_cast<QLineEdit*>(form->DBGrid1->indexWidget(cell));
    ASSERT_NE(editor, nullptr);
    editor->setText(QString::fromStdString(c.typed));
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(editor, &enter);
    QApplication::processEvents();

    if (c.stored != nullptr) {
      EXPECT_TRUE(messages_.empty()) << messages_.front();
      EXPECT_EQ(form->DBGrid1->indexWidget(cell), nullptr);  // closed
      EXPECT_EQ(stored(c.column), c.stored);
    } else {
      EXPECT_EQ(messages_, std::vector<std::string>{c.message});
      // The editor stays open with the text as typed; the database is unchanged.
      ASSERT_EQ(form->DBGrid1->indexWidget(cell), editor);
      EXPECT_EQ(Std(editor->text()), c.typed);
      EXPECT_EQ(stored(c.column), before);
      // Committing again tells again; leaving the editor for another widget tells about
      // a new text and keeps the editor open; moving to another cell commits nothing.
      QApplication::sendEvent(editor, &enter);
      EXPECT_EQ(messages_.size(), 2u);
      editor->setText(QString::fromStdString(std::string(c.typed) + "9"));
      QFocusEvent leave(QEvent::FocusOut, Qt::MouseFocusReason);
      QApplication::sendEvent(editor, &leave);
      QApplication::processEvents();
      ASSERT_EQ(messages_.size(), 3u);
      EXPECT_NE(messages_[2].find(std::string(c.typed) + "9"), std::string::npos);
      EXPECT_EQ(form->DBGrid1->indexWidget(cell), editor);
      form->DBGrid1->setCurrentIndex(model.index(1, cell.column()));
      QApplication::processEvents();
      EXPECT_EQ(stored(c.column), before);
      EXPECT_EQ(form->DBGrid1->indexWidget(cell), nullptr);
    }
    EXPECT_EQ(Std(static_cast<QStyledItemDelegate*>(form->DBGrid1->itemDelegate())
                      ->displayText(model.data(cell), QLocale::c())),
              c.shown);
  }
  QLocale::setDefault(previousLocale);
}

TEST_F(Window, GridKeysInsertAndDeleteRows) {
  std::vector<std::string> questions;
  bool agree = false;
  options_.confirm = [&](const std::string& question) {
    questions.push_back(question);
    return agree;
  };
  auto form = Open();
  form->Bt_FromTxt->click();
  QSqlTableModel& model = *form->DataSource1;
  auto press = [&](int key, Qt::KeyboardModifiers modifiers) {
    QKeyEvent event(QEvent::KeyPress, key, modifiers);
    QApplication::sendEvent(form->DBGrid1, &event);
  };
  auto rowsInDatabase = [&] {
    db::Connection check(options_.connectionString);
    check.Open();
    return Count(check.Database(), "SELECT COUNT(*) FROM FromExcel");
  };

  form->DBGrid1->setCurrentIndex(model.index(0, 2));
  press(Qt::Key_Delete, Qt::ControlModifier);  // declined
  EXPECT_EQ(questions, std::vector<std::string>{"Удалить запись?"});
  EXPECT_EQ(rowsInDatabase(), 10);
  agree = true;
  press(Qt::Key_Delete, Qt::ControlModifier);
  EXPECT_EQ(rowsInDatabase(), 9);
  EXPECT_EQ(model.rowCount(), 9);

  press(Qt::Key_Insert, Qt::NoModifier);
  const int column = model.record().indexOf("Designation");
  ASSERT_TRUE(model.setData(model.index(form->DBGrid1->currentIndex().row(), column), "Новая"))
      << Std(model.lastError().text());
  EXPECT_EQ(rowsInDatabase(), 9);  // written when the user leaves the new row
  form->DBGrid1->setCurrentIndex(model.index(5, column));
  EXPECT_TRUE(messages_.empty()) << messages_.front();
  EXPECT_EQ(rowsInDatabase(), 10);
  db::Connection check(options_.connectionString);
  check.Open();
  EXPECT_EQ(Count(check.Database(), "SELECT COUNT(*) FROM FromExcel WHERE Designation = 'Новая'"),
            1);
}

TEST_F(Window, NoSecondCommandDuringARun) {
  std::vector<std::string> lines;
  for (int i = 0; i < 5000; ++i) lines.push_back(DataLine("Р-" + std::to_string(i)));
  WriteFile(dir_.File("svod.txt"), Lines(lines));
  auto form = Open();
  bool fired = false;
  bool enabledDuringRun = true;
  bool runningDuringRun = false;
  bool closedDuringRun = true;
  QString progress;
  QTimer::singleShot(0, form.get(), [&] {
    fired = true;
    enabledDuringRun = form->Bt_FromTxt->isEnabled() || form->Bt_FromXls->isEnabled();
    runningDuringRun = form->RunInProgress();
    progress = form->Lb_Progress->text();
    form->Bt_FromTxt->click();
    form->Bt_FromTxtClick();
    form->close();
    closedDuringRun = !form->isVisible();
  });

  form->Bt_FromTxt->click();

  EXPECT_TRUE(fired);
  EXPECT_FALSE(enabledDuringRun);
  EXPECT_TRUE(runningDuringRun);
  EXPECT_FALSE(closedDuringRun);
  EXPECT_TRUE(progress.startsWith("Обработано строк: ")) << Std(progress);
  EXPECT_TRUE(progress.endsWith(" из 5000")) << Std(progress);
  EXPECT_EQ(Occurrences(Log(*form), "Добавлено записей: 5000"), 1);
  EXPECT_EQ(Occurrences(Log(*form), "Delete records: "), 1);
}

TEST_F(Window, MessagesAndErrorsLeaveTheWindowUsable) {
  auto form = Open();
  std::filesystem::remove(dir_.File("svod.txt"));
  form->Bt_FromTxt->click();
  EXPECT_EQ(messages_,
            std::vector<std::string>{"Не могу найти файл <" + dir_.File("svod.txt") + ">"});
  EXPECT_EQ(form->Memo1->toPlainText(), "Memo1");

  std::filesystem::copy_file(SourcePath("examples/svod.txt"), dir_.File("svod.txt"));
  {
    db::Connection c(options_.connectionString);
    c.Open();
    Exec(c.Database(),
         "CREATE TRIGGER refuse BEFORE INSERT ON FromExcel WHEN "
         "NEW.Designation = 'БЦ-2' BEGIN SELECT RAISE(ABORT, 'refused'); END");
  }
  messages_.clear();
  form->Bt_FromTxt->click();
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_NE(messages_[0].find(app::kRolledBackNote), std::string::npos) << messages_[0];
  EXPECT_TRUE(form->Bt_FromTxt->isEnabled());
  EXPECT_EQ(form->DataSource1->tableName().toLower(), "stability_elements");

  {
    db::Connection c(options_.connectionString);
    c.Open();
    Exec(c.Database(), "DROP TRIGGER refuse");
  }
  messages_.clear();
  form->Bt_FromTxt->click();
  EXPECT_TRUE(messages_.empty());
  EXPECT_EQ(form->DataSource1->rowCount(), 10);
}

TEST_F(Window, SvodThatIsAFifoIsRefusedAtOnce) {
  std::filesystem::remove(dir_.File("svod.txt"));
  ASSERT_EQ(::mkfifo(dir_.File("svod.txt").c_str(), 0600), 0);
  auto form = Open();
  form->Bt_FromTxt->click();  // returns: nothing waits for a writer
  EXPECT_EQ(messages_,
            std::vector<std::string>{"Не могу прочитать файл <" + dir_.File("svod.txt") +
                                     ">: это именованный канал (FIFO), а не обычный файл"});
  EXPECT_EQ(form->Memo1->toPlainText(), "Memo1");
  EXPECT_TRUE(form->Bt_FromTxt->isEnabled());
}

TEST_F(Window, FromExcelUsesTheChooserAndTheSettingsFileKeepsTheChoice) {
  const std::string workbook = dir_.File("Сводки/tanks.xlsx");
  std::filesystem::create_directory(dir_.File("Сводки"));
  std::filesystem::copy_file(SourcePath("examples/tanks.xlsx"), workbook);
  struct Seen {
    std::string directory;
    QStringList selected;
    QStringList filters;
  };
  std::vector<Seen> seen;
  bool choose = false;
  options_.execDialog = [&](QFileDialog& dialog) {
    seen.push_back(
        {Std(dialog.directory().absolutePath()), dialog.selectedFiles(), dialog.nameFilters()});
    if (!choose) return false;
    dialog.selectFile(QString::fromStdString(workbook));
    return true;
  };

  {
    auto form = Open();
    form->Bt_FromXls->click();  // cancelled
    EXPECT_EQ(form->LastXlsFile(), dir_.Dir() + "*.xls");
    EXPECT_EQ(form->Memo1->toPlainText(), "Memo1");
    choose = true;
    form->CkB_ThroughTtable->setChecked(true);
    form->Bt_FromXls->click();
    EXPECT_EQ(form->LastXlsFile(), workbook);
    EXPECT_EQ(Occurrences(Log(*form), "Добавлено записей: 10\n"), 1);
    EXPECT_EQ(form->DataSource1->rowCount(), 10);
  }
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].directory, dir_.Dir().substr(0, dir_.Dir().size() - 1));
  EXPECT_EQ(seen[0].filters, (QStringList{"*.xls *.xlsx *.xlsm *.ods", "Все файлы (*)"}));
  EXPECT_TRUE(messages_.empty());
  EXPECT_NE(ReadFile(options_.iniPath).find("[Saved values]\nLastXlsFile=" + workbook + "\n"),
            std::string::npos)
      << ReadFile(options_.iniPath);

  // The next start offers the workbook's folder and name.
  auto form = Open();
  EXPECT_EQ(form->LastXlsFile(), workbook);
  choose = false;
  form->Bt_FromXls->click();
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[2].directory, dir_.File("Сводки"));
  EXPECT_EQ(seen[2].selected, QStringList{QString::fromStdString(workbook)});
}

TEST_F(Window, UnwritableSettingsFileIsReportedOnce) {
  options_.iniPath = dir_.File("gone/tankload.ini");
  { auto form = Open(); }
  EXPECT_EQ(messages_, std::vector<std::string>{"Unable to write to " + options_.iniPath});
}

// Rows of the grid's table whose Project is `project`, with their LPP values.
std::vector<int> LppOfProject(const TForm1& form, const std::string& project) {
  std::vector<int> lpp;
  for (int row = 0; row < form.DataSource1->rowCount(); ++row) {
    const QSqlRecord record = form.DataSource1->record(row);
    if (Std(record.value("Project").toString()) == project) {
      lpp.push_back(record.value("LPP").toInt());
    }
  }
  return lpp;
}

TEST_F(Window, ProjectAndLppFromTheSettingsFile) {
  {
    // No keys: the layout's constants, shown in the bottom bar and not written back.
    auto form = Open();
    EXPECT_EQ(Std(form->Lb_Project->text()), "Проект: TOrva_1   LPP: 142");
    EXPECT_TRUE(form->Lb_Project->isVisible());
    form->Bt_FromTxt->click();
    EXPECT_EQ(LppOfProject(*form, "TOrva_1"), std::vector<int>(10, 142));
    EXPECT_TRUE(form->Lb_Project->isVisible());
  }
  const std::string written = ReadFile(options_.iniPath);
  EXPECT_EQ(written.find("Project"), std::string::npos) << written;
  EXPECT_EQ(written.find("LPP"), std::string::npos) << written;

  // The keys name another project: its rows are replaced, the first project's stay.
  WriteFile(options_.iniPath, "[Saved values]\nProject= Корабль 7 \nlpp=150\n");
  {
    auto form = Open();
    EXPECT_EQ(form->ProjectValues().project, "Корабль 7");
    EXPECT_EQ(Std(form->Lb_Project->text()), "Проект: Корабль 7   LPP: 150");
    form->Bt_FromTxt->click();
    form->Bt_FromTxt->click();
    EXPECT_EQ(Log(*form).rfind("Delete records: 10\n", 0), 0u) << Log(*form);
    EXPECT_EQ(LppOfProject(*form, "Корабль 7"), std::vector<int>(10, 150));
    EXPECT_EQ(LppOfProject(*form, "TOrva_1"), std::vector<int>(10, 142));
    form->CkB_ThroughTtable->setChecked(true);
    form->Bt_FromTxt->click();
    EXPECT_EQ(LppOfProject(*form, "Корабль 7"), std::vector<int>(20, 150));
    SaveArtifact(*form, "window-project-from-settings.png");
  }
  EXPECT_TRUE(messages_.empty());
  EXPECT_EQ(ReadFile(options_.iniPath).rfind("[Saved values]\nProject= Корабль 7 \nlpp=150\n", 0),
            0u);

  // A value that cannot be used: shown in the bottom bar, and no run starts.
  struct Case {
    const char* name;
    const char* settings;
    const char* problem;
  } cases[] = {
      {"blank project", "Project=\nLPP=150\n", "ключ Project должен задавать имя проекта"},
      {"LPP zero", "LPP=0\n", "ключ LPP должен быть целым числом больше нуля, а не «0»"},
      {"LPP with a fraction", "LPP=142,5\n",
       "ключ LPP должен быть целым числом больше нуля, а не «142,5»"},
      {"LPP in letters", "LPP=много\n", "а не «много»"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    messages_.clear();
    WriteFile(options_.iniPath, std::string("[Saved values]\n") + c.settings);
    auto form = Open();
    EXPECT_NE(Std(form->Lb_Project->text()).find(c.problem), std::string::npos)
        << Std(form->Lb_Project->text());
    for (bool throughTable : {false, true}) {
      form->CkB_ThroughTtable->setChecked(throughTable);
      form->Bt_FromTxt->click();
    }
    ASSERT_EQ(messages_.size(), 2u);
    EXPECT_NE(messages_[0].find(c.problem), std::string::npos) << messages_[0];
    EXPECT_EQ(messages_[0].find(options_.iniPath), messages_[0].find('<') + 1) << messages_[0];
    EXPECT_EQ(form->Memo1->toPlainText(), "Memo1");
    EXPECT_EQ(form->DataSource1->tableName().toLower(), "stability_elements");
  }
}

TEST_F(Window, StartUpFailsWithoutTheDatabase) {
  options_.connectionString = SqliteString(dir_.File("none.mdb"));
  EXPECT_THROW(TForm1 form(options_), Exception);
  EXPECT_FALSE(std::filesystem::exists(dir_.File("none.mdb")));
}

}  // namespace
