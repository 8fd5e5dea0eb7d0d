#include "app/GridDelegate.h"

#include <charconv>
#include <cstdint>

#include <QEvent>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QSqlField>
#include <QSqlRecord>
#include <QSqlTableModel>

#include "platform/FormatSettings.h"
#include "platform/NumberFormat.h"
#include "platform/Text.h"

namespace app {
namespace {

// Properties of a numeric editor: its kind, the column's name, and the last text the user
// was told about.
constexpr const char* kKindProperty = "tankloadNumberKind";
constexpr const char* kColumnProperty = "tankloadColumn";
constexpr const char* kReportedProperty = "tankloadReported";

std::string Std(const QString& s) { return s.toUtf8().toStdString(); }

NumberKind ColumnKind(const QModelIndex& index, std::string* name = nullptr) {
  const auto* model = qobject_cast<const QSqlTableModel*>(index.model());
  if (model == nullptr) return NumberKind::None;
  const QSqlField field = model->record().field(index.column());
  if (name != nullptr) *name = Std(field.name());
  return NumberKindOf(field.metaType());
}

bool TryStrToInt64(const std::string& text, std::int64_t& value) {
  const char* first = text.data();
  const char* last = text.data() + text.size();
  if (first != last && *first == '+') {
    ++first;
    if (first == last || *first == '-') return false;
  }
  const auto [end, error] = std::from_chars(first, last, value);
  return error == std::errc() && end == last;
}

}  // namespace

NumberKind NumberKindOf(QMetaType type) {
  switch (type.id()) {
    case QMetaType::Double:
    case QMetaType::Float:
      return NumberKind::Real;
    case QMetaType::Int:
    case QMetaType::Short:
    case QMetaType::SChar:
      return NumberKind::Integer;
    case QMetaType::LongLong:
    case QMetaType::UInt:
      return NumberKind::BigInteger;
    default:
      return NumberKind::None;
  }
}

std::optional<QVariant> ParseCellNumber(NumberKind kind, const std::string& text) {
  const std::string trimmed = platform::Trim(text);
  if (trimmed.empty()) return QVariant();
  switch (kind) {
    case NumberKind::Real: {
      double v = 0;
      if (!platform::TryStrToFloat(trimmed, v, FormatSettings)) return std::nullopt;
      return QVariant(v);
    }
    case NumberKind::Integer: {
      std::int32_t v = 0;
      if (!platform::TryStrToInt(trimmed, v)) return std::nullopt;
      return QVariant(v);
    }
    case NumberKind::BigInteger: {
      std::int64_t v = 0;
      if (!TryStrToInt64(trimmed, v)) return std::nullopt;
      return QVariant(static_cast<qlonglong>(v));
    }
    case NumberKind::None:
      break;
  }
  return QVariant(QString::fromStdString(text));
}

std::string NotANumberMessage(NumberKind kind, const std::string& column, const std::string& text) {
  if (kind == NumberKind::Real) {
    return "Столбец " + column + ": «" + text + "» не является числом (десятичный разделитель «" +
           std::string(1, FormatSettings.DecimalSeparator) + "»)";
  }
  return "Столбец " + column + ": «" + text + "» не является целым числом";
}

GridDelegate::GridDelegate(std::function<void(const std::string&)> showMessage, QObject* parent)
    : QStyledItemDelegate(parent), showMessage_(std::move(showMessage)) {}

QString GridDelegate::displayText(const QVariant& value, const QLocale& locale) const {
  if (value.isNull()) return {};  // not "0": NULL is no number
  switch (value.typeId()) {
    case QMetaType::Double:
    case QMetaType::Float:
      return QString::fromStdString(platform::FloatToStr(value.toDouble()));
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::Short:
    case QMetaType::SChar:
      // No grouping: the text reads back as it is shown.
      return QString::number(value.toLongLong());
    default:
      return QStyledItemDelegate::displayText(value, locale);
  }
}

QWidget* GridDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                                    const QModelIndex& index) const {
  std::string column;
  const NumberKind kind = ColumnKind(index, &column);
  if (kind == NumberKind::None) return QStyledItemDelegate::createEditor(parent, option, index);
  auto* editor = new QLineEdit(parent);
  editor->setFrame(false);
  editor->setProperty(kKindProperty, static_cast<int>(kind));
  editor->setProperty(kColumnProperty, QString::fromStdString(column));
  return editor;
}

void GridDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const {
  auto* line = qobject_cast<QLineEdit*>(editor);
  if (line == nullptr || !editor->property(kKindProperty).isValid()) {
    QStyledItemDelegate::setEditorData(editor, index);
    return;
  }
  const QVariant value = index.data(Qt::EditRole);
  line->setText(value.isNull() ? QString() : displayText(value, QLocale()));
}

void GridDelegate::setModelData(QWidget* editor, QAbstractItemModel* model,
                                const QModelIndex& index) const {
  auto* line = qobject_cast<QLineEdit*>(editor);
  if (line == nullptr || !editor->property(kKindProperty).isValid()) {
    QStyledItemDelegate::setModelData(editor, model, index);
    return;
  }
  const auto kind = static_cast<NumberKind>(editor->property(kKindProperty).toInt());
  const std::optional<QVariant> value = ParseCellNumber(kind, Std(line->text()));
  if (!value) {
    // The view commits on its own when the current cell changes; the text is refused
    // there too, and told about unless the user has just been told.
    Check(editor, false);
    return;
  }
  const QVariant old = index.data(Qt::EditRole);
  // Leaving a cell unchanged writes nothing.
  if (old.isNull() == value->isNull() && (value->isNull() || old == *value)) return;
  model->setData(index, *value, Qt::EditRole);
}

bool GridDelegate::Check(QWidget* editor, bool repeatMessage) const {
  auto* line = qobject_cast<QLineEdit*>(editor);
  if (line == nullptr || !editor->property(kKindProperty).isValid()) return true;
  const auto kind = static_cast<NumberKind>(editor->property(kKindProperty).toInt());
  const QString text = line->text();
  if (ParseCellNumber(kind, Std(text))) return true;
  if (!repeatMessage && editor->property(kReportedProperty).toString() == text) return false;
  editor->setProperty(kReportedProperty, text);
  if (showMessage_ && !reporting_) {
    reporting_ = true;
    showMessage_(
        NotANumberMessage(kind, Std(editor->property(kColumnProperty).toString()), Std(text)));
    reporting_ = false;
  }
  return false;
}

bool GridDelegate::eventFilter(QObject* object, QEvent* event) {
  auto* editor = qobject_cast<QWidget*>(object);
  if (editor != nullptr && editor->property(kKindProperty).isValid()) {
    if (event->type() == QEvent::KeyPress) {
      switch (static_cast<QKeyEvent*>(event)->key()) {
        case Qt::Key_Enter:
        case Qt::Key_Return:
        case Qt::Key_Tab:
        case Qt::Key_Backtab:
          if (!Check(editor, true)) return true;  // the editor stays open
          break;
        default:
          break;
      }
    } else if (event->type() == QEvent::FocusOut) {
      // The message box itself takes the focus, and so does another window: the editor
      // stays as it is meanwhile.
      const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
      if (reporting_ || reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason)
        return true;
      if (!Check(editor, false)) {
        editor->setFocus();
        return true;
      }
    }
  }
  return QStyledItemDelegate::eventFilter(object, event);
}

}  // namespace app
