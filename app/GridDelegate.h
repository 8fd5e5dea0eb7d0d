#pragma once
// The grid's cells of numeric columns: shown and edited by the process-wide regional
// settings (the decimal separator of the locale or of --decimal-separator), never by
// Qt's own locale. A text that is no number of the column's kind is refused with a
// message naming the column, and the editor stays open with the text as typed; nothing
// is stored by guesswork.

#include <functional>
#include <optional>
#include <string>

#include <QStyledItemDelegate>
#include <QVariant>

namespace app {

enum class NumberKind { None, Integer, BigInteger, Real };

// The kind of a database column's values, by the type the driver reports.
NumberKind NumberKindOf(QMetaType type);

// The value of a text typed into a cell of `kind`: a blank text is NULL; no value when
// the text is no number of that kind under the process-wide regional settings.
std::optional<QVariant> ParseCellNumber(NumberKind kind, const std::string& text);

// The message for a text refused in the column `column` of `kind`.
std::string NotANumberMessage(NumberKind kind, const std::string& column, const std::string& text);

class GridDelegate : public QStyledItemDelegate {
  Q_OBJECT

 public:
  // `showMessage` tells the user why a text was refused (the window's message box).
  GridDelegate(std::function<void(const std::string&)> showMessage, QObject* parent);

  QString displayText(const QVariant& value, const QLocale& locale) const override;
  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                        const QModelIndex& index) const override;
  void setEditorData(QWidget* editor, const QModelIndex& index) const override;
  void setModelData(QWidget* editor, QAbstractItemModel* model,
                    const QModelIndex& index) const override;

 protected:
  // Enter, Tab and leaving the editor commit only a text that reads as a number.
  bool eventFilter(QObject* object, QEvent* event) override;

 private:
  // True when the editor's text is acceptable; otherwise tells the user once per text.
  bool Check(QWidget* editor, bool repeatMessage) const;

  std::function<void(const std::string&)> showMessage_;
  mutable bool reporting_ = false;
};

}  // namespace app
