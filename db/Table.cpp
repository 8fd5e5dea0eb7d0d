// The table dataset: the columns of one table (read from the catalog), a row buffer for
// insertion, and the states of the dataset; the rows go to the connection's back end as
// prepared INSERT statements.

#include <map>
#include <utility>
#include <vector>

#include "db/Backend.h"
#include "db/Catalog.h"
#include "db/Database.h"
#include "db/Field.h"
#include "db/Internal.h"

namespace db {

using detail::Field;

// Names whose answers FindField keeps; the import asks for a few dozen.
constexpr std::size_t kFoundLimit = 256;

struct Table::Impl final : detail::StatementHolder {
  std::string tableName;
  std::string target;  // the table as the INSERT statements name it
  TDataSetState state = dsInactive;
  std::vector<std::unique_ptr<Field>> fields;
  // The prepared INSERTs by the set of columns written.
  std::map<std::vector<bool>, std::unique_ptr<detail::InsertStatement>> inserts;
  // The columns and values of the row being posted, and the statement that wrote the
  // last row (rows of an import mostly set the same columns).
  std::vector<bool> mask;
  std::vector<const detail::BoundValue*> row;
  const std::vector<bool>* lastMask = nullptr;
  detail::InsertStatement* lastInsert = nullptr;
  // FindField's answers by the name as asked: the index of the column, or the number
  // of columns when the table has none of that name; and where to look first.
  std::vector<std::pair<std::string, std::size_t>> found;
  std::size_t nextFound = 0;
  int disableCount = 0;
  std::function<void(bool)> listener;

  explicit Impl(Connection::Impl& c) { detail::Register(*this, c); }
  ~Impl() {
    // Statements go before their connection does.
    DropStatements();
    detail::Unregister(*this);
  }
  Impl(const Impl&) = delete;
  Impl& operator=(const Impl&) = delete;
  void DropStatements() override {
    lastMask = nullptr;
    lastInsert = nullptr;
    inserts.clear();
  }

  void Notify(bool enabled) const {
    if (listener) listener(enabled);
  }
  void ClearRow() {
    for (auto& f : fields) f->Clear();
  }
  // The INSERT statement for the columns of `mask`, prepared on first use.
  detail::InsertStatement& Insert(Connection::Impl& c) {
    if (lastMask != nullptr && *lastMask == mask) return *lastInsert;
    auto it = inserts.find(mask);
    if (it == inserts.end()) {
      std::vector<const std::string*> columns;
      for (std::size_t i = 0; i < fields.size(); ++i) {
        if (mask[i]) columns.push_back(&fields[i]->Name());
      }
      auto statement = c.backend->PrepareInsert(detail::InsertSql(c, target, columns),
                                                "table \"" + tableName + "\": ");
      it = inserts.emplace(mask, std::move(statement)).first;
    }
    lastMask = &it->first;
    lastInsert = it->second.get();
    return *lastInsert;
  }
};

Table::Table(Connection& connection) : impl_(std::make_unique<Impl>(*connection.impl_)) {}

Table::~Table() = default;

void Table::SetTableName(const std::string& name) { impl_->tableName = name; }

const std::string& Table::TableName() const { return impl_->tableName; }

bool Table::Active() const { return impl_->state != dsInactive; }

void Table::Open() {
  Impl& t = *impl_;
  if (t.state != dsInactive) return;
  Connection::Impl& connection = detail::ConnectionOf(t);
  detail::OpenDatabase(connection);
  if (t.tableName.empty()) detail::Fail(connection, "no table name is given");
  t.fields.clear();
  t.found.clear();
  t.DropStatements();
  detail::TableShape shape = detail::ReadTableShape(connection, t.tableName);
  t.target = std::move(shape.target);
  for (const detail::Column& c : shape.columns) {
    t.fields.push_back(std::make_unique<Field>(t.state, t.tableName, c.name, c.kind, c.intBits,
                                               c.readOnly, c.computed));
  }
  t.state = dsBrowse;
  if (t.disableCount == 0) t.Notify(true);
}

void Table::Close() {
  Impl& t = *impl_;
  if (t.state == dsInactive) return;
  t.state = dsInactive;  // a row being inserted is discarded
  t.DropStatements();
  t.fields.clear();
  t.found.clear();
  if (t.disableCount == 0) t.Notify(true);
}

TDataSetState Table::State() const { return impl_->state; }

void Table::Insert() {
  Impl& t = *impl_;
  if (t.state == dsInactive) {
    throw EDatabaseError(t.tableName + ": Cannot perform this operation on a closed dataset");
  }
  if (t.state == dsInsert || t.state == dsEdit) {
    // The row in hand is written when it holds values, else dropped, before a new one.
    bool any = false;
    for (const auto& f : t.fields) any = any || f->Assigned();
    if (any) {
      Post();
    } else {
      Cancel();
    }
  }
  t.ClearRow();
  t.state = dsInsert;
}

TField* Table::FindField(const std::string& name) {
  Impl& t = *impl_;
  // The record asks for its columns in the same order for every row it stores: answers
  // are kept in the order asked, and the next question is most likely the next one.
  auto answer = [&](std::size_t k) -> TField* {
    t.nextFound = k + 1;
    const std::size_t index = t.found[k].second;
    return index < t.fields.size() ? t.fields[index].get() : nullptr;
  };
  const std::size_t kept = t.found.size();
  for (std::size_t n = 0; n < kept; ++n) {
    const std::size_t k = (t.nextFound + n) % kept;
    if (t.found[k].first == name) return answer(k);
  }
  const std::string wanted = detail::FoldName(name);
  std::size_t index = 0;
  while (index < t.fields.size() && t.fields[index]->FoldedName() != wanted) ++index;
  if (kept < kFoundLimit) {
    t.found.emplace_back(name, index);
    return answer(kept);
  }
  return index < t.fields.size() ? t.fields[index].get() : nullptr;
}

void Table::Post() {
  Impl& t = *impl_;
  if (t.state != dsInsert && t.state != dsEdit) {
    throw EDatabaseError(t.tableName + ": Dataset not in edit or insert mode");
  }
  Connection::Impl& connection = detail::ConnectionOf(t);
  detail::OpenDatabase(connection);
  t.mask.resize(t.fields.size());
  t.row.clear();
  for (std::size_t i = 0; i < t.fields.size(); ++i) {
    t.mask[i] = t.fields[i]->Assigned();
    if (t.mask[i]) t.row.push_back(&t.fields[i]->Bound());
  }
  // A refused row stays in insert state for the caller to correct or cancel.
  t.Insert(connection).Run(t.row);
  t.ClearRow();
  t.state = dsBrowse;
}

void Table::Cancel() {
  Impl& t = *impl_;
  if (t.state != dsInsert && t.state != dsEdit) return;
  t.ClearRow();
  t.state = dsBrowse;
}

void Table::DisableControls() {
  Impl& t = *impl_;
  if (t.disableCount++ == 0) t.Notify(false);
}

void Table::EnableControls() {
  Impl& t = *impl_;
  if (t.disableCount > 0) --t.disableCount;
  if (t.disableCount == 0) t.Notify(true);
}

bool Table::ControlsDisabled() const { return impl_->disableCount > 0; }

void Table::SetControlsListener(std::function<void(bool enabled)> listener) {
  impl_->listener = std::move(listener);
}

}  // namespace db
